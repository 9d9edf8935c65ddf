#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

#include "image/device_slice.h"
#include "image/vhdx_reader.h"
#include "support/image_file_test.h"
#include "support/put_bytes.h"
#include "support/reader_checks.h"
#include "support/status_check.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

ImageOverrides geometry(std::int64_t diskSize, std::uint32_t blockSize, std::uint32_t sectorSize) {
    ImageOverrides overrides;
    overrides.userDiskSize = diskSize;
    overrides.userBlockSize = blockSize;
    overrides.userLogicalSectorSize = sectorSize;
    return overrides;
}


using testing::readAt;

using testing::TempDir;
using testing::VhdxSpec;

constexpr std::uint64_t kMiB = 1024 * 1024;

struct RecordingMessages final : MessageSink {
    std::vector<std::string> shown;
    void information(const std::string& text) override { shown.push_back(text); }
    bool question(const std::string&) override { return false; }
};

class VhdxReaderTest : public testing::ImageFileTest<VhdxSpec, VhdxReader> {
protected:
    VhdxReaderTest() : ImageFileTest("disk.vhdx", testing::buildVhdx, 777 * 1024 + 512) {}
};

TEST_F(VhdxReaderTest, ReadsTheWholeDiskAsTheImageHoldsIt) {
    VhdxSpec spec;
    spec.virtualSize = 8 * kMiB;
    spec.allocatedBlocks = {0, 2, 3, 7};
    VhdxReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_EQ(reader.totalSectors, spec.virtualSize / 512);
    EXPECT_EQ(reader.sectorsPerBlock(), 2048u);
    EXPECT_EQ(reader.allocatedBlocks(), 4u);
    expectWholeDisk(reader, testing::expectedDisk(spec));
}

// A reader opened again on another image must not read through the first image's parent.
TEST_F(VhdxReaderTest, ReopenedReaderForgetsTheEarlierParent) {
    VhdxSpec base;
    base.allocatedBlocks = {1};
    const std::string basePath = write(base, "base.vhdx");
    VhdxSpec child;
    child.hasParent = true;
    ImageOverrides overrides;
    overrides.parentPath = basePath;
    overrides.forceParent = true;  // the built child carries no parent linkage
    VhdxReader reader;
    reader.setOverrides(overrides);
    ASSERT_TRUE(succeeded(reader.open(write(child, "child.avhdx"))));
    ASSERT_EQ(reader.parentChain(), std::vector<std::string>{basePath});
    EXPECT_FALSE(reader.parentNotes().empty());
    EXPECT_EQ(readAt(reader, kMiB + 5, 1)[0], testing::patternByte(kMiB + 5));

    reader.setOverrides({});
    ASSERT_TRUE(succeeded(reader.open(write(VhdxSpec{}, "plain.vhdx"))));
    EXPECT_TRUE(reader.parentChain().empty());
    EXPECT_TRUE(reader.parentNotes().empty());
    EXPECT_EQ(readAt(reader, kMiB + 5, 1)[0], 0);
}

TEST_F(VhdxReaderTest, SectorLevelEdgeCases) {
    VhdxSpec spec;
    spec.virtualSize = 4 * kMiB;
    spec.allocatedBlocks = {0, 2};
    VhdxReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    const auto expected = testing::expectedDisk(spec);
    bool ok = false;

    // 4096 bytes from the last sector of an allocated block into an unallocated one.
    auto got = readAt(reader, static_cast<std::uint64_t>(kMiB - 512), 4096, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(0, std::memcmp(got.data(), expected.data() + kMiB - 512, 512));
    EXPECT_TRUE(std::all_of(got.begin() + 512, got.end(), [](auto b) { return b == 0; }));

    // One sector of an unallocated block: zeros and true; the flag then describes the next sector.
    got = readAt(reader, static_cast<std::uint64_t>(kMiB), 512, &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(std::all_of(got.begin(), got.end(), [](auto b) { return b == 0; }));
    EXPECT_FALSE(reader.storedRun(kMiB, 512).stored);
    EXPECT_TRUE(reader.storedRun(2 * kMiB, 512).stored);  // allocated block 2

    // 1023 bytes: one whole sector and 511 bytes of the next.
    got = readAt(reader, 0, 1023, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(0, std::memcmp(got.data(), expected.data(), 1023));

    // An offset inside a sector reads from that byte.
    got = readAt(reader, 2 * kMiB + 100, 10, &ok);
    EXPECT_EQ(0, std::memcmp(got.data(), expected.data() + 2 * kMiB + 100, 10));

    // The last sector of the map reads fine.
    got = readAt(reader, static_cast<std::uint64_t>(spec.virtualSize - 512), 512, &ok);
    EXPECT_TRUE(ok);

    // A block index equal to the map's length is beyond it.
    EXPECT_FALSE(reader.readAt(reader.blockMap.size() * kMiB, got.data(), 512));
    // A read past the map is served as zeros and reported.
    got = readAt(reader, static_cast<std::uint64_t>(reader.blockMap.size() * kMiB - 512), 1024, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(std::all_of(got.begin() + 512, got.end(), [](auto b) { return b == 0; }));
}

TEST_F(VhdxReaderTest, ASliceMakesOffsetsVolumeRelative) {
    VhdxSpec spec;
    spec.virtualSize = 4 * kMiB;
    spec.allocatedBlocks = {1};
    auto reader = std::make_shared<VhdxReader>();
    ASSERT_TRUE(reader->open(write(spec)));
    const auto expected = testing::expectedDisk(spec);
    const DeviceSlice volume(reader, kMiB, 2 * kMiB, "volume 0");
    std::vector<std::uint8_t> data(1536);
    ASSERT_TRUE(volume.readAt(0, data.data(), 512));
    ASSERT_TRUE(volume.readAt(512, data.data() + 512, 1024));
    EXPECT_EQ(0, std::memcmp(data.data(), expected.data() + kMiB, data.size()));
    // Past the slice's end nothing is read, though the disk goes on.
    EXPECT_FALSE(volume.readAt(2 * kMiB - 512, data.data(), 1024));
    EXPECT_TRUE(std::all_of(data.begin() + 512, data.begin() + 1024, [](auto b) { return b == 0; }));
    EXPECT_EQ(volume.storedRun(0, 4 * kMiB).length, kMiB);
    EXPECT_FALSE(volume.storedRun(kMiB, 4 * kMiB).stored);
}

TEST_F(VhdxReaderTest, BatSkipsSectorBitmapEntriesByChunkRatio) {
    // 10 GiB with 32 MiB blocks and 512-byte sectors: chunk ratio 128, so BAT entry 128 is a bitmap entry.
    VhdxSpec spec;
    spec.virtualSize = 10ULL * 1024 * kMiB;
    spec.blockSize = 32 * kMiB;
    spec.allocatedBlocks = {127, 128};
    VhdxReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_EQ(reader.chunkRatio(), 128u);
    EXPECT_EQ(reader.sectorsPerBlock(), 65536u);
    ASSERT_GE(reader.blockMap.size(), 256u);
    EXPECT_NE(reader.blockMap[127], 0u);
    EXPECT_NE(reader.blockMap[128], 0u);
    EXPECT_EQ(reader.blockMap[128] - reader.blockMap[127], 32u * 2048);
    std::vector<std::uint8_t> data(512);
    ASSERT_TRUE(reader.readAt(128 * 32 * kMiB + 10 * 512, data.data(), 512));
    EXPECT_EQ(data[3], testing::patternByte(128 * 32 * kMiB + 10 * 512 + 3));

    spec.logicalSectorSize = 4096;
    spec.allocatedBlocks = {0};
    VhdxReader big;
    ASSERT_TRUE(big.open(write(spec, "4k.vhdx")));
    EXPECT_EQ(big.chunkRatio(), 1024u);
    EXPECT_EQ(big.logicalSectorSize(), 4096u);
}

TEST_F(VhdxReaderTest, FindsRegionsAndItemsByGuidWhateverTheirOrder) {
    // Metadata region listed first, and a page-83 item between the disk size and the sector size: reading by
    // position would take the page-83 bytes as the sector size.
    VhdxSpec spec;
    spec.logicalSectorSize = 4096;
    spec.metadataRegionFirst = true;
    spec.page83BeforeSectorSize = true;
    spec.allocatedBlocks = {0, 5};
    VhdxReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_TRUE(reader.layout().regionsByGuid);
    EXPECT_TRUE(reader.layout().metadataByGuid);
    EXPECT_EQ(reader.logicalSectorSize(), 4096u);
    EXPECT_EQ(reader.layout().physicalSectorSize, 4096u);
    EXPECT_EQ(reader.virtualDiskSize(), spec.virtualSize);
    const auto expected = testing::expectedDisk(spec);
    std::vector<std::uint8_t> data(spec.virtualSize);
    ASSERT_TRUE(reader.readAt(0, data.data(), data.size()));
    EXPECT_EQ(data, expected);
}

TEST_F(VhdxReaderTest, FallsBackToPositionsWithoutKnownGuids) {
    VhdxSpec spec;
    spec.withGuids = false;
    spec.page83BeforeSectorSize = false;  // the older reading expects exactly params, size, sector size
    spec.allocatedBlocks = {1};
    VhdxReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_FALSE(reader.layout().regionsByGuid);
    EXPECT_EQ(reader.blockSize(), spec.blockSize);
    EXPECT_EQ(reader.virtualDiskSize(), spec.virtualSize);

    // Metadata first: the table at entry 1 (the BAT) shows no items, the one at entry 0 lists four, not five,
    // so the older rule keeps entry 1 and finds no geometry.
    spec.metadataRegionFirst = true;
    VhdxReader misplaced;
    EXPECT_NE(misplaced.open(write(spec, "meta-first.vhdx")).message().find("block size"), std::string::npos);
}

TEST_F(VhdxReaderTest, DamagedRegionTableFallsBackToItsCopy) {
    VhdxSpec spec;
    spec.damagePrimaryRegionTable = true;
    spec.allocatedBlocks = {0};
    VhdxReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_EQ(reader.layout().regionTableOffset, 256u * 1024);
    EXPECT_EQ(reader.allocatedBlocks(), 1u);
}

TEST_F(VhdxReaderTest, RefusesWhatItCannotReadWithTheUsersMessage) {
    RecordingMessages messages;
    auto openWith = [&](const std::string& path, const ImageOverrides& overrides = {}) {
        VhdxReader reader;
        reader.setMessageSink(&messages);
        reader.setOverrides(overrides);
        const Status opened = reader.open(path);
        return std::make_pair(opened.ok(), opened.message());
    };
    VhdxSpec spec;
    spec.allocatedBlocks = {0};
    const std::string good = write(spec);

    EXPECT_EQ(openWith(write(spec, "disk.vhd")), std::make_pair(false, std::string("not a vhd file")));
    EXPECT_TRUE(openWith(write(spec, "disk.VHDX")).first);
    EXPECT_TRUE(openWith(write(spec, "snap.avhdx")).first);
    EXPECT_EQ(openWith(dir.file("missing.vhdx")).second, "invalid handle ...");
    EXPECT_EQ(messages.shown.back(), "invalid handle ...");

    VhdxSpec one = spec;
    one.regionEntryCount = 1;
    EXPECT_EQ(openWith(write(one, "one.vhdx")).second, "Region entry corrupt");

    testing::writeFile(dir.file("empty.vhdx"), {});
    EXPECT_EQ(openWith(dir.file("empty.vhdx")).second, "Region entry corrupt");
    auto truncated = testing::buildVhdx(spec);
    truncated.resize(200 * 1024);  // cut inside the first region table
    testing::writeFile(dir.file("cut.vhdx"), truncated);
    EXPECT_FALSE(openWith(dir.file("cut.vhdx")).first);

    VhdxSpec odd = spec;
    odd.blockSize = 3 * 512 * 1024;
    EXPECT_NE(openWith(write(odd, "odd.vhdx")).second.find("block size"), std::string::npos);
    VhdxSpec sectors = spec;
    sectors.logicalSectorSize = 1024;
    EXPECT_NE(openWith(write(sectors, "sectors.vhdx")).second.find("sector size"), std::string::npos);
    // The user's override mends what the image states.
    EXPECT_TRUE(openWith(write(sectors, "mended.vhdx"), geometry(0, 0, 512)).first);
    EXPECT_NE(openWith(good, geometry(0, 1000, 0)).second.find("block size"), std::string::npos);
}

TEST_F(VhdxReaderTest, OverridesReplaceTheImagesGeometry) {
    VhdxSpec spec;
    spec.blockSize = 2 * kMiB;
    spec.allocatedBlocks = {0};
    const std::string path = write(spec);
    VhdxReader reader;
    reader.setOverrides(geometry(static_cast<std::uint64_t>(16 * kMiB), static_cast<std::uint32_t>(kMiB), 0));
    ASSERT_TRUE(reader.open(path));
    EXPECT_EQ(reader.blockSize(), kMiB);
    EXPECT_EQ(reader.sectorsPerBlock(), 2048u);
    EXPECT_EQ(reader.chunkRatio(), 4096u);
    EXPECT_EQ(reader.totalSectors, 16 * kMiB / 512);
}

TEST_F(VhdxReaderTest, BlocksPastTheEndOfATruncatedImageReadAsZerosAndAreReported) {
    VhdxSpec spec;
    spec.allocatedBlocks = {0, 1};
    spec.payloadPastEnd = kMiB + 4096;  // the last block and a bit of the one before are missing
    VhdxReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_EQ(reader.blocksPastEnd(), 1u);
    const auto expected = testing::expectedDisk(spec);
    std::vector<std::uint8_t> data(2 * kMiB);
    EXPECT_FALSE(reader.readAt(0, data.data(), data.size()));
    EXPECT_EQ(0, std::memcmp(data.data(), expected.data(), kMiB - 4096));
    EXPECT_TRUE(std::all_of(data.begin() + kMiB - 4096, data.end(), [](auto b) { return b == 0; }));
}

TEST_F(VhdxReaderTest, NeverWritesToTheImage) {
    VhdxSpec spec;
    spec.allocatedBlocks = {0, 3};
    VhdxReader reader;
    testing::expectReadingLeavesImageAlone(reader, write(spec), spec.virtualSize);
}

TEST(VhdxHostileInput, AbsurdCountsAndOffsetsAreBounded) {
    testing::TempDir dir;
    testing::VhdxSpec spec;
    spec.allocatedBlocks = {0, 1};
    auto f = testing::buildVhdx(spec);
    // Both region tables claim four billion entries; the BAT entry of block 1 points 2^43 MiB into the file;
    // the metadata table claims 65535 items.
    testing::putLe32(f, 192 * 1024 + 8, 0xFFFFFFFF);
    testing::putLe32(f, 256 * 1024 + 8, 0xFFFFFFFF);
    for (int i = 0; i < 8; ++i) f[3 * 1024 * 1024 + 8 + i] = 0xFF;
    f[2 * 1024 * 1024 + 10] = 0xFF;
    f[2 * 1024 * 1024 + 11] = 0xFF;
    const std::string path = dir.file("absurd.vhdx");
    testing::writeFile(path, f);
    VhdxReader reader;
    ASSERT_TRUE(reader.open(path));
    EXPECT_EQ(reader.layout().regionTable.entries.size(), vhdx::kMaxRegionEntries);
    EXPECT_EQ(reader.blocksPastEnd(), 1u);
    std::vector<std::uint8_t> data(2 * 1024 * 1024);
    EXPECT_FALSE(reader.readAt(0, data.data(), data.size()));
    EXPECT_EQ(data[5], testing::patternByte(5));
    EXPECT_TRUE(std::all_of(data.begin() + 1024 * 1024, data.end(), [](auto b) { return b == 0; }));
}

// Damage anywhere in the structures must end in a refusal or in reads, never in a crash or a read outside a
// buffer (this runs under the sanitizers too).
TEST(VhdxHostileInput, RandomDamageNeverCrashes) {
    testing::VhdxSpec spec;
    spec.virtualSize = 3 * 1024 * 1024;
    spec.allocatedBlocks = {0, 2};
    const testing::Damage damage{{0, 64 * 1024, 128 * 1024, 192 * 1024, 256 * 1024, 2 * 1024 * 1024,
                                  2 * 1024 * 1024 + 64 * 1024, 3 * 1024 * 1024},
                                 96, 12, 150, 12345};
    testing::openDamagedCopies<VhdxReader>(testing::buildVhdx(spec), damage, "damaged.vhdx", spec.blockSize, 64 * 1024);
}

TEST(ReaderOffsets, OffsetsNearTheLimitAreRefusedNotWrapped) {
    testing::TempDir dir;
    testing::VhdxSpec spec;
    spec.allocatedBlocks = {0};
    const std::string path = dir.file("d.vhdx");
    testing::writeFile(path, testing::buildVhdx(spec));
    VhdxReader reader;
    ASSERT_TRUE(reader.open(path));
    std::vector<std::uint8_t> data(4096, 0xEE);
    EXPECT_FALSE(reader.readAt(UINT64_MAX - 1000, data.data(), data.size()));
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](auto b) { return b == 0; }));
    std::fill(data.begin(), data.end(), 0xEE);
    const DeviceSlice high(DevicePtr(DevicePtr(), &reader), 512, UINT64_MAX - 512, "volume 0");
    EXPECT_FALSE(high.readAt(UINT64_MAX - 1000, data.data(), data.size()));
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](auto b) { return b == 0; }));
}

}  // namespace
}  // namespace halvard
