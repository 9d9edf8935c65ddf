#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "image/image_info.h"
#include "image/image_kind.h"
#include "image/vdi_reader.h"
#include "support/image_file_test.h"
#include "support/reader_checks.h"
#include "support/vdi_builder.h"
#include "support/vhdx_builder.h"
#include "support/status_check.h"

namespace halvard {
namespace {

using testing::allZero;
using testing::readAt;

using testing::TempDir;
using testing::VdiSpec;

constexpr std::uint64_t kMiB = 1024 * 1024;

class VdiReaderTest : public testing::ImageFileTest<VdiSpec, VdiReader> {
protected:
    VdiReaderTest() : ImageFileTest("disk.vdi", testing::buildVdi, 300 * 1024 + 1536 + 3) {}
};

TEST_F(VdiReaderTest, DynamicImageReadsThroughItsBlockMap) {
    VdiSpec spec;
    spec.virtualSize = 6 * kMiB + 4096;
    spec.allocatedBlocks = {0, 1, 4, 6};
    spec.zeroBlocks = {2};
    VdiReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_EQ(reader.allocatedBlocks(), 4u);
    EXPECT_EQ(reader.zeroBlocks(), 1u);
    expectWholeDisk(reader, testing::expectedVdiDisk(spec));

    // The last sector of block 1, then the zero block: one sector of data, then zeros, and no failure.
    bool ok = false;
    const auto got = readAt(reader, static_cast<std::uint64_t>(2 * kMiB - 512), 4096, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(got[7], testing::patternByte(2 * kMiB - 512 + 7));
    EXPECT_TRUE(allZero(got, 512));
    EXPECT_FALSE(reader.storedRun(2 * kMiB, 512).stored);
    std::vector<std::uint8_t> beyond(512);
    EXPECT_FALSE(reader.readAt(reader.blockMap.size() * kMiB, beyond.data(), beyond.size()));
}

TEST_F(VdiReaderTest, ZeroBlocksReadAsZerosWhateverTheFileHolds) {
    // 0xFFFFFFFE taken as an index would point far past the data; it must read as zeros.
    VdiSpec spec;
    spec.virtualSize = 2 * kMiB;
    spec.allocatedBlocks = {1};
    spec.zeroBlocks = {0};
    VdiReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_EQ(reader.blockMap[0], 0xFFFFFFFEu);
    bool ok = false;
    const auto got = readAt(reader, 0, kMiB, &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(allZero(got));
    EXPECT_EQ(reader.blocksPastEnd(), 0u);
}

TEST_F(VdiReaderTest, BlockOffsetIsIndexTimesBlockSizePlusDataOffset) {
    // 1 MiB blocks, data at 0x200000, block 0 stored as index 3: byte 4096 lies at 3 x 1 MiB + 0x200000 + 4096.
    VdiSpec spec;
    spec.virtualSize = 4 * kMiB;
    spec.dataOffset = 0x200000;
    spec.allocatedBlocks = {0, 1, 2, 3};  // stored last first: block 0 gets index 3
    auto bytes = testing::buildVdi(spec);
    std::memcpy(bytes.data() + 3 * kMiB + 0x200000 + 4096, "here", 4);
    VdiReader reader;
    ASSERT_TRUE(reader.open(write(bytes)));
    EXPECT_EQ(reader.blockMap[0], 3u);
    const auto got = readAt(reader, 4096, 4);
    EXPECT_EQ(std::string(got.begin(), got.end()), "here");
}

TEST_F(VdiReaderTest, FixedImagesAndExtraBytesPerBlock) {
    VdiSpec fixed;
    fixed.imageType = 2;
    fixed.virtualSize = 5 * kMiB;
    fixed.blockSize = 512 * 1024;
    VdiReader reader;
    ASSERT_TRUE(reader.open(write(fixed)));
    EXPECT_EQ(reader.allocatedBlocks(), 10u);
    expectWholeDisk(reader, testing::expectedVdiDisk(fixed));

    // Bytes kept in front of each block's data are skipped.
    VdiSpec extra;
    extra.virtualSize = 3 * kMiB;
    extra.blockExtra = 4096;
    extra.allocatedBlocks = {0, 2};
    VdiReader withExtra;
    ASSERT_TRUE(withExtra.open(write(extra, "extra.vdi")));
    expectWholeDisk(withExtra, testing::expectedVdiDisk(extra));
    VdiSpec extraFixed = fixed;
    extraFixed.blockExtra = 512;
    VdiReader fixedExtra;
    ASSERT_TRUE(fixedExtra.open(write(extraFixed, "fixed-extra.vdi")));
    expectWholeDisk(fixedExtra, testing::expectedVdiDisk(extraFixed));
}

TEST_F(VdiReaderTest, AnEmptyImageOpensAndReadsAsZeros) {
    // A freshly created dynamic image has no allocated block; it is a valid disk of zeros.
    VdiSpec spec;
    spec.virtualSize = 2 * kMiB;
    VdiReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    bool ok = false;
    EXPECT_TRUE(allZero(readAt(reader, 0, 2 * kMiB, &ok)));
    EXPECT_TRUE(ok);
}

TEST_F(VdiReaderTest, RefusesHeadersItCannotReadWith) {
    VdiSpec spec;
    spec.allocatedBlocks = {0};
    const auto good = testing::buildVdi(spec);
    auto with32 = [&](std::size_t at, std::uint32_t v) {
        auto f = good;
        testing::putLe32(f, at, v);
        return refusal(f);
    };
    EXPECT_NE(with32(376, 0).find("block size"), std::string::npos);
    EXPECT_NE(with32(376, 3000).find("block size"), std::string::npos);
    EXPECT_NE(with32(376, 1U << 31).find("block size"), std::string::npos);
    EXPECT_NE(with32(380, 0xFFFFFFF0).find("extra bytes"), std::string::npos);
    EXPECT_NE(with32(72, 0).find("damaged"), std::string::npos);
    EXPECT_NE(with32(68, 0x00010000).find("version 1.0"), std::string::npos);
    auto sizeless = good;
    testing::putLe64(sizeless, 368, 0);
    EXPECT_NE(refusal(sizeless).find("damaged"), std::string::npos);
    EXPECT_NE(refusal(std::vector<std::uint8_t>(good.begin(), good.begin() + 400)).find("cut short"),
              std::string::npos);
    EXPECT_EQ(refusalAt(dir.file("missing.vdi")), "Invalid handle ...");
}

TEST_F(VdiReaderTest, InfoAndDetection) {
    VdiSpec spec;
    spec.imageType = 4;
    spec.allocatedBlocks = {1, 2};
    spec.zeroBlocks = {5};
    const std::string path = write(spec, "child.bin");
    VdiSpec parentSpec;
    parentSpec.uuidSeed = 0x80;
    write(parentSpec, "parent.vdi");
    const OpenedImage opened = openImage(path);
    ASSERT_TRUE(opened.reader) << opened.error;
    EXPECT_EQ(opened.kind, ImageKind::Vdi);
    const ImageInfo info = describeImage(path);
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.format, "VDI");
    EXPECT_EQ(info.version, "1.1");
    EXPECT_EQ(info.virtualSize, spec.virtualSize);
    EXPECT_EQ(info.blockSize, kMiB);
    EXPECT_EQ(info.totalBlocks, 8u);
    EXPECT_EQ(info.allocatedBlocks, 2u);
    EXPECT_TRUE(info.differencing);
    EXPECT_EQ(info.parents, std::vector<std::string>{dir.file("parent.vdi")});
    EXPECT_EQ(info.parentFormats, std::vector<std::string>{"VDI"});
}

// A snapshot's differencing image in Snapshots/ reads its unallocated blocks from the parent it names by UUID in
// the folder above; zero blocks hide the parent's data. Another parent is refused unless forced, a missing one named.
TEST_F(VdiReaderTest, DifferencingImageReadsThroughItsParent) {
    std::filesystem::create_directory(dir.file("Snapshots"));
    VdiSpec base;
    base.uuidSeed = 0x20;
    base.modificationSeed = 0x30;
    base.allocatedBlocks = {0, 2, 3, 5};
    write(base, "base.vdi");
    VdiSpec other;
    other.uuidSeed = 0x50;
    write(other, "other.vdi");
    VdiSpec child;
    child.imageType = 4;
    child.parentSeed = 0x20;
    child.parentModificationSeed = 0x30;
    child.allocatedBlocks = {1, 6};
    child.zeroBlocks = {2};
    const std::string path = write(child, "Snapshots/{child}.vdi");
    VdiReader reader;
    ASSERT_TRUE(succeeded(reader.open(path)));
    std::vector<std::uint8_t> expected(child.virtualSize, 0);
    for (std::uint64_t block : {0, 1, 3, 5, 6})
        for (std::uint64_t i = block * kMiB; i < (block + 1) * kMiB; ++i) expected[i] = testing::patternByte(i);
    testing::expectWholeDisk(reader, expected, 300 * 1024 + 7);
    EXPECT_EQ(reader.parentChain(), std::vector<std::string>{dir.file("base.vdi")});
    EXPECT_TRUE(reader.parentNotes().empty());

    ImageOverrides wrong;
    wrong.parentPath = dir.file("other.vdi");
    testing::expectParentRefusedUnlessForced(reader, path, wrong);
    ASSERT_FALSE(reader.parentNotes().empty());  // another UUID, and another modification UUID too
    EXPECT_NE(reader.parentNotes()[0].find("read through it as asked"), std::string::npos);

    child.parentSeed = 0x70;
    const std::string orphan = write(child, "orphan.vdi");
    reader.setOverrides({});
    const Status orphaned = reader.open(orphan);
    EXPECT_NE(orphaned.message().find("name it with --parent"), std::string::npos) << orphaned.message();
}

TEST(VdiHostileInput, AbsurdCountsAndOffsetsAreBounded) {
    TempDir dir;
    VdiSpec spec;
    spec.allocatedBlocks = {0, 1};
    auto f = testing::buildVdi(spec);
    testing::putLe32(f, 384, 0xFFFFFFFF);          // number of blocks
    testing::putLe32(f, 512 + 4, 0xFFFFFFF0);      // block 1 at an index far past the file
    const std::string path = dir.file("absurd.vdi");
    testing::writeFile(path, f);
    VdiReader reader;
    testing::expectAbsurdTableBounded(reader, path, f.size(), kMiB);
    EXPECT_EQ(reader.blocksPastEnd(), 1u);

    // A block map past the end of the file: nothing could be read, so the image is refused.
    auto g = testing::buildVdi(spec);
    testing::putLe32(g, 340, 0xFFFFFF00);
    testing::writeFile(path, g);
    VdiReader mapless;
    EXPECT_NE(mapless.open(path).message().find("block map"), std::string::npos);
}

TEST(VdiHostileInput, RandomDamageNeverCrashes) {
    VdiSpec spec;
    spec.virtualSize = 3 * kMiB;
    spec.blockSize = 256 * 1024;
    spec.allocatedBlocks = {0, 5, 11};
    testing::openDamagedCopies<VdiReader>(testing::buildVdi(spec), {{64, 336, 368, 380, 512}, 48, 8, 200, 777},
                                          "damaged.vdi", spec.blockSize, 64 * 1024);
}

}  // namespace
}  // namespace halvard
