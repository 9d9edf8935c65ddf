#pragma once
// Recognising a volume by its first sector: NTFS, FAT12/16, FAT32 and exFAT boot sectors and the HFS+ volume
// header. Shared by the partition-table walk and the whole-disk scan.
#include <cstdint>

#include "common/bytes.h"

namespace halvard {

enum class BootKind { None, Ntfs, Fat16, Fat32, FatOther, Exfat, HfsPlus };

struct BootSectorFacts {
    BootKind kind = BootKind::None;
    bool fat12 = false;               // a Fat16 boot sector whose cluster count makes the FAT 12-bit
    std::uint64_t sizeBytes = 0;      // the volume's size as its own header states it
    std::uint64_t extentSectors = 0;  // 512-byte sectors from the volume's start to the first sector behind it
};

// Which boot sectors the caller accepts where the two walks differ.
struct BootSectorRules {
    // NTFS: the "NTFS" text at offset 3 is required (else a 0xEB 0x52 jump and 512-byte sectors suffice).
    bool requireNtfsText = true;
    // FAT12/16 boot sectors with the "MSDO" text whose sectors-per-FAT is 128 are accepted too.
    bool acceptFat16With128 = true;
};

// Classifies a boot sector (512 bytes or more). A FAT boot sector is recognised by the "MSDO" text or, as
// volumes formatted by other tools carry their own name there, by a plausible BIOS parameter block.
BootSectorFacts classifyBootSector(Bytes sector, const BootSectorRules& rules = {});

// True when the sector is an HFS+ (or HFSX) volume header: "H+" or "HX" and a zero third byte.
bool isHfsPlusHeader(Bytes sector);

// Facts of an HFS+ volume whose header is `sector`: size = block size x total blocks (big-endian fields).
BootSectorFacts hfsPlusFacts(Bytes sector);

// True when the 1024 bytes at the volume's byte 1024 are an ext2/3/4 superblock (magic 0xEF53, a block size of
// 1 to 64 KiB, blocks and inodes counted).
bool isExtSuperblock(Bytes superblock);

// True when the sector starts like an exFAT boot sector (jump 0xEB 0x3C/0x58/0x76, "EXFA" at offset 3).
bool isExfatBootSector(Bytes sector);

// A FAT BIOS parameter block that a formatting tool could have written: a jump, bytes per sector a power of two
// from 512 to 4096, sectors per cluster a power of two, reserved sectors, one or two FATs, a total sector count.
bool isPlausibleFatBpb(Bytes sector);

}  // namespace halvard
