#include "fs/fat/fat_boot_sector.h"

#include <algorithm>
#include <bit>

#include "volume/boot_sector.h"

namespace halvard {

namespace {

// Volumes with fewer clusters than this are FAT12: the count, not the partition type, decides the entry width.
constexpr std::uint64_t kFat12MaxClusters = 4085;
// FAT32 keeps 28 bits of a cluster number; 0x0FFFFFF7 and above are marks.
constexpr std::uint64_t kFat32MaxLimit = 0x0FFFFFF7;
constexpr std::uint64_t kExfatMaxLimit = 0xFFFFFFF7;

std::uint32_t clampLimit(std::uint64_t limit, std::uint64_t ceiling) {
    return static_cast<std::uint32_t>(std::min(limit, ceiling));
}

}  // namespace

FatBootSector FatBootSector::read(Bytes s) {
    FatBootSector b;
    b.oemMsdos = hasSignature(s, 3, "MSDOS");
    b.oemBsd = hasSignature(s, 3, "BSD");
    b.plausibleBpb = isPlausibleFatBpb(s);
    b.bytesPerSector = le16(s, 11);
    b.sectorsPerCluster = u8(s, 13);
    b.reservedSectors = le16(s, 14);
    b.fatCount = u8(s, 16);
    b.rootEntries = le16(s, 17);
    b.totalSectors16 = le16(s, 19);
    b.fatSize16 = le16(s, 22);
    b.totalSectors32 = le32(s, 32);
    b.fatSize32 = le32(s, 36);
    b.rootCluster = le32(s, 44);
    return b;
}

bool FatBootSector::usableGeometry() const {
    return bytesPerSector >= 512 && bytesPerSector <= 4096 && std::has_single_bit(bytesPerSector) &&
           std::has_single_bit(sectorsPerCluster) && fatCount >= 1 && (fatSize16 != 0 || fatSize32 != 0);
}

FatGeometry FatBootSector::geometry(std::uint64_t volumeSize, bool fat12Hint) const {
    FatGeometry g;
    if (!usableGeometry()) return g;
    const std::uint64_t bps = bytesPerSector;
    const std::uint64_t fatSectors = fatSize16 != 0 ? fatSize16 : fatSize32;
    g.bytesPerSector = bytesPerSector;
    g.sectorsPerCluster = sectorsPerCluster;
    g.clusterSize = bps * sectorsPerCluster;
    g.fatStart = reservedSectors * bps;
    g.fatBytes = fatSectors * bps;
    g.rootStart = (reservedSectors + static_cast<std::uint64_t>(fatCount) * fatSectors) * bps;
    // The fixed root region takes whole sectors.
    g.rootBytes = fatSize16 != 0 ? (static_cast<std::uint64_t>(rootEntries) * 32 + bps - 1) / bps * bps : 0;
    g.dataStart = g.rootStart + g.rootBytes;
    g.rootCluster = fatSize16 != 0 ? 0 : rootCluster;

    const std::uint64_t totalSectors = totalSectors16 != 0 ? totalSectors16 : totalSectors32;
    std::uint64_t volumeBytes = totalSectors * bps;
    const bool countKnown = volumeBytes > g.dataStart;
    if (!countKnown) volumeBytes = volumeSize;
    const std::uint64_t clusters = volumeBytes > g.dataStart ? (volumeBytes - g.dataStart) / g.clusterSize : 0;

    if (fatSize16 == 0)
        g.fatBits = 32;
    else if (countKnown)
        g.fatBits = clusters < kFat12MaxClusters ? 12 : 16;
    else
        g.fatBits = fat12Hint ? 12 : 16;
    // A cluster needs an entry in the FAT as well as room on the volume.
    const std::uint64_t fatEntries = g.fatBytes * 8 / g.fatBits;
    g.clusterLimit = clampLimit(std::min(clusters + 2, fatEntries), kFat32MaxLimit);
    return g;
}

ExfatBootSector ExfatBootSector::read(Bytes s) {
    ExfatBootSector b;
    b.nameExfat = hasSignature(s, 3, "EXFAT");
    b.fatOffset = le32(s, 80);
    b.fatLength = le32(s, 84);
    b.heapOffset = le32(s, 88);
    b.clusterCount = le32(s, 92);
    b.rootCluster = le32(s, 96);
    b.bytesPerSectorShift = u8(s, 108);
    b.sectorsPerClusterShift = u8(s, 109);
    return b;
}

bool ExfatBootSector::usableGeometry() const {
    // Sectors of 512 to 4096 bytes, clusters of at most 32 MiB.
    return bytesPerSectorShift >= 9 && bytesPerSectorShift <= 12 &&
           bytesPerSectorShift + sectorsPerClusterShift <= 25;
}

FatGeometry ExfatBootSector::geometry(std::uint64_t volumeSize) const {
    FatGeometry g;
    if (!usableGeometry()) return g;
    const std::uint64_t bps = 1ULL << bytesPerSectorShift;
    g.bytesPerSector = static_cast<std::uint32_t>(bps);
    g.sectorsPerCluster = 1U << sectorsPerClusterShift;
    g.clusterSize = bps << sectorsPerClusterShift;
    g.fatStart = fatOffset * bps;
    g.fatBytes = fatLength * bps;
    g.dataStart = heapOffset * bps;
    g.rootCluster = rootCluster;
    g.fatBits = 32;
    std::uint64_t limit = clusterCount != 0 ? static_cast<std::uint64_t>(clusterCount) + 2 : volumeSize / g.clusterSize;
    if (g.fatBytes != 0) limit = std::min(limit, g.fatBytes / 4);
    g.clusterLimit = clampLimit(limit, kExfatMaxLimit);
    return g;
}

}  // namespace halvard
