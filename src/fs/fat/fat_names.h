#pragma once
// Names, times and attribute letters of FAT and exFAT directory entries.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "common/texts.h"

namespace halvard {

// The name of a 32-byte short (8.3) directory slot: base, a dot and the extension when there is one, padding
// removed. The case bits of byte 12 (0x08 base, 0x10 extension in lower case) are honoured. The first byte of a
// deleted slot (0xE5) shows as U+FFE5, and 0x05 stands for a real 0xE5; other bytes above 0x7F are read in the
// Windows-1252 code page.
std::string shortName(Bytes slot);

// The checksum of a short slot's 11 name bytes, which each long-name slot of the same entry repeats at 13.
std::uint8_t shortNameChecksum(Bytes slot);

// Appends the 13 UTF-16 units of a long-name slot up to its first zero unit.
void appendLongNamePart(Bytes slot, std::vector<std::uint16_t>& units);

// A DOS date and time as a calendar time (`extraSeconds` adds the creation tenths or exFAT's 10 ms units);
// nullopt for a zero date, which means the time was never recorded.
std::optional<CalendarTime> dosCalendarTime(std::uint16_t date, std::uint16_t time, unsigned extraSeconds = 0);

// Seconds since 1970 of a calendar time read as the host's local time.
std::int64_t hostSecondsFromLocal(const CalendarTime& t);

// exFAT keeps the writer's offset from UTC beside each time stamp: bit 7 says it is valid, the low 7 bits are a
// signed count of 15 minutes. Seconds since 1970 of a stamp's time, through that offset when it is valid, else as
// the host's local time.
std::int64_t exfatHostSeconds(const CalendarTime& t, std::uint8_t utcOffset);

// "-R", "-H", "-S", "-A" for the attribute bits 0x01, 0x02, 0x04, 0x20, in that order.
std::string fatAttributeText(std::uint8_t attributes);

}  // namespace halvard
