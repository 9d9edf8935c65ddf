#pragma once
// The first sector of a FAT12/16/32 volume (BIOS parameter block) and of an exFAT volume, read into the one
// geometry every engine of the family works with.
#include <cstdint>

#include "common/bytes.h"

namespace halvard {

// Where a FAT-family volume keeps its parts, in bytes from the volume's start.
struct FatGeometry {
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint64_t clusterSize = 0;
    std::uint64_t fatStart = 0;
    std::uint64_t fatBytes = 0;      // one FAT
    std::uint64_t rootStart = 0;     // FAT12/16: the fixed root directory region
    std::uint64_t rootBytes = 0;
    std::uint64_t dataStart = 0;     // cluster 2 (exFAT: the cluster heap)
    std::uint32_t clusterLimit = 0;  // first cluster number behind the volume's last cluster
    std::uint32_t rootCluster = 0;   // FAT32 and exFAT: first cluster of the root directory
    unsigned fatBits = 0;            // 12, 16 or 32

    bool validCluster(std::uint64_t c) const { return c >= 2 && c < clusterLimit; }
    std::uint64_t clusterOffset(std::uint32_t c) const { return dataStart + (static_cast<std::uint64_t>(c) - 2) * clusterSize; }
};

// FAT12/16/32 boot sector fields (little-endian offsets in the volume's first sector).
struct FatBootSector {
    bool oemMsdos = false;  // "MSDOS" at 3
    bool oemBsd = false;    // "BSD" at 3
    bool plausibleBpb = false;
    std::uint16_t bytesPerSector = 0;    // 11
    std::uint8_t sectorsPerCluster = 0;  // 13
    std::uint16_t reservedSectors = 0;   // 14
    std::uint8_t fatCount = 0;           // 16
    std::uint16_t rootEntries = 0;       // 17
    std::uint16_t totalSectors16 = 0;    // 19
    std::uint16_t fatSize16 = 0;         // 22: 0 on FAT32
    std::uint32_t totalSectors32 = 0;    // 32
    std::uint32_t fatSize32 = 0;         // 36
    std::uint32_t rootCluster = 0;       // 44 (FAT32)

    static FatBootSector read(Bytes sector);

    // Sector and cluster sizes a volume can have; without them no offset can be computed.
    bool usableGeometry() const;
    // The geometry; `volumeSize` stands in for the sector count when that is 0, and `fat12Hint` decides the
    // entry width when the cluster count cannot be known.
    FatGeometry geometry(std::uint64_t volumeSize, bool fat12Hint) const;
};

// exFAT boot sector fields.
struct ExfatBootSector {
    bool nameExfat = false;           // "EXFAT" at 3
    std::uint32_t fatOffset = 0;      // 80, sectors
    std::uint32_t fatLength = 0;      // 84, sectors
    std::uint32_t heapOffset = 0;     // 88, sectors
    std::uint32_t clusterCount = 0;   // 92
    std::uint32_t rootCluster = 0;    // 96
    std::uint8_t bytesPerSectorShift = 0;     // 108
    std::uint8_t sectorsPerClusterShift = 0;  // 109

    static ExfatBootSector read(Bytes sector);
    bool usableGeometry() const;
    FatGeometry geometry(std::uint64_t volumeSize) const;
};

}  // namespace halvard
