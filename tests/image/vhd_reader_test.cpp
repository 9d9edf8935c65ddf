#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include "common/table_limit.h"
#include "image/image_info.h"
#include "image/image_kind.h"
#include "image/vhd_reader.h"
#include "support/image_file_test.h"
#include "support/reader_checks.h"
#include "support/vhd_builder.h"
#include "support/vhdx_builder.h"
#include "support/status_check.h"

namespace halvard {
namespace {

using testing::allZero;
using testing::readAt;

using testing::TempDir;
using testing::VhdSpec;

constexpr std::uint64_t kMiB = 1024 * 1024;

VhdSpec fixedSpec(std::uint64_t size) {
    VhdSpec spec;
    spec.fixed = true;
    spec.virtualSize = size;
    return spec;
}

class VhdReaderTest : public testing::ImageFileTest<VhdSpec, VhdReader> {
protected:
    VhdReaderTest() : ImageFileTest("disk.vhd", testing::buildVhd, 333 * 1024 + 512 + 17) {}
};

TEST_F(VhdReaderTest, DynamicDiskReadsThroughTheBatAndSkipsEachBlocksBitmap) {
    VhdSpec spec;
    spec.virtualSize = 10 * kMiB + 512;  // a last block the disk uses only in part
    spec.allocatedBlocks = {0, 2, 3, 5};
    VhdReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_FALSE(reader.isFixed());
    EXPECT_EQ(reader.sectorsPerBlock(), 4096u);
    EXPECT_EQ(reader.allocatedBlocks(), 4u);
    expectWholeDisk(reader, testing::expectedVhdDisk(spec));

    // 4096 bytes from the last sector of an allocated block into an unallocated one.
    bool ok = false;
    auto got = readAt(reader, static_cast<std::uint64_t>(8 * kMiB - 512), 4096, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(got[0], testing::patternByte(8 * kMiB - 512));
    EXPECT_TRUE(allZero(got, 512));
    EXPECT_FALSE(reader.storedRun(8 * kMiB, 512).stored);

    // The block index equal to the table's length is beyond the map.
    EXPECT_FALSE(reader.readAt(reader.blockMap.size() * 2 * kMiB, got.data(), 512));
}

TEST_F(VhdReaderTest, BatAndBlockSizeComeFromTheDynamicHeader) {
    // The table away from 1536 (with junk at 1536), and block sizes whose bitmap is not one sector: 4 MiB blocks
    // have 1024 bytes of bitmap, 64 KiB blocks 16 bytes rounded up to a sector.
    for (std::uint32_t blockSize : {4u * 1024 * 1024, 512u * 1024, 64u * 1024}) {
        VhdSpec spec;
        spec.blockSize = blockSize;
        spec.virtualSize = 8 * kMiB;
        spec.tableOffset = 64 * 1024;
        spec.allocatedBlocks = {0, 1, spec.virtualSize / blockSize - 1};
        auto bytes = testing::buildVhd(spec);
        for (int i = 0; i < 64; ++i) bytes[1536 + i] = static_cast<std::uint8_t>(i);
        VhdReader reader;
        ASSERT_TRUE(reader.open(write(bytes))) << blockSize;
        EXPECT_EQ(reader.blockSize(), blockSize);
        EXPECT_TRUE(reader.layout().notes.empty());
        expectWholeDisk(reader, testing::expectedVhdDisk(spec));
    }
}

TEST_F(VhdReaderTest, SectorMapsBehindTheBitmapOfItsBlock) {
    // An 8 GiB disk whose block 2 the BAT places at sector 0x1003: sector 8192 + 7 lies at
    // 0x1003 x 512 + 512 + 7 x 512.
    VhdSpec spec;
    spec.virtualSize = 8ULL * 1024 * kMiB;
    auto bytes = testing::buildVhd(spec);
    const std::uint64_t target = 0x1003ULL * 512 + 512 + 7 * 512;
    bytes.resize(target + 1024, 0);
    testing::putBe32(bytes, 1536 + 2 * 4, 0x1003);
    std::memcpy(bytes.data() + target, "sector 8199", 11);
    VhdReader reader;
    ASSERT_TRUE(reader.open(write(bytes)));
    EXPECT_EQ(reader.totalSectors, spec.virtualSize / 512);
    const auto got = readAt(reader, (8192 + 7) * 512, 512);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(got.data()), 11), "sector 8199");
    EXPECT_TRUE(allZero(readAt(reader, 3 * 2 * kMiB, 512)));  // block 3: 0xFFFFFFFF
}

TEST_F(VhdReaderTest, FixedDiskIsTheFileBeforeItsFooter) {
    VhdSpec spec;
    spec.fixed = true;
    spec.virtualSize = 3 * kMiB + 1024;
    VhdReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_TRUE(reader.isFixed());
    expectWholeDisk(reader, testing::expectedVhdDisk(spec));
    // The footer is not part of the disk.
    bool ok = true;
    const auto past = readAt(reader, static_cast<std::uint64_t>(spec.virtualSize), 512, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(allZero(past));

    // Old tools wrote a 511-byte footer.
    spec.oldShortFooter = true;
    VhdReader old;
    ASSERT_TRUE(old.open(write(spec, "old.vhd")));
    EXPECT_TRUE(old.isFixed());
    expectWholeDisk(old, testing::expectedVhdDisk(spec));

    // A fixed disk cut short: what is left reads, the rest is reported.
    auto cut = testing::buildVhd(fixedSpec(2 * kMiB));
    cut.erase(cut.begin() + static_cast<std::ptrdiff_t>(kMiB), cut.end() - 512);
    VhdReader shortDisk;
    ASSERT_TRUE(shortDisk.open(write(cut, "cut.vhd")));
    EXPECT_EQ(shortDisk.totalSectors, 2 * kMiB / 512);
    const auto got = readAt(shortDisk, static_cast<std::int64_t>(kMiB - 512), 1024, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(got[0], testing::patternByte(kMiB - 512));
    EXPECT_TRUE(allZero(got, 512));
}

TEST_F(VhdReaderTest, EitherFooterServesWhenTheOtherIsDamaged) {
    VhdSpec spec;
    spec.allocatedBlocks = {1};
    const auto expected = testing::expectedVhdDisk(spec);

    auto headless = testing::buildVhd(spec);
    std::memcpy(headless.data(), "garbage!", 8);
    VhdReader fromEnd;
    ASSERT_TRUE(fromEnd.open(write(headless, "headless.vhd")));
    EXPECT_FALSE(fromEnd.isFixed());
    expectWholeDisk(fromEnd, expected);
    EXPECT_FALSE(fromEnd.layout().notes.empty());

    // The footer at the end lost (a copy cut short): the copy at the start serves.
    auto tailless = testing::buildVhd(spec);
    tailless.resize(tailless.size() - 512);
    VhdReader fromStart;
    ASSERT_TRUE(fromStart.open(write(tailless, "tailless.vhd")));
    expectWholeDisk(fromStart, expected);

    // Footer copy with a bad checksum, intact footer with another size at the end: the intact one wins.
    auto differing = testing::buildVhd(spec);
    testing::putBe64(differing, 48, 4 * kMiB);
    VhdReader checked;
    ASSERT_TRUE(checked.open(write(differing, "differing.vhd")));
    EXPECT_EQ(checked.totalSectors, spec.virtualSize / 512);
}

TEST_F(VhdReaderTest, NameCheckOnlyWhenAsked) {
    VhdSpec spec;
    spec.allocatedBlocks = {0};
    const auto bytes = testing::buildVhd(spec);
    VhdReader named;
    EXPECT_EQ(named.open(write(bytes, "disk.vhdx")).message(), "Not a vhd file");
    VhdReader upper;
    EXPECT_TRUE(upper.open(write(bytes, "DISK.VHD")));
    VhdReader unchecked;
    unchecked.setRequireName(false);
    EXPECT_TRUE(unchecked.open(write(bytes, "disk.img")));
    EXPECT_EQ(refusalAt(dir.file("missing.vhd")), "Invalid handle ...");

    // The command line goes by the signature, whatever the name.
    const OpenedImage opened = openImage(write(bytes, "disk.bin"));
    ASSERT_TRUE(opened.reader) << opened.error;
    EXPECT_EQ(opened.kind, ImageKind::Vhd);
    VhdSpec fixed;
    fixed.fixed = true;
    fixed.virtualSize = kMiB;
    const OpenedImage flat = openImage(write(fixed, "fixed.raw"));
    ASSERT_TRUE(flat.reader) << flat.error;
    EXPECT_EQ(flat.reader->totalSectors, kMiB / 512);
}

TEST_F(VhdReaderTest, RefusesFilesWithoutVhdStructures) {
    EXPECT_NE(refusal({}).find("no footer"), std::string::npos);
    EXPECT_NE(refusal(std::vector<std::uint8_t>(4096, 0x11)).find("no footer"), std::string::npos);

    VhdSpec spec;
    spec.allocatedBlocks = {0};
    auto noHeader = testing::buildVhd(spec);
    std::memcpy(noHeader.data() + 512, "notsparse", 8);
    EXPECT_NE(refusal(noHeader).find("dynamic disk header"), std::string::npos);

    auto truncated = testing::buildVhd(spec);
    truncated.resize(700);  // inside the dynamic header, before the table
    EXPECT_NE(refusal(truncated).find("block table"), std::string::npos);

    auto unknownType = testing::buildVhd(fixedSpec(kMiB));
    testing::putBe32(unknownType, unknownType.size() - 512 + 60, 7);
    EXPECT_NE(refusal(unknownType).find("disk type 7"), std::string::npos);
}

TEST_F(VhdReaderTest, DifferencingDiskIsReportedWithItsParent) {
    VhdSpec spec;
    spec.differencing = true;
    spec.parentName = "base.vhd";
    spec.allocatedBlocks = {2};
    spec.parentUniqueIdSeed = 0x40;
    write(VhdSpec{}, "base.vhd");  // an empty dynamic disk: the child alone holds data
    const std::string path = write(spec, "child.vhd");
    VhdReader reader;
    ASSERT_TRUE(reader.open(path));
    expectWholeDisk(reader, testing::expectedVhdDisk(spec));
    const ImageInfo info = describeImage(path);
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.format, "VHD");
    EXPECT_EQ(info.version, "1.0");
    EXPECT_TRUE(info.differencing);
    EXPECT_EQ(info.blockSize, 2 * kMiB);
    EXPECT_EQ(info.allocatedBlocks, 1u);
    EXPECT_EQ(info.totalBlocks, 4u);
    EXPECT_NE(std::find(info.notes.begin(), info.notes.end(), "parent image: base.vhd"), info.notes.end());
    EXPECT_EQ(info.parents, std::vector<std::string>{dir.file("base.vhd")});
    EXPECT_EQ(info.parentFormats, std::vector<std::string>{"VHD"});
}

// The child holds blocks 1 and 2 but leaves three sectors of block 2 to its parent (its bytes there are 0xEE);
// blocks 0 and 3 come from the parent, which does not hold block 1. The parent is found by the relative locator,
// or by the absolute one's file name; a parent of another unique ID is refused unless forced, a missing one named.
TEST_F(VhdReaderTest, DifferencingDiskReadsThroughItsParentSectorBySector) {
    VhdSpec base;
    base.uniqueIdSeed = 0x60;
    base.allocatedBlocks = {0, 2, 3};
    write(base, "base.vhd");
    VhdSpec child;
    child.differencing = true;
    child.parentUniqueIdSeed = 0x60;
    child.parentName = "base.vhd";
    child.parentRelativePath = ".\\base.vhd";
    child.parentAbsolutePath = "C:\\VMs\\base.vhd";
    child.allocatedBlocks = {1, 2};
    child.parentSectors = {2 * 4096 + 5, 2 * 4096 + 6, 2 * 4096 + 100};
    const std::string path = write(child, "child.vhd");
    VhdReader reader;
    ASSERT_TRUE(succeeded(reader.open(path)));
    std::vector<std::uint8_t> expected(child.virtualSize);
    for (std::uint64_t i = 0; i < expected.size(); ++i) expected[i] = testing::patternByte(i);
    expectWholeDisk(reader, expected);
    EXPECT_EQ(reader.parentChain(), std::vector<std::string>{dir.file("base.vhd")});

    child.parentRelativePath.clear();
    const std::string absolute = write(child, "absolute.vhd");
    ASSERT_TRUE(succeeded(reader.open(absolute)));
    EXPECT_EQ(testing::readAt(reader, 2 * 2 * kMiB + 5 * 512, 4)[0], testing::patternByte(2 * 2 * kMiB + 5 * 512));

    child.parentUniqueIdSeed = 0x61;
    const std::string stale = write(child, "stale.vhd");
    testing::expectParentRefusedUnlessForced(reader, stale);

    reader.setOverrides({});
    child.parentRelativePath = "gone.vhd";
    child.parentAbsolutePath.clear();
    child.parentName = "gone.vhd";
    const std::string orphan = write(child, "orphan.vhd");
    const Status orphaned = reader.open(orphan);
    EXPECT_NE(orphaned.message().find(dir.file("gone.vhd")), std::string::npos) << orphaned.message();
    EXPECT_NE(orphaned.message().find("name it with --parent"), std::string::npos);
}

// The test-only writer against an independent reader: qemu-img reads its dynamic disk as we do. qemu's VHD driver
// follows no parent and reads a differencing disk's stored blocks whole, so for the child only the sectors the child
// keeps itself can agree; there they must, and the rest of our merged disk comes from the parent.
TEST_F(VhdReaderTest, QemuReadsTheWritersDisksAsWeDo) {
    if (std::system("command -v qemu-img >/dev/null 2>&1") != 0) GTEST_SKIP() << "qemu-img is not installed";
    auto qemuRaw = [&](const std::string& image) {
        const std::string raw = image + ".raw";
        const std::string command = "qemu-img convert -f vpc -O raw '" + image + "' '" + raw + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return testing::readFile(raw);
    };
    VhdSpec base;
    base.creator = "win ";  // qemu takes such a disk's size from the footer, not from its CHS geometry
    base.uniqueIdSeed = 0x60;
    base.allocatedBlocks = {0, 2, 3};
    const std::string basePath = write(base, "base.vhd");
    EXPECT_EQ(qemuRaw(basePath), testing::expectedVhdDisk(base));

    VhdSpec child;
    child.creator = "win ";
    child.differencing = true;
    child.parentUniqueIdSeed = 0x60;
    child.parentName = "base.vhd";
    child.parentRelativePath = ".\\base.vhd";
    child.allocatedBlocks = {1, 2};
    child.parentSectors = {2 * 4096 + 5, 2 * 4096 + 100};
    const std::string childPath = write(child, "child.vhd");
    const std::vector<std::uint8_t> qemu = qemuRaw(childPath);
    VhdReader reader;
    ASSERT_TRUE(succeeded(reader.open(childPath)));
    const std::vector<std::uint8_t> ours = readAt(reader, 0, child.virtualSize);
    ASSERT_EQ(qemu.size(), ours.size());
    const std::vector<std::uint8_t> parent = testing::expectedVhdDisk(base);
    std::uint64_t compared = 0;
    for (std::uint64_t sector = 0; sector < ours.size() / 512; ++sector) {
        const bool childKeepsIt =
            child.allocatedBlocks.count(sector / 4096) != 0 && child.parentSectors.count(sector) == 0;
        const auto at = static_cast<std::ptrdiff_t>(sector * 512);
        const std::vector<std::uint8_t>& want = childKeepsIt ? qemu : parent;
        ASSERT_TRUE(std::equal(ours.begin() + at, ours.begin() + at + 512, want.begin() + at)) << "sector " << sector;
        compared += childKeepsIt;
    }
    EXPECT_EQ(compared, 2 * 4096 - 2u);
}

TEST(VhdHostileInput, AbsurdCountsAndOffsetsAreBounded) {
    TempDir dir;
    VhdSpec spec;
    spec.allocatedBlocks = {0, 1};
    auto f = testing::buildVhd(spec);
    testing::putBe32(f, 512 + 28, 0xFFFFFFFF);  // max table entries
    testing::putBe32(f, 1536 + 4, 0xFFFFFFF0);  // block 1 far past the end of the file
    const std::string path = dir.file("absurd.vhd");
    testing::writeFile(path, f);
    VhdReader reader;
    testing::expectAbsurdTableBounded(reader, path, f.size(), 2 * kMiB);
    EXPECT_EQ(reader.blocksPastEnd(), 1u);

    // An absurd disk size in both footers: the disk is as large as it says, but only the table's blocks map.
    testing::putBe64(f, 48, ~0ULL >> 1);
    testing::putBe64(f, f.size() - 512 + 48, ~0ULL >> 1);
    testing::writeFile(path, f);
    VhdReader huge;
    ASSERT_TRUE(huge.open(path));
    EXPECT_EQ(huge.totalSectors, (~0ULL >> 1) / 512);
    std::vector<std::uint8_t> sector(512);
    EXPECT_FALSE(huge.readAt(std::uint64_t{1} << 50, sector.data(), sector.size()));

    // A table offset outside the file and an unusable block size fall back to the classic layout.
    auto g = testing::buildVhd(spec);
    testing::putBe64(g, 512 + 16, 1ULL << 60);
    testing::putBe32(g, 512 + 32, 3000);
    testing::writeFile(path, g);
    VhdReader fallback;
    ASSERT_TRUE(fallback.open(path));
    EXPECT_EQ(fallback.layout().tableOffset, 1536u);
    EXPECT_EQ(fallback.blockSize(), 2 * kMiB);
    EXPECT_EQ(fallback.layout().notes.size(), 2u);
    std::vector<std::uint8_t> block(512);
    EXPECT_TRUE(fallback.readAt(2 * kMiB + 512, block.data(), block.size()));
    EXPECT_EQ(block[0], testing::patternByte(2 * kMiB + 512));
}

// A table that fills a huge file (made sparse here) is held to the memory ceiling for one table, not to the file.
TEST(VhdHostileInput, TableClaimingMoreThanTheCeilingIsCut) {
    TempDir dir;
    VhdSpec spec;
    auto f = testing::buildVhd(spec);
    testing::putBe32(f, 512 + 28, 0xFFFFFFFF);
    testing::putBe64(f, 48, 1ULL << 50);  // both footers: a disk that needs 2^29 blocks
    const std::vector<std::uint8_t> footer(f.begin(), f.begin() + 512);
    const std::string path = dir.file("huge.vhd");
    testing::writeFile(path, f);
    const std::uint64_t size = 8ULL << 30;
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
    {
        std::FILE* out = std::fopen(path.c_str(), "r+b");
        ASSERT_TRUE(out);
        std::fseek(out, static_cast<long>(size - 512), SEEK_SET);
        std::fwrite(footer.data(), 1, footer.size(), out);
        std::fclose(out);
    }
    ImageFile file;
    ASSERT_TRUE(file.open(path));
    const vhd::Layout layout = vhd::readLayout(file);
    ASSERT_TRUE(layout.status.ok());
    EXPECT_EQ(layout.tableEntries, maxTableEntries(sizeof(std::uint64_t)));
    EXPECT_NE(layout.notes.back().find("the most one table may take in memory"), std::string::npos);
}

// Damage anywhere in the structures must end in a refusal or in reads, never in a crash or a read outside a
// buffer (this runs under the sanitizers too).
TEST(VhdHostileInput, RandomDamageNeverCrashes) {
    VhdSpec spec;
    spec.virtualSize = 5 * kMiB;
    spec.blockSize = 512 * 1024;
    spec.allocatedBlocks = {0, 3, 9};
    const auto pristine = testing::buildVhd(spec);
    testing::openDamagedCopies<VhdReader>(
        pristine, {{0, 40, 512, 512 + 24, 1536, pristine.size() - 512}, 64, 10, 200, 4242}, "damaged.vhd",
        spec.blockSize, 64 * 1024);
}

TEST_F(VhdReaderTest, NeverWritesToTheImage) {
    VhdSpec spec;
    spec.allocatedBlocks = {0, 3};
    VhdReader reader;
    testing::expectReadingLeavesImageAlone(reader, write(spec), spec.virtualSize);
}

}  // namespace
}  // namespace halvard
