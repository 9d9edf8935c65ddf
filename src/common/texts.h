#pragma once
// The texts every list shows: size text, time text, attribute text.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace halvard {

// "%.2f GB" / "%.2f MB" / "%.2f KB" by the largest unit whose quotient is at least 1, else "%lld Bytes".
std::string sizeText(std::int64_t bytes);

// A broken-down calendar time as the engines produce it (already in the zone they show).
struct CalendarTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "MM/DD/YYYY  hh:mm AM" or "... PM" on the 12-hour clock: 12:xx AM after midnight, 12:xx PM after noon.
std::string timeText(const CalendarTime& t);

// "MM/DD/YYYY " (with the trailing blank): the date alone, where an engine keeps no time of day.
std::string dateText(const CalendarTime& t);

// Calendar time of a Unix time (seconds since 1970, UTC) in the host's local zone.
CalendarTime localCalendarTime(std::int64_t unixSeconds);

// The C library's broken-down time of a calendar time (daylight saving left for mktime to decide).
std::tm tmFromCalendar(const CalendarTime& t);

// The Unix time of a calendar time in the host's local zone (what localCalendarTime gives back); nullopt when the
// calendar time is none.
std::optional<std::int64_t> localUnixSeconds(const CalendarTime& t);

// ISO-8601 text ("2024-05-01T13:05:00") for JSON output.
std::string isoText(const CalendarTime& t);

// One attribute bit and the short code shown when it is set ("-R", "-H", ...).
struct AttributeCode {
    std::uint64_t bit;
    const char* code;
};

// Concatenates the codes of the set bits, in table order.
std::string attributeText(std::uint64_t flags, const std::vector<AttributeCode>& table);

// A name from an image as a line of text may show it: control characters as "\xNN", so that a hostile name
// cannot move a terminal's cursor, change its colours or break a line in two.
std::string printableName(const std::string& name);

}  // namespace halvard
