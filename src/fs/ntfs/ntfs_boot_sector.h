#pragma once
// The NTFS boot sector: the volume's geometry and where the MFT and its mirror start.
#include <bit>
#include <cstdint>

#include "common/bytes.h"

namespace halvard::ntfs_format {

struct NtfsBootSector {
    bool signature = false;              // "NTFS" at 3
    std::uint16_t bytesPerSector = 0;    // 0x0B
    std::uint8_t sectorsPerClusterByte = 0;  // 0x0D (above 0x80: a power of two, 2^(256 - value))
    std::uint64_t totalSectors = 0;      // 0x28
    std::uint64_t mftCluster = 0;        // 0x30
    std::uint64_t mirrorCluster = 0;     // 0x38
    std::int8_t clustersPerRecord = 0;   // 0x40 (negative n: 2^-n bytes)

    static NtfsBootSector read(Bytes sector) {
        NtfsBootSector b;
        b.signature = hasSignature(sector, 3, "NTFS");
        b.bytesPerSector = le16(sector, 0x0B);
        b.sectorsPerClusterByte = u8(sector, 0x0D);
        b.totalSectors = le64(sector, 0x28);
        b.mftCluster = le64(sector, 0x30);
        b.mirrorCluster = le64(sector, 0x38);
        b.clustersPerRecord = static_cast<std::int8_t>(u8(sector, 0x40));
        return b;
    }

    // Bytes per sector when the field holds a sector size a disk can have, else 512.
    std::uint64_t sectorSize() const {
        return std::has_single_bit(bytesPerSector) && bytesPerSector >= 256 && bytesPerSector <= 4096 ? bytesPerSector : 512;
    }
    std::uint64_t sectorsPerCluster() const {
        if (sectorsPerClusterByte > 0x80) {
            const unsigned shift = 256u - sectorsPerClusterByte;
            return shift < 32 ? 1ULL << shift : 0;
        }
        return sectorsPerClusterByte;
    }
    // The cluster size the fields give, 0 when they give none a volume can have (256 bytes to 2 MiB).
    std::uint64_t clusterSize() const {
        const std::uint64_t size = static_cast<std::uint64_t>(bytesPerSector) * sectorsPerCluster();
        return std::has_single_bit(size) && size >= 256 && size <= (2ULL << 20) ? size : 0;
    }
    // The MFT record size, 0 when the field does not give a usable one.
    std::uint64_t recordSize(std::uint64_t cluster) const {
        std::uint64_t size = 0;
        if (clustersPerRecord > 0)
            size = static_cast<std::uint64_t>(clustersPerRecord) * cluster;
        else if (clustersPerRecord < 0 && clustersPerRecord > -31)
            size = 1ULL << -clustersPerRecord;
        return std::has_single_bit(size) && size >= 512 && size <= 65536 ? size : 0;
    }
};

}  // namespace halvard::ntfs_format
