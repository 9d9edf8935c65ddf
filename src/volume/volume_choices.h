#pragma once
// What the user can do to the scanner's list: pick a volume, override its start, end and file-system type,
// add a hand-made one, filter the list. Shared by the volume list page and the command line.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "volume/volume_record.h"

namespace halvard {

// The "Treat file system as:" entries, in their sorted order.
const std::vector<std::string>& treatAsChoices();

// The file-system text a choice gives a record (compared without regard to case): NTFS -> "ntfs",
// FAT16 -> "fat16", FAT32 -> "fat32", FAT64 -> "fat64", EXTX -> "extX", HFS+ -> "HFS+", RAW -> "RAW".
// EXFAT is taken as FAT64. nullopt for anything else.
std::optional<std::string> treatAsFileSystem(std::string_view choice);

// The first choice whose text begins with the record's file-system text (what a click on a list item selects).
std::optional<std::string> choiceForFileSystem(std::string_view fileSystem);

// The end sector shown for a record: its last sector (start + sectors - 1), or 0 when its size is 0.
std::int64_t endSectorOf(const VolumeRecord& record);

// Custom settings: start sector, end sector (the size becomes end - start + 1 sectors when end > start, else 0)
// and, when given, the file system to treat the volume as.
void applyCustomSettings(VolumeRecord& record, std::int64_t start, std::int64_t end,
                         const std::optional<std::string>& treatAs);

// A hand-made entry: "CUSTOM ", numbered after the existing records, size 0, start 0.
VolumeRecord customVolumeEntry(std::size_t recordCount);

// The indexes of the records that start one sector after the record before them (a volume found twice, its
// boot sector and the sector behind it), last first, as "Filter Entries" lists them.
std::vector<std::size_t> filterEntries(const std::vector<VolumeRecord>& records);

// True when the volume's type cannot be parsed ("unknown" in any case).
bool isUnknownVolume(const VolumeRecord& record);

// Parses a hand-made volume given as "custom:FS:START:SIZE_MB" (FS one of the choices above, START in sectors).
// On failure returns nullopt and sets `error`.
std::optional<VolumeRecord> parseCustomVolume(std::string_view text, std::string& error);

}  // namespace halvard
