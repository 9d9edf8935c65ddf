#include <gtest/gtest.h>

#include <algorithm>

#include "support/disk_builder.h"
#include "volume/boot_sector.h"

namespace halvard {
namespace {

using testing::Sector;

void putLe32(Sector& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A superblock as mke2fs writes it: 1 KiB blocks, 8192 blocks a group.
Sector extSuperblock(std::uint32_t blocks, std::uint32_t logBlockSize = 0) {
    Sector s(1024, 0);
    putLe32(s, 0, 64);                          // inodes
    putLe32(s, 4, blocks);                      // blocks
    putLe32(s, 20, logBlockSize == 0 ? 1 : 0);  // first data block
    putLe32(s, 24, logBlockSize);
    putLe32(s, 32, 8192);  // blocks per group
    putLe32(s, 40, 64);    // inodes per group
    s[56] = 0x53;
    s[57] = 0xEF;
    return s;
}

// The disk's first 2048 bytes: sector 0, then what lies at byte 1024.
Sector head(const Sector& sector0, const Sector& at1024 = {}) {
    Sector h(2048, 0);
    std::copy_n(sector0.begin(), std::min<std::size_t>(sector0.size(), 1024), h.begin());
    std::copy_n(at1024.begin(), std::min<std::size_t>(at1024.size(), 1024), h.begin() + 1024);
    return h;
}

void putSlot(Sector& s, int index, std::uint8_t flag, std::uint8_t type, std::uint32_t first, std::uint32_t count) {
    const std::size_t at = 446 + 16 * static_cast<std::size_t>(index);
    s[at] = flag;
    s[at + 4] = type;
    putLe32(s, at + 8, first);
    putLe32(s, at + 12, count);
}

Sector mbr() {
    Sector s(512, 0);
    s[0] = 0x33;  // boot code, no parameter block
    s[1] = 0xC0;
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

// FAT and NTFS boot sectors end in 55AA as an MBR does: the slots and the parameter block decide.
TEST(BareVolume, BootSectorOrPartitionTable) {
    const std::uint64_t disk = 100000;
    Sector fat = testing::fat32BootSector(80000, "mkfs.fat");
    EXPECT_EQ(bareVolumeFacts(head(fat), disk).kind, BootKind::Fat32);  // empty slots
    EXPECT_EQ(bareVolumeFacts(head(fat), disk).extentSectors, 80000u);

    // Boot code running through the slots gives flags no table has.
    Sector code = fat;
    for (std::size_t i = 446; i < 510; ++i) code[i] = static_cast<std::uint8_t>(0x0D + i);
    EXPECT_FALSE(isPlausibleMbr(code, disk));
    EXPECT_EQ(bareVolumeFacts(head(code), disk).kind, BootKind::Fat32);

    // A used, sound table wins against a FAT parameter block (a boot loader may keep one in the MBR)...
    Sector table = fat;
    putSlot(table, 0, 0x80, 0x0C, 2048, 90000);
    bool used = false;
    EXPECT_TRUE(isPlausibleMbr(table, disk, &used));
    EXPECT_TRUE(used);
    EXPECT_EQ(bareVolumeFacts(head(table), disk).kind, BootKind::None);
    // ...but not against a boot sector that names NTFS or exFAT.
    Sector ntfs = testing::ntfsBootSector(90000);
    putSlot(ntfs, 0, 0x00, 0x07, 63, 1000);
    EXPECT_EQ(bareVolumeFacts(head(ntfs), disk).kind, BootKind::Ntfs);
    EXPECT_EQ(bareVolumeFacts(head(ntfs), disk).extentSectors, 90001u);
    EXPECT_EQ(bareVolumeFacts(head(testing::exfatBootSector(50000)), disk).kind, BootKind::Exfat);

    // Slots that start at 0, past the disk, or have no length are no table.
    for (auto [first, count] : {std::pair{0u, 100u}, {200000u, 100u}, {2048u, 0u}}) {
        Sector odd = mbr();
        putSlot(odd, 1, 0, 0x83, first, count);
        EXPECT_FALSE(isPlausibleMbr(odd, disk)) << first << " " << count;
    }
    // A plain MBR is a table, used or not, and holds no volume at sector 0.
    Sector plain = mbr();
    putSlot(plain, 0, 0x80, 0x07, 2048, 4096);
    EXPECT_TRUE(isPlausibleMbr(plain, disk));
    EXPECT_EQ(bareVolumeFacts(head(plain), disk).kind, BootKind::None);
    EXPECT_EQ(bareVolumeFacts(head(mbr()), disk).kind, BootKind::None);
    EXPECT_EQ(bareVolumeFacts(head(Sector(512, 0)), disk).kind, BootKind::None);
    // A FAT boot sector whose parameter block is not sound is not taken for a volume.
    Sector broken = fat;
    broken[13] = 3;  // sectors per cluster
    EXPECT_EQ(bareVolumeFacts(head(broken), disk).kind, BootKind::None);
}

// ext and HFS+ volumes have no boot sector: byte 1024 tells, unless a used table is in sector 0.
TEST(BareVolume, ExtAndHfsPlusByTheirHeaders) {
    const BootSectorFacts ext = bareVolumeFacts(head(Sector(512, 0), extSuperblock(4096)), 0);
    EXPECT_EQ(ext.kind, BootKind::Ext);
    EXPECT_EQ(ext.extentSectors, 8192u);
    EXPECT_EQ(bareVolumeFacts(head(mbr(), extSuperblock(4096)), 0).kind, BootKind::Ext);  // empty table
    Sector plain = mbr();
    putSlot(plain, 0, 0x00, 0x83, 1, 129);
    EXPECT_EQ(bareVolumeFacts(head(plain, extSuperblock(4096)), 0).kind, BootKind::None);

    const BootSectorFacts hfs = bareVolumeFacts(head(Sector(512, 0), testing::hfsPlusHeader(4096, 1014)), 0);
    EXPECT_EQ(hfs.kind, BootKind::HfsPlus);
    EXPECT_EQ(hfs.extentSectors, 4096u * 1014 / 512);
}

TEST(ExtSuperblock, SaneFieldsAndSize) {
    EXPECT_EQ(extFacts(extSuperblock(8192)).sizeBytes, 8192u * 1024);
    EXPECT_EQ(extFacts(extSuperblock(1000, 2)).sizeBytes, 1000u * 4096);  // 4 KiB blocks start at block 0
    // The high half of the block count counts on 64-bit volumes only.
    Sector big = extSuperblock(16, 2);
    putLe32(big, 336, 1);
    EXPECT_EQ(extFacts(big).sizeBytes, 16u * 4096);
    putLe32(big, 96, 0x80);
    EXPECT_EQ(extFacts(big).sizeBytes, ((1ULL << 32) + 16) * 4096);

    auto broken = [](std::size_t at, std::uint32_t value, std::uint32_t logBlockSize = 0) {
        Sector s = extSuperblock(8192, logBlockSize);
        putLe32(s, at, value);
        return extFacts(s).kind;
    };
    EXPECT_EQ(broken(24, 7), BootKind::None);       // a block size over 64 KiB
    EXPECT_EQ(broken(20, 1, 2), BootKind::None);    // 4 KiB blocks start at block 0
    EXPECT_EQ(broken(4, 0), BootKind::None);        // no blocks
    EXPECT_EQ(broken(0, 0), BootKind::None);        // no inodes
    EXPECT_EQ(broken(32, 0), BootKind::None);       // no blocks per group
    EXPECT_EQ(broken(40, 65), BootKind::None);      // more inodes a group than in all
    EXPECT_EQ(broken(88, 1u << 16), BootKind::None);  // a backup copy (group 1)
    EXPECT_EQ(extFacts(Sector(100, 0)).kind, BootKind::None);  // too short
    EXPECT_EQ(extFacts(extSuperblock(8192)).kind, BootKind::Ext);
}

}  // namespace
}  // namespace halvard
