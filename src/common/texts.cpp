#include "common/texts.h"

#include <cstdio>
#include <ctime>

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
    char buffer[256];
    if (t.hour > 12)
        std::snprintf(buffer, sizeof buffer, "%02d/%02d/%d  %02d:%02d PM", t.month, t.day, t.year, t.hour - 12, t.minute);
    else
        std::snprintf(buffer, sizeof buffer, "%02d/%02d/%d  %02d:%02d AM", t.month, t.day, t.year, t.hour, t.minute);
    return buffer;
}

CalendarTime localCalendarTime(std::int64_t unixSeconds) {
    const std::time_t seconds = static_cast<std::time_t>(unixSeconds);
    std::tm parts{};
    if (localtime_r(&seconds, &parts) == nullptr) return {};
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
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
