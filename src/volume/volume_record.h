#pragma once
// One volume of the virtual disk as the scanner lists it and every later page takes it.
#include <cstdint>
#include <string>

namespace halvard {

struct VolumeRecord {
    std::string fileSystem;  // "NTFS", "FAT12", "FAT16", "FAT32", "FAT64" (exFAT), "extX", "HFS+", "Unknown", a GPT name...
    std::string label;       // second text; the scanner leaves it empty
    std::string volumeName;  // running number as text
    std::string sizeText;    // size in MiB, possibly with a unit suffix ("1024   MB")
    std::int64_t startSector = 0;  // in 512-byte sectors from the start of the virtual disk
};

// The number at the start of the size text (MiB); 0 when there is none.
std::int64_t sizeMiB(const VolumeRecord& record);

// The volume's size as the engines take it: the leading number of the size text x 1048576.
std::uint64_t volumeSizeBytes(const VolumeRecord& record);

}  // namespace halvard
