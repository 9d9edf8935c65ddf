#include "volume/boot_sector.h"

#include <bit>

namespace halvard {

namespace {

bool hasFatJump(Bytes s) {
    const std::uint8_t b1 = u8(s, 1);
    return u8(s, 0) == 0xEB && (b1 == 0x3C || b1 == 0x58 || b1 == 0x76);
}

// The 16-bit count, or the 32-bit one when it is 0. (Read as signed, counts from 32768 to 65535, volumes of 16 to
// 32 MiB, would look negative and the volume would be lost.)
std::uint64_t fatTotalSectors(Bytes s) {
    const std::uint16_t small = le16(s, 19);
    return small != 0 ? small : le32(s, 32);
}

// FAT12 has fewer than 4085 clusters; the FAT type follows from the cluster count alone.
bool hasTwelveBitFat(Bytes s) {
    const std::uint64_t bytesPerSector = le16(s, 11);
    const std::uint64_t perCluster = u8(s, 13);
    if (bytesPerSector == 0 || perCluster == 0) return false;
    const std::uint64_t rootSectors = (le16(s, 17) * 32ULL + bytesPerSector - 1) / bytesPerSector;
    const std::uint64_t overhead = le16(s, 14) + u8(s, 16) * static_cast<std::uint64_t>(le16(s, 22)) + rootSectors;
    const std::uint64_t total = fatTotalSectors(s);
    return total > overhead && (total - overhead) / perCluster < 4085;
}

}  // namespace

bool isExtSuperblock(Bytes s) {
    if (!fits(s, 0, 1024) || le16(s, 56) != 0xEF53) return false;
    return le32(s, 24) <= 6 && le32(s, 4) != 0 && le32(s, 0) != 0;
}

BootSectorFacts extFacts(Bytes s) {
    BootSectorFacts facts;
    if (!fits(s, 0, 512) || le16(s, 56) != 0xEF53) return facts;
    const std::uint32_t logBlock = le32(s, 24);
    if (logBlock > 6) return facts;
    const std::uint64_t blockSize = 1024ULL << logBlock;
    const std::uint32_t firstDataBlock = le32(s, 20);
    const std::uint32_t inodes = le32(s, 0);
    const std::uint32_t blocksPerGroup = le32(s, 32);
    const std::uint32_t inodesPerGroup = le32(s, 40);
    // 1 KiB blocks leave block 0 to the boot sectors (bigalloc volumes start at 0 even then).
    if (firstDataBlock > (blockSize == 1024 ? 1U : 0U)) return facts;
    if (inodes == 0 || blocksPerGroup == 0 || inodesPerGroup == 0 || inodesPerGroup > inodes) return facts;
    if (inodesPerGroup > 8 * blockSize || le16(s, 90) != 0) return facts;
    std::uint64_t blocks = le32(s, 4);
    if ((le32(s, 96) & 0x80) != 0) blocks |= static_cast<std::uint64_t>(le32(s, 336)) << 32;  // 64-bit volume
    if (blocks <= firstDataBlock || blocks > (~0ULL >> 13) / blockSize) return facts;
    facts.kind = BootKind::Ext;
    facts.sizeBytes = blocks * blockSize;
    facts.extentSectors = facts.sizeBytes / 512;
    return facts;
}

bool isPlausibleMbr(Bytes s, std::uint64_t diskSectors, bool* used) {
    if (used) *used = false;
    if (!fits(s, 0, 512) || u8(s, 510) != 0x55 || u8(s, 511) != 0xAA) return false;
    bool any = false;
    for (std::size_t at = 446; at < 510; at += 16) {
        const std::uint8_t flag = u8(s, at);
        if (flag != 0x00 && flag != 0x80) return false;
        if (u8(s, at + 4) == 0) continue;
        const std::uint32_t first = le32(s, at + 8);
        if (first == 0 || le32(s, at + 12) == 0 || (diskSectors != 0 && first >= diskSectors)) return false;
        any = true;
    }
    if (used) *used = any;
    return true;
}

BootSectorFacts bareVolumeFacts(Bytes head, std::uint64_t diskSectors) {
    if (!fits(head, 0, 2048)) return {};
    bool used = false;
    const bool table = isPlausibleMbr(head, diskSectors, &used) && used;
    const BootSectorFacts boot = classifyBootSector(head);
    switch (boot.kind) {
        case BootKind::Ntfs:
        case BootKind::Exfat:
            // Both name their file system at offset 3 (classifyBootSector requires the text by default).
            if (boot.extentSectors > 0) return boot;
            break;
        case BootKind::Fat16:
        case BootKind::Fat32:
            if (!table && boot.extentSectors > 0 && isPlausibleFatBpb(head)) return boot;
            break;
        default:
            break;
    }
    if (table) return {};
    const Bytes behind = head.subspan(1024);
    if (const BootSectorFacts ext = extFacts(behind); ext.kind == BootKind::Ext) return ext;
    if (const BootSectorFacts hfs = hfsPlusFacts(behind); hfs.kind == BootKind::HfsPlus && hfs.extentSectors > 0)
        return hfs;
    return {};
}

bool isPlausibleFatBpb(Bytes s) {
    if (!fits(s, 0, 512)) return false;
    const std::uint8_t jump = u8(s, 0);
    if (!((jump == 0xEB && u8(s, 2) == 0x90) || jump == 0xE9 || hasFatJump(s))) return false;
    const std::uint16_t bytesPerSector = le16(s, 11);
    const std::uint8_t sectorsPerCluster = u8(s, 13);
    const std::uint8_t fats = u8(s, 16);
    return bytesPerSector >= 512 && bytesPerSector <= 4096 && std::has_single_bit(bytesPerSector) &&
           std::has_single_bit(sectorsPerCluster) && le16(s, 14) > 0 && (fats == 1 || fats == 2) &&
           (le16(s, 19) != 0 || le32(s, 32) != 0);
}

bool isExfatBootSector(Bytes s) { return hasFatJump(s) && hasSignature(s, 3, "EXFA"); }

bool isHfsPlusHeader(Bytes s) {
    return (hasSignature(s, 0, "H+") || hasSignature(s, 0, "HX")) && fits(s, 2, 1) && u8(s, 2) == 0;
}

BootSectorFacts hfsPlusFacts(Bytes s) {
    BootSectorFacts facts;
    if (!isHfsPlusHeader(s)) return facts;
    facts.kind = BootKind::HfsPlus;
    facts.sizeBytes = static_cast<std::uint64_t>(be32(s, 40)) * be32(s, 44);
    facts.extentSectors = facts.sizeBytes / 512;
    return facts;
}

BootSectorFacts classifyBootSector(Bytes s, const BootSectorRules& rules) {
    BootSectorFacts facts;
    if (!fits(s, 0, 512)) return facts;

    // NTFS. Its total-sectors field leaves out the backup boot sector in the volume's last sector.
    if (u8(s, 0) == 0xEB && u8(s, 1) == 0x52) {
        const std::uint16_t bytesPerSector = le16(s, 11);
        const bool hasText = hasSignature(s, 3, "NTFS");
        const bool sectorOk = hasText ? (bytesPerSector >= 512 && bytesPerSector <= 4096 && std::has_single_bit(bytesPerSector))
                                      : bytesPerSector == 512;
        if ((hasText || !rules.requireNtfsText) && sectorOk) {
            const std::uint64_t total = le64(s, 40);
            facts.kind = BootKind::Ntfs;
            if (total <= (~0ULL >> 13)) {
                facts.sizeBytes = total * bytesPerSector;
                facts.extentSectors = facts.sizeBytes / 512 + bytesPerSector / 512;
            }
            return facts;
        }
    }

    if (isExfatBootSector(s)) {
        // Sector size as a power of two at offset 108 (9 to 12); older readings took 512 for granted.
        const std::uint8_t shift = u8(s, 108);
        const std::uint64_t bytesPerSector = (shift >= 9 && shift <= 12) ? (1ULL << shift) : 512;
        const std::uint64_t length = le64(s, 72);
        facts.kind = BootKind::Exfat;
        if (length <= (~0ULL >> 13)) {
            facts.sizeBytes = length * bytesPerSector;
            facts.extentSectors = facts.sizeBytes / 512;
        }
        return facts;
    }

    const bool msdos = hasFatJump(s) && hasSignature(s, 3, "MSDO");
    const bool plausible = isPlausibleFatBpb(s);
    if (msdos || plausible) {
        const std::uint16_t sectorsPerFat = le16(s, 22);
        const std::uint64_t bytesPerSector = plausible ? le16(s, 11) : 512;
        if (sectorsPerFat == 0 && (msdos || le32(s, 36) != 0)) {
            // Small FAT32 volumes keep their sector count in the 16-bit field.
            facts.kind = BootKind::Fat32;
            facts.sizeBytes = fatTotalSectors(s) * bytesPerSector;
        } else if ((msdos && (sectorsPerFat == 200 || sectorsPerFat == 256 ||
                              (rules.acceptFat16With128 && sectorsPerFat == 128))) ||
                   (plausible && sectorsPerFat != 0)) {
            facts.kind = BootKind::Fat16;
            facts.fat12 = hasTwelveBitFat(s);
            facts.sizeBytes = fatTotalSectors(s) * bytesPerSector;
        } else {
            facts.kind = BootKind::FatOther;
            return facts;
        }
        facts.extentSectors = facts.sizeBytes / 512;
        return facts;
    }
    return facts;
}

}  // namespace halvard
