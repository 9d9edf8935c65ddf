#pragma once
// One volume of the virtual disk as the scanner lists it and every later page takes it.
#include <cstdint>
#include <optional>
#include <string>

#include "image/device.h"

namespace halvard {

struct VolumeRecord {
    std::string fileSystem;  // "NTFS", "FAT12", "FAT16", "FAT32", "FAT64" (exFAT), "extX", "HFS+", "Unknown", a GPT name...
    std::string label;       // second text; the scanner leaves it empty
    std::string volumeName;  // running number as text
    std::string sizeText;    // size in whole MiB for display, possibly with a unit suffix ("1024   MB")
    std::int64_t startSector = 0;  // in 512-byte sectors from the start of the virtual disk
    // The size in 512-byte sectors; 0 when only the size text is known (a volume given in MiB by hand).
    std::uint64_t sectorCount = 0;
    // What the scanner changed about the volume as it found it (cut at the disk's end); empty when nothing.
    std::string note{};
    // What the volume is read through (volumeDevice); offsets on it count from the volume's start.
    DevicePtr device{};
};

// The device a volume of `disk` is read through: the disk from the volume's start to the disk's end. The engines
// bound their reads by their own geometry, and read on past the volume's size where the file system says it goes
// on (a damaged table may give it too small). Holds nothing for a start outside the disk; none without a disk.
DevicePtr volumeDevice(const DevicePtr& disk, const VolumeRecord& record);
// The record with its device on `disk`.
VolumeRecord onDevice(VolumeRecord record, const DevicePtr& disk);

// The note of a volume that runs past the end of a disk of `diskSectors`, cut from `sectors` to what is left.
std::string cutAtDiskEndNote(std::uint64_t sectors, std::uint64_t diskSectors, std::int64_t startSector);

// The number at the start of the size text (MiB); 0 when there is none.
std::int64_t sizeMiB(const VolumeRecord& record);

// The volume's size in 512-byte sectors: the sector count, else the size text's MiB.
std::uint64_t volumeSectors(const VolumeRecord& record);

// The volume's size as the engines take it, in bytes; all ones for a size no disk has.
std::uint64_t volumeSizeBytes(const VolumeRecord& record);

// Where the volume begins, in bytes from the start of the virtual disk; none for a negative start sector or one
// whose byte offset does not fit a signed 64-bit offset (a hand-made start can be any number).
std::optional<std::int64_t> volumeStartOffset(const VolumeRecord& record);

// The size for the command line's lists, one form for every volume: "%lld   MB" of the whole MiB (the record's own
// size text keeps the form its scan gives it, which differs by file system and table).
std::string volumeSizeText(const VolumeRecord& record);

// The whole MiB of a count of 512-byte sectors, for the size texts.
inline long long wholeMiB(std::uint64_t sectors) { return static_cast<long long>(sectors / 2048); }

}  // namespace halvard
