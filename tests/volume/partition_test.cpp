#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "image/raw_reader.h"
#include "image/vhdx_reader.h"
#include "support/disk_builder.h"
#include "support/status_log.h"
#include "support/vhdx_builder.h"
#include "volume/partition.h"

namespace halvard {
namespace {

using testing::DiskBuilder;
using testing::Sector;
using testing::StatusLog;

struct Found {
    std::string fileSystem, sizeText;
    std::int64_t start;
    bool operator==(const Found&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Found& f) {
    return os << "{" << f.fileSystem << ", '" << f.sizeText << "', " << f.start << "}";
}

class ScannerTest : public ::testing::Test {
protected:
    DiskBuilder disk(std::uint64_t sectors) { return DiskBuilder(dir.file("disk.raw"), sectors); }

    std::vector<Found> scan(bool gpt = false) { return run([&](Partition& p, const std::shared_ptr<DiskReader>& r) {
        p.gptFlag = gpt;
        p.standardScan(r);
    }); }
    std::vector<Found> advanced(bool skip = true, std::int64_t start = 0, std::int64_t end = 0) {
        return run([&](Partition& p, const std::shared_ptr<DiskReader>& r) {
            p.volumeSizeFlag = skip;
            p.startSector = start;
            p.endSector = end;
            EXPECT_EQ(p.advancedScan(r, r->totalSectors), 1);
        });
    }
    template <typename Body>
    std::vector<Found> run(Body body) {
        auto reader = std::make_shared<RawReader>();
        EXPECT_TRUE(reader->open(dir.file("disk.raw")));
        records.clear();
        log = {};
        Partition scanner(records);
        scanner.reporting = {&log, &log, nullptr};
        body(scanner, reader);
        std::vector<Found> found;
        for (const auto& r : records) found.push_back({r.fileSystem, r.sizeText, r.startSector});
        return found;
    }

    testing::TempDir dir;
    std::vector<VolumeRecord> records;
    StatusLog log;
};

TEST_F(ScannerTest, PrimaryNtfsEntry) {
    auto d = disk(20971520 + 4096);
    d.putMbr(0, {{0x07, 2048, 20971520}});
    d.putSector(2048, testing::ntfsBootSector(20971519));
    EXPECT_EQ(scan(), (std::vector<Found>{{"NTFS", "10240   MB", 2048}}));
    EXPECT_EQ(records[0].volumeName, "0");
    EXPECT_TRUE(log.saw("found NTFS 1..."));
    EXPECT_EQ(log.position, kScanProgressEnd);
}

TEST_F(ScannerTest, PrimaryTypesAndExfatBehindType07) {
    auto d = disk(600000);
    d.putMbr(0, {{0x06, 2048, 40960}, {0x0C, 43008, 81920}, {0x07, 124928, 40960}, {0x83, 165888, 20480}});
    d.putSector(124928, testing::exfatBootSector(40960));
    EXPECT_EQ(scan(), (std::vector<Found>{{"FAT16", "20   MB", 2048},
                                          {"FAT32", "40   MB", 43008},
                                          {"FAT64", "20   MB", 124928},
                                          {"extX", "10   MB", 165888}}));
    EXPECT_TRUE(log.saw("found FAT 16..."));
    EXPECT_TRUE(log.saw("found FAT64..."));
    EXPECT_TRUE(log.saw("found ext2..."));
}

TEST_F(ScannerTest, ExtendedChainWithPrimariesOnBothSides) {
    auto d = disk(2100000);
    // Entry 0 is empty (a deleted first partition), the extended partition sits in entry 1 and a primary in
    // entry 2 behind it; both happen on repartitioned disks and must not hide volumes.
    d.putMbr(0, {{0x00, 0, 0}, {0x0F, 1000000, 1000000}, {0x83, 2048, 204800}});
    d.putMbr(1000000, {{0x0C, 2048, 409600}, {0x05, 411648, 413696}});
    d.putMbr(1411648, {{0x0B, 2048, 411648}});
    EXPECT_EQ(scan(), (std::vector<Found>{{"extX", "100   MB", 2048},
                                          {"FAT32", "200   MB", 1002048},
                                          {"FAT32", "201   MB", 1413696}}));
    EXPECT_TRUE(log.saw("found ext2..."));
}

TEST_F(ScannerTest, ExtendedChainStopsOnALoopAndOnGarbage) {
    auto d = disk(300000);
    d.putMbr(0, {{0x05, 100000, 100000}});
    d.putMbr(100000, {{0x07, 63, 1000}, {0x05, 2000, 2000}});
    d.putMbr(102000, {{0x07, 63, 1000}, {0x05, 0x7FFFFFF0, 2000}});  // links far past the disk
    EXPECT_EQ(scan().size(), 2u);
    d.putMbr(102000, {{0x07, 63, 1000}, {0x05, 0, 2000}});  // links back to the first record
    EXPECT_EQ(scan().size(), 2u);
    d.putMbr(102000, {{0x07, 63, 1000}, {0x05, 2000, 2000}});  // links to itself
    EXPECT_EQ(scan().size(), 2u);
}

TEST_F(ScannerTest, NoTableNoRecords) {
    auto d = disk(10000);
    EXPECT_TRUE(scan().empty());  // a zeroed disk
    Sector garbage(512, 0xA7);
    d.putSector(0, garbage);  // no boot signature
    EXPECT_TRUE(scan().empty());
    d.putMbr(0, {{0x07, 20000, 100}, {0x0C, 5000, 0xFFFFFFFF}});  // the first starts past the disk's end
    // The second runs past it: cut at the disk's end, with a note.
    EXPECT_EQ(scan(), (std::vector<Found>{{"FAT32", "2   MB", 5000}}));
    EXPECT_EQ(records[0].sectorCount, 5000u);
    EXPECT_NE(records[0].note.find("cut to 5000 sectors"), std::string::npos) << records[0].note;
}

TEST_F(ScannerTest, GptWalkClassifiesByBootSector) {
    auto d = disk(400000);
    d.putGpt({{"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", 2048, 206847, "EFI system partition"},
              {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", 206848, 239615, "Microsoft reserved partition"},
              {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 239616, 300000, "Basic data partition"},
              {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", 300001, 399000, "linuxdata"}});
    d.putSector(2048, testing::fat32BootSector(204800, "mkfs.fat"));  // not "MSDOS": found by its parameters
    d.putSector(239616, testing::ntfsBootSector(60384));
    EXPECT_EQ(scan(true), (std::vector<Found>{{"FAT32", "100  MB", 2048},
                                              {"NTFS", "29   MB", 239616},
                                              {"Linux filesystem", "48", 300001}}));
    // The last LBA is inclusive; NTFS's backup boot sector counts, as it does in the partition table.
    EXPECT_EQ(records[2].sectorCount, 99000u);
    EXPECT_EQ(records[1].sectorCount, 60385u);
    // Without the GPT box the protective entry is all the MBR shows.
    EXPECT_EQ(scan(false), (std::vector<Found>{{"Unknown", "195   MB", 1}}));
}

TEST_F(ScannerTest, GptEntriesAreReadWhereTheHeaderSays) {
    auto d = disk(800000);
    // A gap in the entry array, 4096-byte logical sectors do not apply here, and the array far from LBA 2.
    d.putGpt({{"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 2048, 4095, "first"},
              {"00000000-0000-0000-0000-000000000000", 0, 0, ""},
              {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 700000, 799000, "after the gap"}},
             512, 200, 600000);
    d.putSector(700000, testing::fat16BootSector(99001, 97, "mkfs.fat"));
    // Without a file system in it the partition is listed by its type, never by its label.
    EXPECT_EQ(scan(true), (std::vector<Found>{{"Basic data", "1", 2048}, {"FAT16", "48  MB", 700000}}));

    // An absurd entry count or size is bounded, not trusted.
    Sector header(512, 0);
    std::memcpy(header.data(), "EFI PART", 8);
    header[72] = 2;
    std::fill(header.begin() + 80, header.begin() + 88, 0xFF);
    d.put(512, header);
    EXPECT_NO_FATAL_FAILURE(scan(true));
}

TEST_F(ScannerTest, GptFat16WithAnOddFatSizeNeedsAPlausibleBpb) {
    auto d = disk(100000);
    d.putGpt({{"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 2048, 43007, "Basic data partition"}});
    Sector odd = testing::fat16BootSector(40960, 97);
    odd[16] = 7;  // seven FATs: not a real parameter block
    d.putSector(2048, odd);
    EXPECT_TRUE(scan(true).empty());
    EXPECT_TRUE(log.saw("found unknown..."));
    d.putSector(2048, testing::fat16BootSector(40960, 97));
    EXPECT_EQ(scan(true), (std::vector<Found>{{"FAT16", "20  MB", 2048}}));

    // A small FAT32 volume keeps its sector count in the 16-bit field, as mkfs.fat writes it.
    Sector small = testing::fat32BootSector(0, "mkfs.fat");
    small[19] = 0x00;
    small[20] = 0xA0;  // 40960 sectors
    d.putSector(2048, small);
    EXPECT_EQ(scan(true), (std::vector<Found>{{"FAT32", "20  MB", 2048}}));
}

TEST_F(ScannerTest, GptOnFourKibibyteSectorDisks) {
    // 4096-byte logical sectors: LBAs count 4 KiB units, records still count 512-byte sectors.
    testing::VhdxSpec spec;
    spec.virtualSize = 64 * 1024 * 1024;
    spec.logicalSectorSize = 4096;
    spec.allocatedBlocks = {0, 1, 2};
    const std::string image = dir.file("4k.vhdx");
    testing::writeFile(image, testing::buildVhdx(spec));
    {
        // Lay a GPT over the first blocks of the file's payload through a raw disk of the same content.
        DiskBuilder d(dir.file("plain.raw"), spec.virtualSize / 512);
        d.putGpt({{"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 256, 4095, "Basic data partition"}}, 4096);
        d.putSector(2048, testing::ntfsBootSector(3839, 4096));
    }
    auto plain = testing::readFile(dir.file("plain.raw"));
    auto file = testing::readFile(image);
    // The builder stores block 0 at the first payload offset, which it writes right behind the BAT.
    const std::size_t payload = file.size() - 3 * spec.blockSize;
    std::copy(plain.begin(), plain.begin() + 3 * spec.blockSize, file.begin() + static_cast<std::ptrdiff_t>(payload));
    testing::writeFile(image, file);

    auto reader = std::make_shared<VhdxReader>();
    ASSERT_TRUE(reader->open(image));
    ASSERT_EQ(reader->logicalSectorSize(), 4096u);
    records.clear();
    Partition scanner(records);
    scanner.gptFlag = true;
    scanner.standardScan(reader);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fileSystem, "NTFS");
    EXPECT_EQ(records[0].startSector, 2048);
    // 3,839 sectors of 4 KiB and the backup boot sector: the partition's 15 MiB.
    EXPECT_EQ(records[0].sizeText, "15   MB");
    EXPECT_EQ(records[0].sectorCount, 30720u);
}

TEST_F(ScannerTest, AdvancedScanFindsVolumesWithoutTables) {
    auto d = disk(500000);
    d.putSector(2048, testing::ntfsBootSector(204799));
    d.putSector(2048 + 204799, testing::ntfsBootSector(204799));  // the backup boot sector
    // A FAT32 volume right behind the NTFS one, an exFAT volume right behind that one.
    d.putSector(206848, testing::fat32BootSector(102400, "mkfs.fat"));
    d.putSector(206848 + 6, testing::fat32BootSector(102400, "mkfs.fat"));  // its backup
    d.putSector(309248, testing::exfatBootSector(65536));
    d.putSector(409642, testing::hfsPlusHeader(4096, 5120));

    EXPECT_EQ(advanced(), (std::vector<Found>{{"NTFS", "100   MB", 2048},
                                              {"FAT32", "50  MB", 206848},
                                              {"FAT64", "32  MB", 309248},
                                              {"HFS+", "20  MB", 409640}}));
    EXPECT_TRUE(log.saw("found HFS+..."));
    EXPECT_EQ(log.position, kScanProgressEnd);

    EXPECT_EQ(advanced(false), (std::vector<Found>{{"NTFS", "100   MB", 2048},
                                                   {"NTFS", "100   MB", 206847},
                                                   {"FAT32", "50  MB", 206848},
                                                   {"FAT32", "50  MB", 206854},
                                                   {"FAT64", "32  MB", 309248},
                                                   {"HFS+", "20  MB", 409640}}));
}

TEST_F(ScannerTest, AdvancedScanHonoursItsRange) {
    auto d = disk(3000000);
    d.putSector(500000, testing::fat16BootSector(40960, 128));  // 128 sectors per FAT is accepted here
    d.putSector(1500000, testing::fat16BootSector(40960, 128));
    d.putSector(2500000, testing::fat16BootSector(40960, 128));
    EXPECT_EQ(advanced(true, 1000000, 2000000), (std::vector<Found>{{"FAT16", "20  MB", 1500000}}));
    // A start above the end scans nothing.
    EXPECT_TRUE(advanced(true, 2000000, 1000000).empty());
}

TEST_F(ScannerTest, AdvancedScanStopsWhenAsked) {
    auto d = disk(200000);
    d.putSector(4096, testing::ntfsBootSector(20479));
    d.putSector(100000, testing::ntfsBootSector(20479));
    std::size_t seen = 0;
    auto found = run([&](Partition& p, const std::shared_ptr<DiskReader>& r) {
        p.onVolumeFound = [&](const VolumeRecord&) {
            if (++seen == 1) p.stopRequested = 1;
        };
        p.advancedScan(r, r->totalSectors);
    });
    EXPECT_EQ(found.size(), 1u);
    EXPECT_EQ(log.texts.back(), "Scanned Partitions");
}

// An ext2/3/4 superblock as mke2fs writes it, for the volume's byte 1024.
Sector extSuperblock(std::uint32_t blocks) {
    Sector s(1024, 0);
    s[0] = 16;  // inodes
    s[4] = static_cast<std::uint8_t>(blocks);
    s[5] = static_cast<std::uint8_t>(blocks >> 8);
    s[24] = 0;  // 1 KiB blocks
    s[56] = 0x53;
    s[57] = 0xEF;
    return s;
}

// Volumes below 1 MiB keep their size in sectors; the tables' types that do not settle the file system are
// settled by a look at the volume.
TEST_F(ScannerTest, SmallVolumesAndProbedTypes) {
    auto d = disk(40000);
    d.putMbr(0, {{0x83, 2048, 129}, {0x8E, 4096, 1024}, {0x06, 8192, 2000}, {0x01, 12288, 300}});
    d.put(2048 * 512 + 1024, extSuperblock(64));
    d.put(4096 * 512 + 1024, extSuperblock(512));
    d.putSector(8192, testing::fat16BootSector(2000, 2));  // ~490 clusters: a 12-bit FAT
    EXPECT_EQ(scan(), (std::vector<Found>{{"extX", "0   MB", 2048},
                                          {"extX", "0   MB", 4096},
                                          {"FAT12", "0   MB", 8192},
                                          {"FAT12", "0   MB", 12288}}));
    EXPECT_EQ(records[0].sectorCount, 129u);
    EXPECT_EQ(volumeSizeBytes(records[0]), 129u * 512);
    EXPECT_EQ(records[2].sectorCount, 2000u);

    // The advanced scan finds the FAT12 volume and an exFAT one under 1 MiB too.
    d.putSector(20000, testing::exfatBootSector(1500));
    const auto found = advanced();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], (Found{"FAT12", "0  MB", 8192}));
    EXPECT_EQ(found[1], (Found{"FAT64", "0  MB", 20000}));
    EXPECT_EQ(records[0].sectorCount, 2000u);
    EXPECT_EQ(records[1].sectorCount, 1500u);
}

TEST_F(ScannerTest, GptTypesWithoutAFileSystemAndExtInside) {
    auto d = disk(40000);
    d.putGpt({{"0FC63DAF-8483-4772-8E79-3D69D8477DE4", 2048, 4095, "ThisIsName"},
              {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", 4096, 6143, "primary"},
              {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", 6144, 8191, "swap"},
              {"01234567-89AB-CDEF-0123-456789ABCDEF", 8192, 16383, "odd"}});
    d.put(2048 * 512 + 1024, extSuperblock(1024));
    EXPECT_EQ(scan(true), (std::vector<Found>{{"extX", "1", 2048},
                                              {"Linux filesystem", "1", 4096},
                                              {"Linux swap", "1", 6144},
                                              {"Unknown", "4", 8192}}));
}

Sector fullExtSuperblock(std::uint32_t blocks) {
    Sector s = extSuperblock(blocks);
    s[20] = 1;     // first data block
    s[33] = 0x20;  // 8192 blocks per group
    s[40] = 16;    // inodes per group
    return s;
}

// A disk without a partition table is one volume from sector 0, whatever its file system; sector 0 of a FAT or
// NTFS volume is not read as an MBR although it ends in 55AA.
TEST_F(ScannerTest, BareVolumesAreVolumeZero) {
    auto d = disk(80000);
    d.putSector(0, testing::fat32BootSector(80000, "mkfs.fat"));
    EXPECT_EQ(scan(), (std::vector<Found>{{"FAT32", "39  MB", 0}}));
    d.putSector(0, testing::ntfsBootSector(79999));
    EXPECT_EQ(scan(), (std::vector<Found>{{"NTFS", "39   MB", 0}}));
    EXPECT_EQ(records[0].sectorCount, 80000u);
    EXPECT_EQ(scan(true), (std::vector<Found>{{"NTFS", "39   MB", 0}}));  // no GPT header either
    d.putSector(0, testing::fat16BootSector(40000, 40, "mkfs.fat"));
    EXPECT_EQ(scan(), (std::vector<Found>{{"FAT16", "19  MB", 0}}));
    d.putSector(0, testing::exfatBootSector(90000));  // larger than the disk: cut
    EXPECT_EQ(scan(), (std::vector<Found>{{"FAT64", "39  MB", 0}}));
    EXPECT_FALSE(records[0].note.empty());
    d.putSector(0, Sector(512, 0));
    d.put(1024, fullExtSuperblock(20000));
    EXPECT_EQ(scan(), (std::vector<Found>{{"extX", "19   MB", 0}}));
    EXPECT_EQ(records[0].sectorCount, 40000u);
    d.put(1024, testing::hfsPlusHeader(4096, 2000));
    EXPECT_EQ(scan(), (std::vector<Found>{{"HFS+", "7  MB", 0}}));
}

// The advanced scan finds ext volumes by their superblock, 1024 bytes in, with the size the standard scan gives
// when the partition fits the file system; backup superblocks are not volumes.
TEST_F(ScannerTest, AdvancedScanFindsExtVolumes) {
    auto d = disk(40000);
    d.putMbr(0, {{0x83, 2048, 24000}, {0x83, 28672, 2000}});
    d.put(2048 * 512 + 1024, fullExtSuperblock(12000));
    Sector backup = fullExtSuperblock(12000);
    backup[90] = 1;  // group 1's copy, in block 8193
    d.put((2048 + 2 * 8193) * 512, backup);
    d.put(28672 * 512 + 1024, fullExtSuperblock(1000));
    scan();
    const auto standard = records;
    EXPECT_EQ(advanced(), (std::vector<Found>{{"extX", "11   MB", 2048}, {"extX", "0   MB", 28672}}));
    EXPECT_EQ(records[0].sectorCount, standard[0].sectorCount);
    EXPECT_EQ(records[1].sectorCount, standard[1].sectorCount);
    EXPECT_EQ(advanced(false).size(), 2u);
}

// Both scans give a volume the same size, and the custom settings' end sector is its last sector.
TEST_F(ScannerTest, BothScansAgreeOnTheSize) {
    auto d = disk(20000);
    d.putMbr(0, {{0x07, 2048, 6144}});
    d.putSector(2048, testing::ntfsBootSector(6143));
    d.putSector(2048 + 6143, testing::ntfsBootSector(6143));
    scan();
    const VolumeRecord standard = records.at(0);
    advanced();
    const VolumeRecord found = records.at(0);
    EXPECT_EQ(standard.sectorCount, 6144u);
    EXPECT_EQ(found.sectorCount, 6144u);
    EXPECT_EQ(standard.sizeText, "3   MB");
    EXPECT_EQ(found.sizeText, "3   MB");
}

TEST_F(ScannerTest, HostileSectorsNeverCrashTheScans) {
    auto d = disk(40000);
    std::uint32_t seed = 99;
    auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (int round = 0; round < 40; ++round) {
        Sector s(512);
        for (auto& b : s) b = static_cast<std::uint8_t>(next());
        s[0] = round % 2 ? 0xEB : 'H';
        s[1] = round % 3 ? 0x52 : '+';
        s[2] = round % 4 ? 0x90 : 0;
        d.putSector(next() % 40000, s);
    }
    d.putMbr(0, {{0x05, 10, 0xFFFFFFFF}, {0x07, 3, 5}, {0xEE, 1, 1}, {0x0F, 20, 20}});
    d.putGpt({{"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 0xFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFull, "x"}});
    scan(true);
    scan(false);
    advanced(true);
    advanced(false);
}

}  // namespace
}  // namespace halvard
