#include "fs/fat/fat_names.h"

#include <ctime>

#include "common/utf16.h"

namespace halvard {

namespace {

// Windows-1252 at 0x80..0x9F; the rest of the upper half is Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

char32_t fromCodePage(std::uint8_t b) {
    if (b >= 0x80 && b < 0xA0) return kCp1252High[b - 0x80];
    return b;
}

// The characters of `bytes[from, to)`, trailing blanks removed, lower-cased (ASCII) when asked.
std::u32string namePart(Bytes slot, std::size_t from, std::size_t to, bool lower) {
    std::u32string out;
    for (std::size_t i = from; i < to; ++i) {
        std::uint8_t b = u8(slot, i);
        char32_t c;
        if (i == 0 && b == 0xE5)
            c = 0xFFE5;  // the deletion mark, sign-extended as the list always showed it
        else if (i == 0 && b == 0x05)
            c = fromCodePage(0xE5);
        else
            c = fromCodePage(b);
        if (lower && c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
        out += c;
    }
    while (!out.empty() && (out.back() == U' ' || out.back() == U'\t')) out.pop_back();
    return out;
}

}  // namespace

std::string shortName(Bytes slot) {
    const std::uint8_t caseBits = u8(slot, 12);
    std::u32string name = namePart(slot, 0, 8, caseBits & 0x08);
    const std::u32string extension = namePart(slot, 8, 11, caseBits & 0x10);
    if (!extension.empty()) name += U'.' + extension;
    while (!name.empty() && name.back() == U'.') name.pop_back();
    std::string out;
    for (char32_t c : name) appendUtf8(out, c);
    return out;
}

std::uint8_t shortNameChecksum(Bytes slot) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + u8(slot, i));
    return sum;
}

void appendLongNamePart(Bytes slot, std::vector<std::uint16_t>& units) {
    static constexpr std::uint8_t kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (std::uint8_t at : kOffsets) {
        const std::uint16_t unit = le16(slot, at);
        if (unit == 0) return;
        units.push_back(unit);
    }
}

std::optional<CalendarTime> dosCalendarTime(std::uint16_t date, std::uint16_t time, unsigned extraSeconds) {
    if (date == 0) return std::nullopt;
    CalendarTime t;
    t.year = (date >> 9) + 1980;
    t.month = (date >> 5) & 0x0F;
    t.day = date & 0x1F;
    t.hour = time >> 11;
    t.minute = (time >> 5) & 0x3F;
    t.second = static_cast<int>((time & 0x1F) * 2 + extraSeconds);
    return t;
}

std::int64_t hostSecondsFromLocal(const CalendarTime& t) {
    std::tm parts = tmFromCalendar(t);
    return static_cast<std::int64_t>(std::mktime(&parts));
}

std::int64_t exfatHostSeconds(const CalendarTime& t, std::uint8_t utcOffset) {
    if ((utcOffset & 0x80) == 0) return hostSecondsFromLocal(t);
    std::tm parts = tmFromCalendar(t);
    parts.tm_isdst = 0;
    const auto quarters = static_cast<std::int8_t>(static_cast<std::uint8_t>(utcOffset << 1)) / 2;
    return static_cast<std::int64_t>(timegm(&parts)) - static_cast<std::int64_t>(quarters) * 15 * 60;
}

std::string fatAttributeText(std::uint8_t attributes) {
    return attributeText(attributes, {{0x01, "-R"}, {0x02, "-H"}, {0x04, "-S"}, {0x20, "-A"}});
}

}  // namespace halvard
