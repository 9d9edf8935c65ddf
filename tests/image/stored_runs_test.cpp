// Every reader's answer to "what does the image store" against the map it was built with, through chains and
// host-file holes, and the scan helper that jumps over what is not stored.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "image/device_slice.h"
#include "image/piece_read.h"
#include "image/qcow2_reader.h"
#include "image/raw_reader.h"
#include "image/unstored_skip.h"
#include "image/vdi_reader.h"
#include "image/vhd_reader.h"
#include "image/vhdx_reader.h"
#include "image/vmdk_reader.h"
#include "support/qcow2_builder.h"
#include "support/reader_checks.h"
#include "support/vdi_builder.h"
#include "support/vhd_builder.h"
#include "support/vhdx_builder.h"
#include "support/vmdk_builder.h"
#include "support/status_check.h"

namespace halvard {
namespace {

using testing::TempDir;

constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * 1024;

using Ranges = std::vector<std::pair<std::uint64_t, std::uint64_t>>;  // [start, end) of stored bytes

// The stored ranges of the whole disk as the reader tells them, asking with `limit` (small limits make many
// questions, each answer must keep within it).
Ranges storedRanges(const DiskReader& reader, std::uint64_t limit = ~0ULL) {
    Ranges ranges;
    const std::uint64_t end = reader.totalSectors * 512;
    for (std::uint64_t at = 0; at < end;) {
        const StoredRun run = reader.storedRun(at, std::min(limit, end - at));
        EXPECT_GE(run.length, 1u);
        EXPECT_LE(run.length, std::min(limit, end - at));
        if (run.length == 0) break;
        if (run.stored) {
            if (!ranges.empty() && ranges.back().second == at)
                ranges.back().second = at + run.length;
            else
                ranges.emplace_back(at, at + run.length);
        }
        at += run.length;
    }
    return ranges;
}

// Blocks of `blockSize` listed in `blocks`, joined where they touch.
Ranges blockRanges(const std::set<std::uint64_t>& blocks, std::uint64_t blockSize) {
    Ranges ranges;
    for (const std::uint64_t b : blocks) {
        if (!ranges.empty() && ranges.back().second == b * blockSize)
            ranges.back().second += blockSize;
        else
            ranges.emplace_back(b * blockSize, (b + 1) * blockSize);
    }
    return ranges;
}

// What is not stored must read as zeros: that is what lets a scan jump over it.
void expectUnstoredReadsZero(DiskReader& reader) {
    const Ranges stored = storedRanges(reader);
    const std::uint64_t end = reader.totalSectors * 512;
    const std::vector<std::uint8_t> disk = testing::readAt(reader, 0, end);
    std::uint64_t at = 0;
    for (const auto& [start, stop] : stored) {
        for (std::uint64_t i = at; i < start; ++i) ASSERT_EQ(disk[i], 0) << "unstored byte " << i << " is not zero";
        at = stop;
    }
    for (std::uint64_t i = at; i < end; ++i) ASSERT_EQ(disk[i], 0) << "unstored byte " << i << " is not zero";
}

template <typename Reader>
std::unique_ptr<Reader> openBuilt(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    testing::writeFile(path, bytes);
    auto reader = std::make_unique<Reader>();
    EXPECT_TRUE(succeeded(reader->open(path)));
    return reader;
}

class StoredRunsTest : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(StoredRunsTest, DynamicFormatsAnswerByTheirBlockMaps) {
    testing::VhdxSpec vhdx;
    vhdx.allocatedBlocks = {0, 3, 4, 7};
    auto vhdxReader = openBuilt<VhdxReader>(dir.file("d.vhdx"), testing::buildVhdx(vhdx));
    EXPECT_EQ(storedRanges(*vhdxReader), blockRanges(vhdx.allocatedBlocks, kMiB));
    EXPECT_EQ(storedRanges(*vhdxReader, 300 * kKiB), blockRanges(vhdx.allocatedBlocks, kMiB));
    expectUnstoredReadsZero(*vhdxReader);

    testing::VhdSpec vhd;
    vhd.allocatedBlocks = {1, 3};
    auto vhdReader = openBuilt<VhdReader>(dir.file("d.vhd"), testing::buildVhd(vhd));
    EXPECT_EQ(storedRanges(*vhdReader), blockRanges(vhd.allocatedBlocks, 2 * kMiB));
    expectUnstoredReadsZero(*vhdReader);

    testing::VhdSpec fixed;
    fixed.fixed = true;
    auto fixedReader = openBuilt<VhdReader>(dir.file("f.vhd"), testing::buildVhd(fixed));
    EXPECT_EQ(storedRanges(*fixedReader), (Ranges{{0, 8 * kMiB}}));

    // Zero blocks are marked, not stored.
    testing::VdiSpec vdi;
    vdi.allocatedBlocks = {0, 1, 5};
    vdi.zeroBlocks = {2, 6};
    auto vdiReader = openBuilt<VdiReader>(dir.file("d.vdi"), testing::buildVdi(vdi));
    EXPECT_EQ(storedRanges(*vdiReader), blockRanges(vdi.allocatedBlocks, kMiB));
    expectUnstoredReadsZero(*vdiReader);
}

TEST_F(StoredRunsTest, SparseVmdkAndQcow2AnswerByGrainsAndClustersCompressedOnesIncluded) {
    testing::VmdkSpec vmdk;
    vmdk.allocatedGrains = {0, 1, 40, 127};
    vmdk.zeroGrains = {2, 41};
    auto vmdkReader = openBuilt<VmdkReader>(dir.file("d.vmdk"), testing::buildVmdk(vmdk));
    EXPECT_EQ(storedRanges(*vmdkReader), blockRanges(vmdk.allocatedGrains, 64 * kKiB));
    expectUnstoredReadsZero(*vmdkReader);

    vmdk.compressed = true;
    vmdk.version = 3;
    vmdk.createType = "streamOptimized";
    auto compressed = openBuilt<VmdkReader>(dir.file("c.vmdk"), testing::buildVmdk(vmdk));
    EXPECT_EQ(storedRanges(*compressed), blockRanges(vmdk.allocatedGrains, 64 * kKiB));

    testing::Qcow2Builder qcow2({});
    const std::uint64_t cluster = qcow2.clusterSize();
    qcow2.addDataCluster(0);
    qcow2.addDataCluster(1);
    qcow2.addCompressedCluster(5);
    qcow2.setEntry(6, qcow2::kZeroFlag);  // reads as zeros: not stored
    qcow2.addDataCluster(200);
    auto qcow2Reader = openBuilt<Qcow2Reader>(dir.file("d.qcow2"), qcow2.bytes());
    EXPECT_EQ(storedRanges(*qcow2Reader), blockRanges({0, 1, 5, 200}, cluster));
    expectUnstoredReadsZero(*qcow2Reader);
    // Only data clusters lie as they are in the file, for a copy to take them from there.
    EXPECT_TRUE(qcow2Reader->fileStretch(0, cluster).has_value());
    EXPECT_FALSE(qcow2Reader->fileStretch(5 * cluster, cluster).has_value());
    EXPECT_FALSE(qcow2Reader->fileStretch(6 * cluster, cluster).has_value());
    EXPECT_FALSE(compressed->fileStretch(0, 512).has_value());
    EXPECT_TRUE(vmdkReader->fileStretch(0, 64 * kKiB).has_value());
}

// A child stores some blocks and leaves the rest to its parent: a block is stored when any link stores it.
TEST_F(StoredRunsTest, ChainsAskTheParentForWhatTheChildLeavesToIt) {
    testing::Qcow2Builder base({});
    const std::uint64_t cluster = base.clusterSize();
    base.addDataCluster(2);
    base.addDataCluster(3);
    base.addDataCluster(100);
    testing::writeFile(dir.file("base.qcow2"), base.bytes());
    testing::Qcow2Spec childSpec;
    childSpec.backingName = "base.qcow2";
    testing::Qcow2Builder child(childSpec);
    child.addDataCluster(0);
    child.setEntry(3, qcow2::kZeroFlag);  // the child zeroes what the parent holds
    child.addDataCluster(50);
    auto reader = openBuilt<Qcow2Reader>(dir.file("child.qcow2"), child.bytes());
    EXPECT_EQ(storedRanges(*reader), blockRanges({0, 2, 50, 100}, cluster));
    expectUnstoredReadsZero(*reader);

    // A differencing VHD whose bitmap leaves sectors of a stored block to a parent that stores nothing there.
    testing::VhdSpec parent;
    parent.allocatedBlocks = {0};
    testing::writeFile(dir.file("parent.vhd"), testing::buildVhd(parent));
    testing::VhdSpec diff;
    diff.differencing = true;
    diff.parentName = "parent.vhd";
    diff.parentRelativePath = ".\\parent.vhd";
    diff.uniqueIdSeed = 0x60;
    diff.parentUniqueIdSeed = 0x40;
    diff.allocatedBlocks = {2};
    for (std::uint64_t s = 2 * 4096 + 8; s < 2 * 4096 + 16; ++s) diff.parentSectors.insert(s);
    auto vhd = openBuilt<VhdReader>(dir.file("diff.vhd"), testing::buildVhd(diff));
    EXPECT_EQ(storedRanges(*vhd), (Ranges{{0, 2 * kMiB}, {4 * kMiB, 4 * kMiB + 4 * kKiB}, {4 * kMiB + 8 * kKiB, 6 * kMiB}}));
    expectUnstoredReadsZero(*vhd);
}

// Each level of a deep chain holds its own scattered clusters; the answers join over the whole chain, whatever
// the width of the questions.
TEST_F(StoredRunsTest, DeepChainsWithScatteredClustersAnswerEveryClusterOnce) {
    constexpr unsigned kDepth = 24;
    std::set<std::uint64_t> stored;
    std::string below;
    std::uint64_t cluster = 0;
    for (unsigned level = 0; level < kDepth; ++level) {
        testing::Qcow2Spec spec;
        spec.backingName = below;
        testing::Qcow2Builder image(spec);
        cluster = image.clusterSize();
        for (std::uint64_t c = level; c < 256; c += kDepth + 3) {
            image.addDataCluster(c);
            stored.insert(c);
        }
        below = "level" + std::to_string(level) + ".qcow2";
        testing::writeFile(dir.file(below), image.bytes());
    }
    auto reader = std::make_unique<Qcow2Reader>();
    ASSERT_TRUE(reader->open(dir.file(below)));
    ASSERT_EQ(reader->parentChain().size(), kDepth - 1);
    EXPECT_EQ(storedRanges(*reader), blockRanges(stored, cluster));
    EXPECT_EQ(storedRanges(*reader, 3 * cluster / 2), blockRanges(stored, cluster));
}

// One level of a chain of 4 KiB blocks: it stores its own blocks and leaves the rest to its parent (zeros without
// one), and counts the questions it answers and the widest of them.
class ScatteredLevel final : public PieceDiskReader {
public:
    static constexpr std::uint64_t kBlock = 4 * kKiB;
    ScatteredLevel(std::set<std::uint64_t> blocks, std::unique_ptr<DiskReader> parent) : blocks_(std::move(blocks)) {
        totalSectors = 8 * kMiB / 512;
        blockMap = {0};  // a map to answer by
        if (parent) adoptParent(std::move(parent), "parent");
    }
    Status open(const std::string&) override { return {}; }
    const ScatteredLevel* parent() const { return static_cast<const ScatteredLevel*>(parent_.get()); }

    mutable std::uint64_t answers = 0;
    mutable std::uint64_t widestQuestion = 0;

protected:
    SectorMapping mapSector(std::uint64_t) const override { return {}; }
    StoredRun storedRunAt(std::uint64_t offset, std::uint64_t limit) const override {
        ++answers;
        widestQuestion = std::max(widestQuestion, limit);
        return PieceDiskReader::storedRunAt(offset, limit);
    }
    DiskPiece piece(std::uint64_t offset, bool) const override {
        DiskPiece piece;
        const std::uint64_t block = offset / kBlock;
        if (blocks_.count(block)) {
            piece.kind = DiskPiece::Kind::File;  // no file behind it: stored
            piece.length = kBlock - offset % kBlock;
            return piece;
        }
        const auto next = blocks_.upper_bound(block);
        piece.kind = parent_ ? DiskPiece::Kind::Parent : DiskPiece::Kind::Zero;
        piece.length = (next == blocks_.end() ? totalSectors * 512 : *next * kBlock) - offset;
        return piece;
    }

private:
    std::set<std::uint64_t> blocks_;
};

// A parent asked about its child's whole piece where the child needs a sliver, or joining its answers where the
// child joins them too, does work again at every level: a 16-deep qcow2 chain with scattered writes asked its
// files about holes 272,826 times for one export that way.
TEST(StoredRunQuestions, EachLevelOfAChainIsAskedAboutWhatItsChildNeedsOnce) {
    constexpr std::uint64_t kDepth = 16;
    std::unique_ptr<DiskReader> chain;
    std::set<std::uint64_t> stored;
    for (std::uint64_t level = 0; level < kDepth; ++level) {
        std::set<std::uint64_t> blocks;
        for (std::uint64_t b = level * 5; b < 2048; b += 97) blocks.insert(b);
        stored.insert(blocks.begin(), blocks.end());
        chain = std::make_unique<ScatteredLevel>(blocks, std::move(chain));
    }
    const auto& top = static_cast<const ScatteredLevel&>(*chain);
    EXPECT_EQ(storedRanges(top), blockRanges(stored, ScatteredLevel::kBlock));

    // Every level answers about once for each place where some level's pieces change, no more.
    const std::uint64_t changes = 2 * stored.size() + 1;
    for (const ScatteredLevel* level = &top; level; level = level->parent())
        EXPECT_LE(level->answers, 2 * changes) << "at depth " << kDepth - level->parentChain().size();

    // A question of 512 bytes is one of 512 bytes all the way down.
    for (const ScatteredLevel* level = &top; level; level = level->parent()) level->widestQuestion = 0;
    EXPECT_EQ(top.storedRun(kMiB + 512, 512).length, 512u);
    for (const ScatteredLevel* level = &top; level; level = level->parent())
        EXPECT_LE(level->widestQuestion, 512u);
}

// A raw image tells its holes through the host file system; so does the file behind any allocated block.
TEST_F(StoredRunsTest, RawImagesAnswerThroughTheHostFilesHoles) {
    const std::string path = dir.file("disk.raw");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 8 * kMiB), 0);
    const std::vector<std::uint8_t> data(64 * kKiB, 0x5A);
    ASSERT_EQ(::pwrite(fd, data.data(), data.size(), kMiB), static_cast<ssize_t>(data.size()));
    ASSERT_EQ(::pwrite(fd, data.data(), data.size(), 5 * kMiB), static_cast<ssize_t>(data.size()));
    ::fsync(fd);
    const bool holes = ::lseek(fd, 0, SEEK_DATA) == static_cast<off_t>(kMiB);
    ::close(fd);
    if (!holes) GTEST_SKIP() << "the file system here does not report holes";
    RawReader reader;
    ASSERT_TRUE(reader.open(path));
    EXPECT_EQ(storedRanges(reader), (Ranges{{kMiB, kMiB + 64 * kKiB}, {5 * kMiB, 5 * kMiB + 64 * kKiB}}));
    expectUnstoredReadsZero(reader);
    EXPECT_EQ(reader.storedBytes(0, 8 * kMiB), 128 * kKiB);

    // A slice counts from its base, as its reads do; outside the disk counts as stored.
    const DeviceSlice volume(DevicePtr(DevicePtr(), &reader), kMiB, 8 * kMiB, "volume 0");
    EXPECT_TRUE(volume.storedRun(0, kMiB).stored);
    EXPECT_EQ(volume.storedRun(0, kMiB).length, 64 * kKiB);
    EXPECT_FALSE(volume.storedRun(64 * kKiB, kMiB).stored);
    EXPECT_TRUE(reader.storedRun(9 * kMiB, 512).stored);
    EXPECT_TRUE(volume.storedRun(8 * kMiB, 512).stored);
}

TEST(UnstoredSkip, JumpsWholeStepsOverUnstoredPartsAndAsksOncePerStoredStretch) {
    // Stored: [0, 1000) and [5000, 6000); the rest of [0, 10000) is not.
    int questions = 0;
    UnstoredSkip skip(
        [&](std::uint64_t offset, std::uint64_t limit) {
            ++questions;
            if (offset < 1000) return StoredRun{true, std::min<std::uint64_t>(1000 - offset, limit)};
            if (offset < 5000) return StoredRun{false, std::min<std::uint64_t>(5000 - offset, limit)};
            if (offset < 6000) return StoredRun{true, std::min<std::uint64_t>(6000 - offset, limit)};
            return StoredRun{false, limit};
        },
        10000);
    EXPECT_EQ(skip.next(0, 512), 0u);
    EXPECT_EQ(skip.next(512, 512), 512u);  // still inside the stretch already answered
    EXPECT_EQ(questions, 1);
    // From 1024 the unstored part runs 3976 bytes: seven whole steps, and the step that reaches into stored
    // bytes is read.
    EXPECT_EQ(skip.next(1024, 512), 1024u + 7 * 512);
    EXPECT_EQ(skip.skippedBytes(), 7u * 512);
    EXPECT_EQ(skip.next(1024 + 7 * 512, 512), 1024u + 7 * 512);  // 4608: partly unstored, read
    // Nothing stored up to the end: the jump goes to the end whatever the step.
    EXPECT_EQ(skip.next(6000, 512), 10000u);
    EXPECT_EQ(skip.skippedBytes(), 7u * 512 + 4000);
    EXPECT_EQ(unstoredSkipText(0), "");
    EXPECT_EQ(unstoredSkipText(3 * kMiB), "Skipped 3.00 MB the image does not store (they read as zeros)");
}

}  // namespace
}  // namespace halvard
