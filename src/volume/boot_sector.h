#pragma once
// Recognising a volume by its first sector: NTFS, FAT12/16, FAT32 and exFAT boot sectors and the HFS+ volume
// header. Shared by the partition-table walk and the whole-disk scan.
#include <cstdint>

#include "common/bytes.h"

namespace halvard {

enum class BootKind { None, Ntfs, Fat16, Fat32, FatOther, Exfat, HfsPlus, Ext };

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

// Facts of an ext2/3/4 volume by its primary superblock (at least its first 512 bytes): the magic, a block size
// of 1 to 64 KiB, the first data block that block size implies, blocks and inodes counted, groups of a sane size
// and group number 0 (backup copies in later groups are not volumes of their own). The size is blocks x block
// size, with the high half of the block count on 64-bit volumes. Stricter than isExtSuperblock: the whole-disk
// scan tests every sector with it.
BootSectorFacts extFacts(Bytes superblock);

// True when sector 0 of the disk holds a partition table rather than a volume's boot sector: the boot signature,
// every slot's boot flag 0x00 or 0x80, and every used slot starting after sector 0 and inside a disk of
// `diskSectors` (0 = unknown) with a nonzero length. `used` tells whether any slot is used.
bool isPlausibleMbr(Bytes sector, std::uint64_t diskSectors, bool* used = nullptr);

// What sector 0 holds when it is not a partition table: the facts of a volume that starts there, by its boot
// sector (NTFS, FAT12/16/32, exFAT) or, at byte 1024, its HFS+ header or ext superblock; kind None when sector 0
// is a partition table or nothing is recognised. `head` holds the disk's first 2048 bytes. FAT and NTFS boot
// sectors end in 55AA as an MBR does, so the table wins where its slots make sense and are used, except against a
// boot sector that names its file system ("NTFS    ", "EXFAT   ") and carries a sound parameter block.
BootSectorFacts bareVolumeFacts(Bytes head, std::uint64_t diskSectors);

// True when the sector starts like an exFAT boot sector (jump 0xEB 0x3C/0x58/0x76, "EXFA" at offset 3).
bool isExfatBootSector(Bytes sector);

// A FAT BIOS parameter block that a formatting tool could have written: a jump, bytes per sector a power of two
// from 512 to 4096, sectors per cluster a power of two, reserved sectors, one or two FATs, a total sector count.
bool isPlausibleFatBpb(Bytes sector);

}  // namespace halvard
