// A file's content as a stream: laid-out parts read at odd offsets and lengths, block maps with holes, unwritten
// and outside blocks, LZNT1 units decoded one at a time, and the save that writes a stream to the host.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "fs/block_file.h"
#include "fs/ntfs/compressed_content.h"
#include "support/ntfs_builder.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

using testing::ByteVector;

ByteVector pattern(std::size_t size, unsigned seed) {
    ByteVector bytes(size);
    std::mt19937 random(seed);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

// A volume in memory whose bytes in [badFrom, badTo) cannot be read.
struct FakeVolume {
    ByteVector bytes;
    std::uint64_t badFrom = 0, badTo = 0;

    VolumeRead reader() {
        return [this](std::uint64_t offset, void* buffer, std::size_t length) {
            std::memset(buffer, 0, length);
            if (offset >= bytes.size()) return false;
            const std::size_t n = std::min<std::size_t>(length, bytes.size() - offset);
            std::memcpy(buffer, bytes.data() + offset, n);
            const bool bad = offset < badTo && offset + length > badFrom;
            if (bad) {
                const std::uint64_t from = std::max(offset, badFrom), to = std::min<std::uint64_t>(offset + length, badTo);
                std::memset(static_cast<std::uint8_t*>(buffer) + (from - offset), 0, to - from);
            }
            return n == length && !bad;
        };
    }
};

// Reads the whole content in pieces of `piece` bytes; whether any was damaged.
ByteVector readAll(FileContent& content, std::size_t piece, bool* damaged = nullptr) {
    ByteVector out, buffer(piece);
    for (std::uint64_t at = 0;;) {
        const ContentRead got = content.read(at, buffer.data(), buffer.size());
        if (got.bytes == 0) break;
        if (damaged && got.damaged) *damaged = true;
        out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got.bytes));
        at += got.bytes;
    }
    return out;
}

// Reads at every offset around each of `edges` with lengths that end on both sides of the next ones, and
// checks bytes and damage against `expected` and the damaged byte ranges.
void checkReadsAround(FileContent& content, const ByteVector& expected, const std::vector<std::uint64_t>& edges,
                      const std::vector<std::pair<std::uint64_t, std::uint64_t>>& damagedRanges) {
    ASSERT_EQ(content.size(), expected.size());
    for (std::uint64_t edge : edges) {
        for (std::uint64_t offset = edge > 3 ? edge - 3 : 0; offset <= edge + 3; ++offset) {
            for (std::size_t length : {1u, 2u, 7u, 511u, 4097u, 20000u}) {
                ByteVector buffer(length, 0xEE);
                const ContentRead got = content.read(offset, buffer.data(), length);
                const std::uint64_t want = offset < expected.size() ? std::min<std::uint64_t>(length, expected.size() - offset) : 0;
                ASSERT_EQ(got.bytes, want) << offset << "+" << length;
                EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(want),
                                       expected.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(offset, expected.size()))))
                    << offset << "+" << length;
                bool touches = false;
                for (const auto& [from, to] : damagedRanges) touches = touches || (offset < to && offset + want > from);
                EXPECT_EQ(got.damaged, touches && want > 0) << offset << "+" << length;
            }
        }
    }
}

TEST(LayoutContent, PartsReadAcrossTheirEdgesWithDamageWhereItIs) {
    FakeVolume volume;
    volume.bytes = pattern(64 * 1024, 1);
    volume.badFrom = 40000;
    volume.badTo = 41000;
    ContentLayout layout;
    layout.stored(3000, 1000);     // [0, 3000)
    layout.stored(2000, 4000);     // follows on the volume: one part with the first
    layout.zeros(1500);            // [5000, 6500)
    layout.missing(700);           // [6500, 7200): damaged
    layout.inMemory({'r', 'e', 's'});  // [7200, 7203)
    layout.stored(5000, 39000);    // [7203, 12203): its volume bytes 40000..41000 cannot be read
    ASSERT_EQ(layout.parts().size(), 5u) << "neighbours on the volume are one part";

    ByteVector expected(volume.bytes.begin() + 1000, volume.bytes.begin() + 6000);
    expected.resize(7200, 0);
    expected.insert(expected.end(), {'r', 'e', 's'});
    expected.insert(expected.end(), volume.bytes.begin() + 39000, volume.bytes.begin() + 44000);
    std::fill(expected.begin() + 7203 + 1000, expected.begin() + 7203 + 2000, 0);

    LayoutContent content(volume.reader(), layout);
    checkReadsAround(content, expected, {0, 3000, 5000, 6500, 7200, 7203, 8203, 9203, 12203},
                     {{6500, 7200}, {8203, 9203}});
}

TEST(BlockFile, HolesUnwrittenOutsideAndOverlappingRunsAsTheSaveHadThem) {
    BlockFile file;
    file.blockSize = 1024;
    file.firstBlockOffset = 2048;
    file.volumeBlocks = 20;
    file.size = 9 * 1024 + 100;
    file.runs = {{0, 2, 2, false},   // blocks 0-1
                 {1, 8, 2, false},   // overlaps block 1: only block 2 is taken, from physical 9
                 {4, 5, 1, true},    // block 3 a hole, block 4 unwritten
                 {5, 18, 4, false}};  // blocks 5-8: physical 18, 19 inside, 20, 21 outside
    bool damaged = false;
    const ContentLayout layout = blockFileLayout(file, damaged);
    EXPECT_TRUE(damaged);
    ASSERT_EQ(layout.size(), file.size) << "past its last block the file is zeros up to its size";
    FakeVolume volume;
    volume.bytes = pattern(2048 + 20 * 1024, 2);
    auto at = [&](std::uint64_t physical) { return volume.bytes.begin() + 2048 + static_cast<std::ptrdiff_t>(physical * 1024); };
    ByteVector expected(at(2), at(4));
    expected.insert(expected.end(), at(9), at(10));
    expected.resize(5 * 1024, 0);
    expected.insert(expected.end(), at(18), at(20));
    expected.resize(file.size, 0);
    LayoutContent content(volume.reader(), layout);
    checkReadsAround(content, expected, {1024, 3 * 1024, 5 * 1024, 7 * 1024, 9 * 1024, file.size},
                     {{7 * 1024, 9 * 1024}});

    // A map whose holes add up to more than the volume holds ends where they would begin.
    BlockFile sparse = file;
    sparse.runs = {{0, 2, 1, false}, {1000, 3, 1, false}};
    sparse.size = 2000 * 1024;
    damaged = false;
    EXPECT_EQ(blockFileLayout(sparse, damaged).size(), 1024u);
    EXPECT_TRUE(damaged);
    // A hole at the end within the budget is zeros, not damage.
    sparse.runs = {{0, 2, 1, false}};
    sparse.size = 3 * 1024;
    damaged = false;
    EXPECT_EQ(blockFileLayout(sparse, damaged).size(), 3 * 1024u);
    EXPECT_FALSE(damaged);
}

TEST(CompressedContent, UnitsDecodeOnDemandAcrossTheirEdges) {
    // Clusters of 512 bytes, units of 16 (8 KiB): unit 0 compressed, unit 1 stored whole, unit 2 sparse, unit 3
    // compressed and cut by the attribute's end, unit 4 beyond the runs (missing).
    const ByteVector text = testing::compressibleText(8192);
    ByteVector packed = testing::lznt1Compress(text);
    const std::uint64_t packedClusters = (packed.size() + 511) / 512;
    ASSERT_LT(packedClusters, 16u);
    const ByteVector stored = pattern(8192, 3);
    const ByteVector tail(3000, 'T');
    const ByteVector packedTail = testing::lznt1Compress(tail);
    ASSERT_LE(packedTail.size(), 512u);
    ByteVector disk(200 * 512, 0);
    std::copy(packed.begin(), packed.end(), disk.begin() + 10 * 512);
    std::copy(stored.begin(), stored.end(), disk.begin() + 50 * 512);
    std::copy(packedTail.begin(), packedTail.end(), disk.begin() + 100 * 512);
    ntfs_format::RunMap map({{10, packedClusters, false},
                             {0, 16 - packedClusters, true},
                             {50, 16, false},
                             {0, 16, true},
                             {100, 1, false},
                             {0, 9, true}});
    unsigned clusterReads = 0;
    const std::uint64_t size = 4 * 8192 + 100;
    CompressedContent content(map, 512, 4, size, [&](std::int64_t cluster, std::uint64_t count, std::uint8_t* buffer) {
        ++clusterReads;
        std::memcpy(buffer, disk.data() + cluster * 512, count * 512);
        return true;
    });
    ByteVector expected = text;
    expected.insert(expected.end(), stored.begin(), stored.end());
    expected.resize(3 * 8192, 0);
    expected.insert(expected.end(), tail.begin(), tail.end());
    expected.resize(size, 0);
    checkReadsAround(content, expected, {0, 4096, 8192, 16384, 24576, 24576 + 3000, 32768, size},
                     {{32768, size}});

    // Reads inside one unit decode it once.
    ByteVector buffer(100);
    content.read(16 * 512 + 10, buffer.data(), 10);
    clusterReads = 0;
    for (std::uint64_t at = 8192; at < 16384; at += 100) content.read(at, buffer.data(), 50);
    EXPECT_EQ(clusterReads, 0u);
}

TEST(SaveContent, WritesTheStreamWithItsTimesLinksAndRefusals) {
    testing::TempDir dir;
    FakeVolume volume;
    volume.bytes = pattern(3 << 20, 4);
    volume.badFrom = 2 << 20;
    volume.badTo = (2 << 20) + 10;
    ContentLayout layout;
    layout.stored(3 << 20, 0);  // several copy pieces, one of them unreadable
    layout.zeros(5);
    ContentFacts facts;
    facts.modified = ContentTime{1600000000, 123456700};
    facts.uninitializedZeros = true;
    auto content = layoutContent(volume.reader(), std::move(layout), facts);
    const SaveOutcome saved = saveContent(*content, dir.file("a"));
    EXPECT_TRUE(saved.written);
    EXPECT_TRUE(saved.damaged);
    EXPECT_TRUE(saved.uninitializedZeros);
    EXPECT_EQ(saved.bytes, (3u << 20) + 5);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(st.st_atim.tv_sec, 1600000000) << "a missing access time takes the modification time";
    bool damaged = false;
    EXPECT_EQ(testing::readFile(dir.file("a")), readAll(*content, 65521, &damaged));
    EXPECT_TRUE(damaged);

    ContentFacts link;
    link.symlinkTarget = "../elsewhere";
    auto linked = memoryContent({}, link);
    EXPECT_TRUE(saveContent(*linked, dir.file("l")).written);
    EXPECT_EQ(std::filesystem::read_symlink(dir.file("l")), "../elsewhere");

    auto refused = refusedContent("not recoverable");
    const SaveOutcome no = saveContent(*refused, dir.file("r"));
    EXPECT_FALSE(no.written);
    EXPECT_EQ(no.error, "not recoverable");
    EXPECT_FALSE(std::filesystem::exists(dir.file("r")));

    // The folder is missing: the host's reason, nothing written.
    auto plain = memoryContent({'x'}, {});
    const SaveOutcome failed = saveContent(*plain, dir.file("none/x"));
    EXPECT_FALSE(failed.written);
    EXPECT_FALSE(failed.error.empty());
}

}  // namespace
}  // namespace halvard
