#include <gtest/gtest.h>

#include <algorithm>

#include "image/image_info.h"
#include "image/image_kind.h"
#include "image/qcow2_format.h"
#include "image/qcow2_reader.h"
#include "support/qcow2_builder.h"
#include "support/reader_checks.h"
#include "support/vhdx_builder.h"
#include "support/status_check.h"

namespace halvard {
namespace {

using testing::patternByte;
using testing::Qcow2Builder;
using testing::Qcow2Spec;
using testing::readAt;
using testing::TempDir;

constexpr std::uint64_t kCluster = 16384;

std::vector<std::uint8_t> pattern(std::uint64_t offset, std::uint64_t length) {
    std::vector<std::uint8_t> out(length);
    for (std::uint64_t i = 0; i < length; ++i) out[i] = patternByte(offset + i);
    return out;
}

void putPattern(std::vector<std::uint8_t>& disk, std::uint64_t offset, std::uint64_t length) {
    for (std::uint64_t i = 0; i < length; ++i) disk[offset + i] = patternByte(offset + i);
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Qcow2ReaderTest : public ::testing::Test {
protected:
    std::string write(const Qcow2Builder& builder, const std::string& name = "disk.qcow2") {
        const std::string path = dir.file(name);
        testing::writeFile(path, builder.bytes());
        return path;
    }
    std::string refusal(const std::string& path, const ImageOverrides& overrides = {}) {
        Qcow2Reader reader;
        reader.setOverrides(overrides);
        const Status opened = reader.open(path);
        return opened ? std::string("opened") : opened.message();
    }
    TempDir dir;
};

// The header field by field, its extensions, and damaged copies that must be refused.
TEST(Qcow2Header, ReadsFieldsAndExtensionsAndRefusesDamage) {
    Qcow2Spec spec;
    spec.backingName = "base.img";
    spec.backingFormat = "raw";
    spec.featureNames = {{9, "frobnicated"}};
    spec.extraIncompatible = 1ULL << 9;
    const std::vector<std::uint8_t> bytes = Qcow2Builder(spec).bytes();
    const qcow2::ParsedHeader parsed = qcow2::parseHeader(bytes);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.header.version, 3u);
    EXPECT_EQ(parsed.header.clusterSize(), kCluster);
    EXPECT_EQ(parsed.header.size, 4ULL << 20);
    EXPECT_EQ(parsed.header.backingFormat, "raw");
    EXPECT_EQ(parsed.header.l2Entries(), kCluster / 8);
    EXPECT_EQ(qcow2::unknownIncompatibleFeatures(parsed.header), "frobnicated");

    auto damaged = [&bytes](std::size_t at, std::uint8_t value) {
        auto copy = bytes;
        copy[at] = value;
        return qcow2::parseHeader(copy);
    };
    EXPECT_FALSE(damaged(3, 0xFA).ok);   // magic
    EXPECT_FALSE(damaged(7, 4).ok);      // version 4
    EXPECT_FALSE(damaged(23, 8).ok);     // 256-byte clusters
    EXPECT_FALSE(damaged(23, 22).ok);    // 4 MiB clusters
    EXPECT_FALSE(damaged(103, 105).ok);  // header length not a multiple of 8
    EXPECT_FALSE(damaged(24, 0x7F).ok);  // a size beyond the format's limit
    // An extension whose length runs past the first cluster, and a backing name outside it.
    auto longExtension = bytes;
    longExtension[112 + 4] = 0x7F;
    EXPECT_FALSE(qcow2::parseHeader(std::span(longExtension).first(kCluster)).ok);
    auto farName = bytes;
    farName[8 + 5] = 0x7F;
    EXPECT_FALSE(qcow2::parseHeader(std::span(farName).first(kCluster)).ok);
    EXPECT_FALSE(qcow2::parseHeader(std::span(bytes).first(100)).ok);
}

TEST(Qcow2Header, DecodesCompressedEntriesAndSnapshotTables) {
    // 64 KiB clusters: 8 bits of sector count above a 54-bit offset.
    const std::uint64_t entry = (1ULL << 62) | (3ULL << 54) | 0x12345A00ULL | 0x1C0;
    const qcow2::CompressedCluster c = qcow2::compressedCluster(entry, 16);
    EXPECT_EQ(c.hostOffset, 0x12345BC0ULL);
    EXPECT_EQ(c.storedLength, 4 * 512 - 0x1C0);

    Qcow2Builder builder(Qcow2Spec{});
    builder.addSnapshot("1", "before");
    builder.addSnapshot("2", "after", 8ULL << 20);
    const auto bytes = builder.bytes();
    const std::uint64_t offset = be64(bytes, 64);
    const qcow2::SnapshotTable table = qcow2::parseSnapshotTable(Bytes(bytes).subspan(offset), 2);
    ASSERT_TRUE(table.ok);
    ASSERT_EQ(table.snapshots.size(), 2u);
    EXPECT_EQ(table.snapshots[0].name, "before");
    EXPECT_EQ(table.snapshots[1].id, "2");
    EXPECT_EQ(table.snapshots[1].diskSize, 8ULL << 20);
    const auto cut = qcow2::parseSnapshotTable(Bytes(bytes).subspan(offset, 90), 2);
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.snapshots.size(), 1u);
}

// Data clusters (some back to back in the file), zero-flagged ones, compressed ones and holes, read in pieces that
// cross every kind of edge.
TEST_F(Qcow2ReaderTest, ReadsDataZeroCompressedAndHoles) {
    Qcow2Spec spec;
    spec.size = 4 * 1024 * 1024 + 3 * 512;  // the last cluster used in part
    Qcow2Builder builder(spec);
    std::vector<std::uint8_t> disk(spec.size, 0);
    for (std::uint64_t c : {0, 1, 2, 7, 100, 256}) {
        builder.addDataCluster(c);
        putPattern(disk, c * kCluster, std::min<std::uint64_t>(kCluster, spec.size - c * kCluster));
    }
    const std::uint64_t zeroHost = builder.addDataCluster(9);
    builder.setEntry(9, zeroHost | 1);  // the zero flag wins over the data
    builder.setEntry(10, 1);
    for (std::uint64_t c : {3, 50, 255}) {
        builder.addCompressedCluster(c);
        putPattern(disk, c * kCluster, kCluster);
    }
    Qcow2Reader reader;
    ASSERT_TRUE(succeeded(reader.open(write(builder))));
    EXPECT_EQ(reader.totalSectors, spec.size / 512);
    testing::expectWholeDisk(reader, disk, 3 * kCluster + 511);
    testing::expectWholeDisk(reader, disk, 1000);

    const Qcow2Reader::ClusterCount count = reader.countClusters();
    EXPECT_EQ(count.allocated, 10u);
    EXPECT_EQ(count.compressed, 3u);
    EXPECT_EQ(count.zero, 1u);
    EXPECT_TRUE(count.damage.empty());

    // Version 2 has no zero flag: the same entry reads the cluster's data.
    spec.version = 2;
    Qcow2Builder v2(spec);
    v2.addDataCluster(4);
    ASSERT_TRUE(succeeded(reader.open(write(v2, "v2.qcow2"))));
    EXPECT_EQ(readAt(reader, 4 * kCluster, kCluster), pattern(4 * kCluster, kCluster));
}

TEST_F(Qcow2ReaderTest, ExtendedL2ReadsSubclustersFromTheImageTheBackingFileOrAsZeros) {
    const std::string base = dir.file("base.raw");
    std::vector<std::uint8_t> backing(4ULL << 20, 0x5B);
    testing::writeFile(base, backing);
    Qcow2Spec spec;
    spec.extendedL2 = true;
    spec.backingName = "base.raw";
    spec.backingFormat = "raw";
    Qcow2Builder builder(spec);
    // Subclusters of 512 bytes: 0-3 stored, 4-5 zero, the rest from the backing file.
    builder.addDataCluster(2, 0x0000000F | (0x30ULL << 32));
    builder.setEntry(3, 0, 0xFFFFFFFFULL << 32);  // all zero without data
    builder.addCompressedCluster(5);
    Qcow2Reader reader;
    ASSERT_TRUE(succeeded(reader.open(write(builder))));
    std::vector<std::uint8_t> disk = backing;
    putPattern(disk, 2 * kCluster, 4 * 512);
    std::fill_n(disk.begin() + 2 * kCluster + 4 * 512, 2 * 512, 0);
    std::fill_n(disk.begin() + 3 * kCluster, kCluster, 0);
    putPattern(disk, 5 * kCluster, kCluster);
    testing::expectWholeDisk(reader, disk, 700);
    ASSERT_EQ(reader.parentChain().size(), 1u);
    EXPECT_EQ(reader.parentChain()[0], base);
}

// A chain of three through two formats: the nearest image that holds a cluster wins, and a backing file smaller
// than its child reads as zeros past its end.
TEST_F(Qcow2ReaderTest, ChainsReadThroughEveryLink) {
    testing::writeFile(dir.file("bottom.raw"), std::vector<std::uint8_t>(1ULL << 20, 0x11));
    Qcow2Spec middle;
    middle.size = 2ULL << 20;
    middle.backingName = "bottom.raw";
    Qcow2Builder mid(middle);
    mid.addDataCluster(1);
    mid.setEntry(2, 1);  // zero, hiding the bottom's bytes
    write(mid, "mid.qcow2");
    Qcow2Spec topSpec;
    topSpec.backingName = "mid.qcow2";
    Qcow2Builder top(topSpec);
    top.addDataCluster(0);
    Qcow2Reader reader;
    ASSERT_TRUE(succeeded(reader.open(write(top, "top.qcow2"))));
    std::vector<std::uint8_t> disk(topSpec.size, 0);
    std::fill_n(disk.begin(), 1ULL << 20, 0x11);
    putPattern(disk, 0, kCluster);
    putPattern(disk, kCluster, kCluster);
    std::fill_n(disk.begin() + 2 * kCluster, kCluster, 0);
    testing::expectWholeDisk(reader, disk, 5000);
    EXPECT_EQ(reader.parentChain(), (std::vector<std::string>{dir.file("mid.qcow2"), dir.file("bottom.raw")}));
    // The description names each parent's format, as its signature tells it.
    const ImageInfo info = describeImage(dir.file("top.qcow2"));
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.parents, reader.parentChain());
    EXPECT_EQ(info.parentFormats, (std::vector<std::string>{"QCOW2", "RAW"}));

    // --parent names the nearest backing file instead.
    ImageOverrides overrides;
    overrides.parentPath = dir.file("bottom.raw");
    reader.setOverrides(overrides);
    ASSERT_TRUE(reader.open(dir.file("top.qcow2")));
    EXPECT_EQ(readAt(reader, 2 * kCluster, 16), std::vector<std::uint8_t>(16, 0x11));
}

TEST_F(Qcow2ReaderTest, RefusesLoopsLongChainsMissingBackingFilesAndWhatItCannotRead) {
    Qcow2Spec a;
    a.backingName = "b.qcow2";
    Qcow2Spec b;
    b.backingName = "a.qcow2";
    write(Qcow2Builder(a), "a.qcow2");
    write(Qcow2Builder(b), "b.qcow2");
    EXPECT_TRUE(contains(refusal(dir.file("a.qcow2")), "loop")) << refusal(dir.file("a.qcow2"));

    Qcow2Spec link;
    write(Qcow2Builder(link), "link0.qcow2");
    for (int i = 1; i <= 65; ++i) {
        link.backingName = "link" + std::to_string(i - 1) + ".qcow2";
        write(Qcow2Builder(link), "link" + std::to_string(i) + ".qcow2");
    }
    EXPECT_EQ(refusal(dir.file("link63.qcow2")), "opened");  // 64 images
    // Told in one line that names the ends of the chain, not every image in it.
    const std::string tooLong = refusal(dir.file("link65.qcow2"));
    EXPECT_TRUE(contains(tooLong, "longer than 64")) << tooLong;
    EXPECT_TRUE(contains(tooLong, "link65.qcow2") && contains(tooLong, "link64.qcow2") && contains(tooLong, "link1.qcow2") &&
                contains(tooLong, "(59 more)") && contains(tooLong, "65 images"))
        << tooLong;
    EXPECT_FALSE(contains(tooLong, "link30.qcow2")) << tooLong;
    EXPECT_LT(tooLong.size(), 600u) << tooLong;
    EXPECT_EQ(tooLong.find('\n'), std::string::npos);

    Qcow2Spec orphan;
    orphan.backingName = "gone.qcow2";
    const std::string orphanPath = write(Qcow2Builder(orphan), "orphan.qcow2");
    const std::string missing = refusal(orphanPath);
    EXPECT_TRUE(contains(missing, "gone.qcow2") && contains(missing, "--parent")) << missing;

    Qcow2Spec encrypted;
    encrypted.cryptMethod = 2;
    EXPECT_TRUE(contains(refusal(write(Qcow2Builder(encrypted), "luks.qcow2")), "encrypted (LUKS)"));
    Qcow2Spec unknown;
    unknown.extraIncompatible = 1ULL << 9;
    unknown.featureNames = {{9, "frobnicated"}};
    EXPECT_TRUE(contains(refusal(write(Qcow2Builder(unknown), "unknown.qcow2")), "frobnicated"));
    Qcow2Spec dataFile;
    dataFile.extraIncompatible = qcow2::kExternalData;
    EXPECT_TRUE(contains(refusal(write(Qcow2Builder(dataFile), "data.qcow2")), "external data file"));
}

TEST_F(Qcow2ReaderTest, ReadsInternalSnapshotsByNameOrId) {
    Qcow2Spec spec;
    Qcow2Builder builder(spec);
    builder.addDataCluster(0);
    builder.addSnapshot("1", "before");
    builder.setEntry(0, 0);  // the current state no longer holds the cluster
    builder.addDataCluster(1);
    const std::string path = write(builder);
    Qcow2Reader reader;
    ASSERT_TRUE(reader.open(path));
    ASSERT_EQ(reader.snapshots().size(), 1u);
    EXPECT_EQ(readAt(reader, 0, 16), std::vector<std::uint8_t>(16, 0));
    for (const char* name : {"before", "1"}) {
        ImageOverrides overrides;
        overrides.snapshot = name;
        reader.setOverrides(overrides);
        ASSERT_TRUE(succeeded(reader.open(path)));
        EXPECT_EQ(readAt(reader, 0, 16), pattern(0, 16));
        EXPECT_EQ(readAt(reader, kCluster, 16), std::vector<std::uint8_t>(16, 0));
    }
    ImageOverrides wrong;
    wrong.snapshot = "after";
    EXPECT_TRUE(contains(refusal(path, wrong), "(it has before)")) << refusal(path, wrong);
    // Other formats have no internal snapshots to read.
    testing::writeFile(dir.file("flat.raw"), std::vector<std::uint8_t>(4096, 1));
    EXPECT_FALSE(openImage(dir.file("flat.raw"), wrong).reader);
}

// Tables and clusters past the file's end and clusters used twice are damage; their reads say they failed.
TEST_F(Qcow2ReaderTest, CheckFindsTablesAndClustersOutsideTheFileAndClustersUsedTwice) {
    Qcow2Spec spec;
    spec.size = 64ULL << 20;  // two L2 tables
    Qcow2Builder builder(spec);
    const std::uint64_t host = builder.addDataCluster(0);
    builder.setEntry(1, host);                   // the same host cluster again
    builder.setEntry(2, 1ULL << 40);             // past the end
    builder.setL1(1, 1ULL << 40);                // an L2 table past the end
    Qcow2Reader reader;
    ASSERT_TRUE(succeeded(reader.open(write(builder))));
    const auto damage = reader.countClusters().damage;
    std::string all;
    for (const auto& d : damage) all += d + "\n";
    EXPECT_TRUE(contains(all, "1 L2 tables lie past")) << all;
    EXPECT_TRUE(contains(all, "1 clusters lie past the end")) << all;
    EXPECT_TRUE(contains(all, "1 clusters are used twice")) << all;
    bool ok = true;
    readAt(reader, 2 * kCluster, 512, &ok);
    EXPECT_FALSE(ok);
    readAt(reader, (kCluster / 8) * kCluster, 512, &ok);
    EXPECT_FALSE(ok);

    const ImageInfo info = describeImage(dir.file("disk.qcow2"));
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.format, "QCOW2");
    EXPECT_EQ(info.damage.size(), 3u);
}

// Tables or data placed on the image's own header or tables, and a compressed cluster cut off by the file's end:
// damage the check names, and blocks that read as unreadable rather than as zeros or as the header's bytes.
TEST_F(Qcow2ReaderTest, CheckFindsClustersOnTheImagesOwnMetadataAndCompressedClustersCutShort) {
    Qcow2Spec spec;
    spec.size = 64ULL << 20;  // two L2 tables
    Qcow2Builder builder(spec);
    builder.addDataCluster(0);
    builder.setEntry(1, qcow2::kCopiedFlag);                   // allocated, at offset 0: the header
    builder.setEntry(2, kCluster | qcow2::kCopiedFlag);        // the L1 table's cluster
    builder.setL1(1, qcow2::kCopiedFlag);                      // the second L2 table is the header
    // Last in the file (its stored deflate data starts 100 bytes on), then cut off halfway through its data.
    const std::uint64_t compressedAt = builder.bytes().size() + 100;
    builder.addCompressedCluster(3);
    std::vector<std::uint8_t> bytes = builder.bytes();
    bytes.resize(compressedAt + kCluster / 2);
    testing::writeFile(dir.file("disk.qcow2"), bytes);

    Qcow2Reader reader;
    ASSERT_TRUE(succeeded(reader.open(dir.file("disk.qcow2"))));
    bool ok = true;
    EXPECT_EQ(readAt(reader, 0, 512, &ok), pattern(0, 512));
    EXPECT_TRUE(ok);
    for (const std::uint64_t offset : {kCluster, 2 * kCluster, 3 * kCluster, (kCluster / 8) * kCluster + 4096}) {
        ok = true;
        EXPECT_EQ(readAt(reader, offset, 512, &ok), std::vector<std::uint8_t>(512, 0)) << offset;
        EXPECT_FALSE(ok) << offset;
    }
    const ImageInfo info = describeImage(dir.file("disk.qcow2"));
    ASSERT_TRUE(info.ok) << info.error;
    std::string all;
    for (const auto& d : info.damage) all += d + "\n";
    EXPECT_TRUE(contains(all, "1 L1 entries point at the image's own header or tables")) << all;
    EXPECT_TRUE(contains(all, "2 clusters point at the image's own header or tables")) << all;
    EXPECT_TRUE(contains(all, "1 compressed clusters run past the end of the file and cannot be decoded")) << all;

    // A compressed cluster whose last sector only runs past the end, as writers leave the last one, is sound.
    Qcow2Builder whole(spec);
    whole.setEntry(1, 0);  // the L2 table comes first
    const std::uint64_t wholeAt = whole.bytes().size() + 100;
    whole.addCompressedCluster(0);
    std::vector<std::uint8_t> wholeBytes = whole.bytes();
    wholeBytes.resize(wholeAt + kCluster + 5);  // the stored blocks' data and their 5-byte header, mid-sector
    testing::writeFile(dir.file("whole.qcow2"), wholeBytes);
    const ImageInfo sound = describeImage(dir.file("whole.qcow2"));
    ASSERT_TRUE(sound.ok) << sound.error;
    EXPECT_TRUE(sound.damage.empty()) << sound.damage.front();
}

// A file with another format's signature is never read as a raw disk of its own bytes.
TEST_F(Qcow2ReaderTest, OtherFormatsAreNeverTakenForRawDisks) {
    for (const std::string& head : {std::string("QED\0", 4), std::string("\x1f\x8b\x08\0", 4), std::string("LUKS\xba\xbe")}) {
        std::vector<std::uint8_t> bytes(8192, 0);
        std::copy(head.begin(), head.end(), bytes.begin());
        testing::writeFile(dir.file("other.img"), bytes);
        const OpenedImage opened = openImage(dir.file("other.img"));
        EXPECT_FALSE(opened.reader);
        EXPECT_TRUE(contains(opened.error, "not taken for a raw disk")) << opened.error;
    }
    std::vector<std::uint8_t> flat(8192, 0);
    flat[510] = 0x55;
    flat[511] = 0xAA;
    testing::writeFile(dir.file("flat.img"), flat);
    EXPECT_TRUE(openImage(dir.file("flat.img")).reader);
}

}  // namespace
}  // namespace halvard
