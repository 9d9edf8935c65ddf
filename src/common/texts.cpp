#include "common/texts.h"

#include <array>
#include <charconv>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <limits>
#include <optional>

namespace halvard {

std::string sizeText(std::int64_t bytes) {
    char buffer[64];
    const double value = static_cast<double>(bytes);
    if (value / 1073741824.0 >= 1.0)
        std::snprintf(buffer, sizeof buffer, "%.2f GB", value / 1073741824.0);
    else if (value / 1048576.0 >= 1.0)
        std::snprintf(buffer, sizeof buffer, "%.2f MB", value / 1048576.0);
    else if (value / 1024.0 >= 1.0)
        std::snprintf(buffer, sizeof buffer, "%.2f KB", value / 1024.0);
    else
        std::snprintf(buffer, sizeof buffer, "%lld Bytes", static_cast<long long>(bytes));
    return buffer;
}

std::string timeText(const CalendarTime& t) {
    // "MM/DD/YYYY  hh:mm AM" as people read the 12-hour clock: 12:xx AM at midnight, 12:xx PM at noon. Written by
    // hand: listings make one per entry.
    char buffer[48];
    char* p = buffer;
    auto two = [&p](int value) {
        if (value < 0 || value > 99) {
            p = std::to_chars(p, p + 12, value).ptr;
            return;
        }
        *p++ = static_cast<char>('0' + value / 10);
        *p++ = static_cast<char>('0' + value % 10);
    };
    two(t.month);
    *p++ = '/';
    two(t.day);
    *p++ = '/';
    p = std::to_chars(p, p + 12, t.year).ptr;
    *p++ = ' ';
    *p++ = ' ';
    const bool afternoon = t.hour >= 12 && t.hour < 24;
    const bool onTheClock = t.hour >= 0 && t.hour < 24;  // a damaged hour is shown as it is stored
    two(onTheClock ? (t.hour % 12 == 0 ? 12 : t.hour % 12) : t.hour);
    *p++ = ':';
    two(t.minute);
    std::memcpy(p, afternoon ? " PM" : " AM", 3);
    return std::string(buffer, p + 3);
}

namespace {

std::optional<CalendarTime> convertLocal(std::int64_t unixSeconds) {
    const std::time_t seconds = static_cast<std::time_t>(unixSeconds);
    std::tm parts{};
    if (localtime_r(&seconds, &parts) == nullptr) return std::nullopt;
    return CalendarTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

}  // namespace

std::tm tmFromCalendar(const CalendarTime& t) {
    std::tm parts{};
    parts.tm_year = t.year - 1900;
    parts.tm_mon = t.month - 1;
    parts.tm_mday = t.day;
    parts.tm_hour = t.hour;
    parts.tm_min = t.minute;
    parts.tm_sec = t.second;
    parts.tm_isdst = -1;
    return parts;
}

std::optional<std::int64_t> localUnixSeconds(const CalendarTime& t) {
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) return std::nullopt;
    std::tm parts = tmFromCalendar(t);
    const std::time_t seconds = std::mktime(&parts);
    if (seconds == static_cast<std::time_t>(-1) && !(t.year == 1969 || t.year == 1970)) return std::nullopt;
    return static_cast<std::int64_t>(seconds);
}

namespace {

// Listings convert three times per entry, and the files of a volume tend to share their hours. The zone's rules
// are consulted once per quarter of an hour (a zone's offset only ever changes by whole quarters, at the start of
// one): the local time of the quarter's start is kept, with whether the offset is the same at its end.
struct QuarterHour {
    std::int64_t start = std::numeric_limits<std::int64_t>::min();
    bool uniform = false;
    CalendarTime local;
};

}  // namespace

CalendarTime localCalendarTime(std::int64_t unixSeconds) {
    constexpr std::int64_t kQuarter = 900;
    thread_local std::array<QuarterHour, 64> cache;
    if (unixSeconds < std::numeric_limits<std::int64_t>::min() / 2 || unixSeconds > std::numeric_limits<std::int64_t>::max() / 2)
        return convertLocal(unixSeconds).value_or(CalendarTime{});
    const std::int64_t start = unixSeconds - ((unixSeconds % kQuarter) + kQuarter) % kQuarter;
    QuarterHour& q = cache[static_cast<std::uint64_t>(start / kQuarter) % cache.size()];
    if (q.start != start) {
        q.start = start;
        const auto first = convertLocal(start), last = convertLocal(start + kQuarter - 1);
        q.uniform = first && last && first->second == 0 && last->second == 59 && first->day == last->day &&
                    first->hour == last->hour && first->minute + kQuarter / 60 - 1 == last->minute;
        if (first) q.local = *first;
    }
    const int into = static_cast<int>(unixSeconds - start);
    // Uniform: the quarter starts at a whole local minute and lies within one local hour, under one offset.
    if (!q.uniform) return convertLocal(unixSeconds).value_or(CalendarTime{});
    CalendarTime t = q.local;
    t.minute += into / 60;
    t.second = into % 60;
    return t;
}

std::string dateText(const CalendarTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%d ", t.month, t.day, t.year);
    return buffer;
}

std::string isoText(const CalendarTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}

std::string attributeText(std::uint64_t flags, const std::vector<AttributeCode>& table) {
    std::string text;
    for (const AttributeCode& entry : table)
        if (flags & entry.bit) text += entry.code;
    return text;
}

std::string printableName(const std::string& name) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) {
        if (c >= 0x20 && c != 0x7F)
            out += static_cast<char>(c);
        else
            out += {'\\', 'x', hex[c >> 4], hex[c & 15]};
    }
    return out;
}

}  // namespace halvard
