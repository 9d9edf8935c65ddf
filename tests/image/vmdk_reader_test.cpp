#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "image/image_info.h"
#include "image/image_kind.h"
#include "image/vmdk_reader.h"
#include "support/image_file_test.h"
#include "support/reader_checks.h"
#include "support/vdi_builder.h"
#include "support/vhdx_builder.h"
#include "support/vmdk_builder.h"
#include "support/status_check.h"

namespace halvard {
namespace {

using testing::allZero;
using testing::readAt;

using testing::TempDir;
using testing::VmdkLayout;
using testing::VmdkSpec;

constexpr std::uint64_t kMiB = 1024 * 1024;

class VmdkReaderTest : public testing::ImageFileTest<VmdkSpec, VmdkReader> {
protected:
    VmdkReaderTest()
        : ImageFileTest("disk.vmdk", [](const VmdkSpec& spec) { return testing::buildVmdk(spec); },
                        100 * 1024 + 512 + 9) {}
    std::string writeText(const std::string& text, const std::string& name) {
        return write(std::vector<std::uint8_t>(text.begin(), text.end()), name);
    }
    // A flat parent disk of 0x77 bytes whose descriptor carries `cid`.
    void writeParent(const std::string& name, const std::string& cid, std::uint64_t sectors) {
        write(std::vector<std::uint8_t>(sectors * 512, 0x77), name + "-flat");
        writeText("# Disk DescriptorFile\nversion=1\nCID=" + cid + "\nparentCID=ffffffff\ncreateType=\"monolithicFlat\"\n"
                  "RW " + std::to_string(sectors) + " FLAT \"" + name + "-flat\" 0\n",
                  name);
    }
};

TEST_F(VmdkReaderTest, SparseExtentReadsThroughDirectoryAndTables) {
    VmdkSpec spec;
    spec.capacity = 3 * 65536 + 1000;  // four grain tables, the last used in part
    spec.allocatedGrains = {0, 1, 2, 5, 511, 512, 513, 1030, 1541};
    spec.zeroGrains = {3, 514};
    VmdkReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_EQ(reader.grainSize(), 128u);
    EXPECT_EQ(reader.entriesPerGrainTable(), 512u);
    EXPECT_EQ(reader.descriptor().createType, "monolithicSparse");
    expectWholeDisk(reader, testing::expectedVmdkDisk(spec));

    // Grains 0 to 2 lie last-first in the file, so a read over them is split at each grain.
    bool ok = false;
    auto got = readAt(reader, 64 * 1024 - 512, 4096, &ok);  // the end of grain 0 into grain 1
    EXPECT_TRUE(ok);
    EXPECT_EQ(got[0], testing::patternByte(64 * 1024 - 512));
    EXPECT_EQ(got[600], testing::patternByte(64 * 1024 - 512 + 600));
    // The zero grain and the unallocated grain after it read as zeros, without failure.
    got = readAt(reader, 3 * 64 * 1024 - 512, 2 * 64 * 1024, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(got[1], testing::patternByte(3 * 64 * 1024 - 511));
    EXPECT_TRUE(allZero(got, 512));

    const VmdkReader::GrainCount count = reader.countGrains();
    EXPECT_EQ(count.allocated, spec.allocatedGrains.size());
    EXPECT_EQ(count.zero, 2u);
    EXPECT_TRUE(count.complete);
}

TEST_F(VmdkReaderTest, GrainTablesAndGrainsOfAnySize) {
    for (std::uint32_t entries : {128u, 1024u, 4096u}) {
        for (std::uint64_t grainSize : {8u, 16u}) {
            VmdkSpec spec;
            spec.capacity = (entries + 3) * grainSize + 5;  // a second table, used in part
            spec.grainSize = grainSize;
            spec.gtEntries = entries;
            spec.allocatedGrains = {0, 7, entries - 1, entries, entries + 3};
            VmdkReader reader;
            ASSERT_TRUE(reader.open(write(spec))) << entries << " " << grainSize;
            EXPECT_EQ(reader.sectorsPerGrainTable(), grainSize * entries);
            expectWholeDisk(reader, testing::expectedVmdkDisk(spec));
        }
    }
}

TEST_F(VmdkReaderTest, SectorMapsIntoItsGrain) {
    // Grain size 128, 512 entries per table, grain table 0's entry 1 = 2048: sector 130 lies at (2048 + 2) x 512.
    VmdkSpec spec;
    spec.allocatedGrains = {0};
    VmdkLayout layout;
    auto bytes = testing::buildVmdk(spec, &layout);
    bytes.resize(2100 * 512, 0);
    testing::putLe32(bytes, layout.tables[0] * 512 + 4, 2048);
    std::memcpy(bytes.data() + (2048 + 2) * 512, "sector 130", 10);
    VmdkReader reader;
    ASSERT_TRUE(reader.open(write(bytes)));
    const auto got = readAt(reader, 130 * 512, 10);
    EXPECT_EQ(std::string(got.begin(), got.end()), "sector 130");
}

TEST_F(VmdkReaderTest, RedundantDirectoryServesWhenThePrimaryLiesOutsideTheFile) {
    VmdkSpec spec;
    spec.allocatedGrains = {4, 100};
    auto bytes = testing::buildVmdk(spec);
    testing::putLe64(bytes, 56, 1ULL << 40);
    VmdkReader reader;
    ASSERT_TRUE(reader.open(write(bytes)));
    EXPECT_FALSE(reader.notes().empty());
    expectWholeDisk(reader, testing::expectedVmdkDisk(spec));
    testing::putLe64(bytes, 48, 0);
    EXPECT_NE(refusal(bytes).find("grain directory"), std::string::npos);
}

TEST_F(VmdkReaderTest, CompressedGrainsBehindMarkers) {
    VmdkSpec spec;
    spec.compressed = true;
    spec.version = 3;
    spec.createType = "streamOptimized";
    spec.grainDirectoryAtEnd = true;  // as written in one pass: the footer locates the directory
    spec.allocatedGrains = {0, 1, 2, 9, 70, 127};
    spec.zeroGrains = {10};
    VmdkReader reader;
    ASSERT_TRUE(reader.open(write(spec)));
    EXPECT_TRUE(reader.isCompressed());
    expectWholeDisk(reader, testing::expectedVmdkDisk(spec));
    // Reads inside a grain and across grains, from the decompressed grain.
    bool ok = false;
    auto got = readAt(reader, 9 * 65536 + 1000, 70000, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(got[0], testing::patternByte(9 * 65536 + 1000));
    EXPECT_TRUE(allZero(got, 65536 - 1000));
    EXPECT_FALSE(reader.storedRun(10 * 65536, 512).stored);
    // A request that would run past the largest offset fails without wrapping around.
    readAt(reader, INT64_MAX - 100, 512, &ok);
    EXPECT_FALSE(ok);

    // A damaged grain reads as zeros and is reported; its neighbours still read.
    VmdkLayout layout;
    auto bytes = testing::buildVmdk(spec, &layout);
    const std::uint64_t grain9 = layout.firstGrain;  // stored last-first: 127, 70, 9, ...
    const std::uint32_t entry = static_cast<std::uint32_t>(bytes[layout.tables[0] * 512 + 9 * 4]) |
                                static_cast<std::uint32_t>(bytes[layout.tables[0] * 512 + 9 * 4 + 1]) << 8;
    ASSERT_GT(entry, grain9);
    bytes[entry * 512 + 12 + 100] ^= 0xFF;  // inside the stored data: the checksum no longer matches
    VmdkReader damaged;
    ASSERT_TRUE(damaged.open(write(bytes, "damaged.vmdk")));
    got = readAt(damaged, 9 * 65536, 512, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(allZero(got));
    got = readAt(damaged, 2 * 65536, 512, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(got[3], testing::patternByte(2 * 65536 + 3));
    testing::putLe32(bytes, entry * 512 + 8, 0xFFFFFFFF);  // an absurd compressed size
    VmdkReader absurd;
    ASSERT_TRUE(absurd.open(write(bytes, "absurd.vmdk")));
    readAt(absurd, 9 * 65536, 512, &ok);
    EXPECT_FALSE(ok);

    // Without the footer, nothing locates the directory.
    auto cut = testing::buildVmdk(spec);
    cut.resize(cut.size() - 1536);
    EXPECT_NE(refusal(cut).find("footer"), std::string::npos);
}

TEST_F(VmdkReaderTest, RefusesWhatIsNoSparseExtentOrCannotBeRead) {
    EXPECT_NE(refusal(std::vector<std::uint8_t>(4096, 0x33)).find("KDMV"), std::string::npos);
    EXPECT_NE(refusal({}).find("KDMV"), std::string::npos);
    // By signature, a .vmdk without the magic is refused on the command line too rather than read as a flat disk.
    const OpenedImage opened = openImage(write(std::vector<std::uint8_t>(4096, 0x33), "other.vmdk"));
    EXPECT_FALSE(opened.reader);
    EXPECT_NE(opened.error.find("not a VMDK image"), std::string::npos);

    VmdkSpec spec;
    spec.allocatedGrains = {0};
    const auto good = testing::buildVmdk(spec);
    auto with = [&](std::size_t at, std::uint64_t value, int width) {
        auto f = good;
        if (width == 8) testing::putLe64(f, at, value);
        else testing::putLe32(f, at, static_cast<std::uint32_t>(value));
        return refusal(f);
    };
    EXPECT_NE(with(20, 0, 8).find("grain size"), std::string::npos);
    EXPECT_NE(with(20, 100, 8).find("grain size"), std::string::npos);
    EXPECT_NE(with(20, 1ULL << 40, 8).find("grain size"), std::string::npos);
    EXPECT_NE(with(44, 0, 4).find("grain table"), std::string::npos);
    EXPECT_NE(with(44, 0xFFFFFFFF, 4).find("grain table"), std::string::npos);
    EXPECT_NE(with(12, 0, 8).find("size of 0"), std::string::npos);
    EXPECT_NE(with(4, 7, 4).find("version 7"), std::string::npos);
    auto algorithm = good;
    testing::putLe32(algorithm, 8, 3 | (1U << 16));
    algorithm[77] = 9;
    EXPECT_NE(refusal(algorithm).find("compression algorithm 9"), std::string::npos);
    EXPECT_NE(refusal(std::vector<std::uint8_t>(good.begin(), good.begin() + 300)).find("cut short"),
              std::string::npos);
    EXPECT_EQ(refusalAt(dir.file("missing.vmdk")), "Invalid handle ...");
}

TEST_F(VmdkReaderTest, DescriptorFileWithOneExtent) {
    // A flat extent, starting 4 sectors into its file.
    std::vector<std::uint8_t> flat(4 * 512 + 2 * kMiB);
    for (std::size_t i = 0; i < 2 * kMiB; ++i) flat[4 * 512 + i] = testing::patternByte(i);
    write(flat, "disk-flat.vmdk");
    const std::string descriptor = writeText(
        "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\ncreateType=\"monolithicFlat\"\n\n"
        "# Extent description\nRW 4096 FLAT \"disk-flat.vmdk\" 4\n\n# The Disk Data Base\n#DDB\n"
        "ddb.adapterType = \"lsilogic\"\n",
        "disk.vmdk");
    VmdkReader reader;
    ASSERT_TRUE(succeeded(reader.open(descriptor)));
    EXPECT_TRUE(reader.isFlat());
    EXPECT_EQ(reader.descriptor().adapterType, "lsilogic");
    std::vector<std::uint8_t> expected(2 * kMiB);
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = testing::patternByte(i);
    expectWholeDisk(reader, expected);
    const ImageInfo info = describeImage(descriptor);
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.virtualSize, 2 * kMiB);

    // A sparse extent in its own file.
    VmdkSpec spec;
    spec.createType = "";
    spec.capacity = 4096;
    spec.allocatedGrains = {1, 3};
    write(spec, "split-s001.vmdk");
    const std::string split = writeText(
        "# Disk DescriptorFile\nversion=1\ncreateType=\"twoGbMaxExtentSparse\"\nRW 4096 SPARSE \"split-s001.vmdk\"\n",
        "split.vmdk");
    VmdkReader sparse;
    ASSERT_TRUE(succeeded(sparse.open(split)));
    expectWholeDisk(sparse, testing::expectedVmdkDisk(spec));
    EXPECT_EQ(sparse.descriptor().createType, "twoGbMaxExtentSparse");
}

TEST_F(VmdkReaderTest, DescriptorFilesItCannotServeAreRefusedClearly) {
    auto refusedText = [&](const std::string& extents) {
        return refusalAt(writeText("# Disk DescriptorFile\nversion=1\ncreateType=\"x\"\n" + extents, "d.vmdk"));
    };
    EXPECT_NE(refusedText("").find("no extents"), std::string::npos);
    EXPECT_NE(refusedText("RW 100 VMFSSPARSE \"a-delta.vmdk\"\n").find("type VMFSSPARSE"), std::string::npos);
    EXPECT_NE(refusedText("RW 100 FLAT \"../outside.img\" 0\n").find("beside the descriptor"), std::string::npos);
    EXPECT_NE(refusedText("RW 100 FLAT \"/etc/hostname\" 0\n").find("beside the descriptor"), std::string::npos);
    EXPECT_NE(refusedText("RW 100 FLAT \"absent.img\" 0\n").find("Cannot open"), std::string::npos);
    write(std::vector<std::uint8_t>(4096, 1), "plain.img");
    EXPECT_NE(refusedText("RW 100 SPARSE \"plain.img\"\n").find("KDMV"), std::string::npos);
    EXPECT_NE(refusedText("RW 100 FLAT \"plain.img\" 99\n").find("past the end"), std::string::npos);
    EXPECT_NE(refusedText("RW 0 FLAT \"plain.img\" 0\n").find("size of 0"), std::string::npos);
    // An extent that is a pipe: opening it would wait for a writer for ever.
    ASSERT_EQ(::mkfifo(dir.file("pipe.img").c_str(), 0600), 0);
    VmdkReader piped;
    EXPECT_FALSE(piped.open(writeText("# Disk DescriptorFile\nversion=1\ncreateType=\"x\"\nRW 100 FLAT \"pipe.img\" 0\n",
                                      "p.vmdk")));
    EXPECT_EQ(piped.failureDetail(), "not a regular file or a block device");
}

TEST_F(VmdkReaderTest, InfoReportsGrainsAndParent) {
    VmdkSpec spec;
    spec.parentCID = "1a2b3c4d";
    spec.createType = "monolithicSparse";
    spec.parentFileNameHint = "base.vmdk";
    spec.allocatedGrains = {0, 5, 6};
    spec.zeroGrains = {7};
    const std::string path = write(spec, "child.img");
    writeParent("base.vmdk", "1a2b3c4d", spec.capacity);
    const ImageInfo info = describeImage(path);
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.kind, ImageKind::Vmdk);
    EXPECT_EQ(info.format, "VMDK");
    EXPECT_EQ(info.version, "1");
    EXPECT_EQ(info.virtualSize, spec.capacity * 512);
    EXPECT_EQ(info.blockSize, 65536u);
    EXPECT_EQ(info.totalBlocks, 128u);
    EXPECT_EQ(info.allocatedBlocks, 3u);
    EXPECT_TRUE(info.differencing);
    EXPECT_NE(std::find(info.notes.begin(), info.notes.end(), "parent image: base.vmdk"), info.notes.end());
    EXPECT_EQ(info.parents, std::vector<std::string>{dir.file("base.vmdk")});
    EXPECT_EQ(info.parentFormats, std::vector<std::string>{"VMDK"});
}

// Extents laid end to end, as split and flat disks have them: a flat extent at an offset in its file, a zero
// extent, a sparse extent, a flat extent shorter in its file than the descriptor says.
TEST_F(VmdkReaderTest, DescriptorLaysManyExtentsEndToEnd) {
    std::vector<std::uint8_t> flat(4 * 512 + 2048 * 512, 0xAB);
    for (std::size_t i = 0; i < 2048 * 512; ++i) flat[4 * 512 + i] = testing::patternByte(i);
    write(flat, "d-f001.vmdk");
    VmdkSpec spec;
    spec.createType = "";
    spec.capacity = 4096;
    spec.allocatedGrains = {1, 3};
    write(spec, "d-s002.vmdk");
    write(std::vector<std::uint8_t>(50 * 512, 0x3C), "d-f003.vmdk");
    const std::string path = writeText(
        "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\ncreateType=\"twoGbMaxExtentFlat\"\n"
        "RW 2048 FLAT \"d-f001.vmdk\" 4\nRW 1000 ZERO\nRW 4096 SPARSE \"d-s002.vmdk\"\nRDONLY 100 FLAT \"d-f003.vmdk\" 0\n",
        "d.vmdk");
    VmdkReader reader;
    ASSERT_TRUE(succeeded(reader.open(path)));
    EXPECT_EQ(reader.extentCount(), 4u);
    EXPECT_EQ(reader.totalSectors, 2048u + 1000 + 4096 + 100);
    std::vector<std::uint8_t> expected(flat.begin() + 4 * 512, flat.end());
    expected.resize(expected.size() + 1000 * 512, 0);
    const auto sparse = testing::expectedVmdkDisk(spec);
    expected.insert(expected.end(), sparse.begin(), sparse.end());
    expected.insert(expected.end(), 50 * 512, 0x3C);
    expected.resize(expected.size() + 50 * 512, 0);
    std::vector<std::uint8_t> head(expected.size());
    EXPECT_FALSE(reader.readAt(0, head.data(), head.size()));  // the last extent's file holds 50 of its 100 sectors
    EXPECT_TRUE(head == expected);
    bool ok = false;
    const auto across = readAt(reader, 2048 * 512 - 100, 1000 * 512 + 300, &ok);  // flat, zero, sparse
    EXPECT_TRUE(ok);
    EXPECT_EQ(across[0], testing::patternByte(2048 * 512 - 100));
    EXPECT_EQ(across.back(), sparse[199]);

    // A missing extent is named.
    const std::string missing = writeText(
        "# Disk DescriptorFile\nversion=1\ncreateType=\"twoGbMaxExtentSparse\"\nRW 4096 SPARSE \"d-s002.vmdk\"\n"
        "RW 4096 SPARSE \"d-s009.vmdk\"\n",
        "m.vmdk");
    const Status refused = reader.open(missing);
    EXPECT_NE(refused.message().find(dir.file("d-s009.vmdk")), std::string::npos) << refused.message();
}

// A child disk reads what it does not hold from its parent; zero grains stay zeros; a parent of another CID is
// refused unless forced, and a missing one is named.
TEST_F(VmdkReaderTest, ChildDiskReadsThroughTheParentItWasMadeFrom) {
    writeParent("base.vmdk", "aaaa0001", 4096);
    VmdkSpec spec;
    spec.capacity = 4096;
    spec.parentCID = "aaaa0001";
    spec.parentFileNameHint = "base.vmdk";
    spec.allocatedGrains = {1};
    spec.zeroGrains = {2};
    const std::string child = write(spec, "child.vmdk");
    VmdkReader reader;
    ASSERT_TRUE(succeeded(reader.open(child)));
    std::vector<std::uint8_t> expected(4096 * 512, 0x77);
    for (std::size_t i = 65536; i < 2 * 65536; ++i) expected[i] = testing::patternByte(i);
    std::fill(expected.begin() + 2 * 65536, expected.begin() + 3 * 65536, 0);
    expectWholeDisk(reader, expected);
    EXPECT_EQ(reader.parentChain(), std::vector<std::string>{dir.file("base.vmdk")});

    spec.parentCID = "bbbb0002";
    const std::string other = write(spec, "other.vmdk");
    testing::expectParentRefusedUnlessForced(reader, other);
    ImageOverrides force;
    force.forceParent = true;
    ASSERT_EQ(reader.parentNotes().size(), 1u);
    EXPECT_NE(reader.parentNotes()[0].find("read through it as asked"), std::string::npos);
    const ImageInfo forced = describeImage(other, force);  // info --check calls it damage
    ASSERT_TRUE(forced.ok) << forced.error;
    EXPECT_EQ(forced.damage, reader.parentNotes());
    ImageOverrides named;
    named.parentPath = dir.file("base.vmdk");
    reader.setOverrides(named);
    spec.parentCID = "aaaa0001";
    spec.parentFileNameHint = "gone.vmdk";
    const std::string orphan = write(spec, "orphan.vmdk");
    EXPECT_TRUE(succeeded(reader.open(orphan)));
    reader.setOverrides({});
    const Status orphaned = reader.open(orphan);
    EXPECT_NE(orphaned.message().find("gone.vmdk was not found; name it with --parent"), std::string::npos)
        << orphaned.message();
}

TEST(VmdkHostileInput, AbsurdCountsAndOffsetsAreBounded) {
    TempDir dir;
    VmdkSpec spec;
    spec.allocatedGrains = {0, 1};
    VmdkLayout layout;
    auto f = testing::buildVmdk(spec, &layout);
    testing::putLe32(f, layout.tables[0] * 512 + 4, 0xFFFFFFF0);  // grain 1 far past the end
    testing::putLe64(f, 36, ~0ULL);                               // descriptor size
    const std::string path = dir.file("absurd.vmdk");
    testing::writeFile(path, f);
    VmdkReader reader;
    ASSERT_TRUE(reader.open(path));
    std::vector<std::uint8_t> data(256 * 1024, 0xEE);
    EXPECT_FALSE(reader.readAt(0, data.data(), data.size()));
    EXPECT_EQ(data[5], testing::patternByte(5));
    EXPECT_TRUE(allZero(data, 65536));
    EXPECT_EQ(reader.countGrains().pastEnd, 1u);

    // A capacity that asks for billions of directory entries gets what the file holds.
    testing::putLe64(f, 12, ~0ULL >> 2);
    testing::writeFile(path, f);
    VmdkReader huge;
    ASSERT_TRUE(huge.open(path));
    EXPECT_LE(huge.blockMap.size(), f.size() / 4);
    EXPECT_FALSE(huge.notes().empty());
    EXPECT_EQ(readAt(huge, 7, 1)[0], testing::patternByte(7));
    huge.countGrains();

    // A grain table past the end of the file: its sectors cannot be read.
    auto g = testing::buildVmdk(spec, &layout);
    testing::putLe32(g, layout.directory * 512, 0x7FFFFFF0);
    testing::writeFile(path, g);
    VmdkReader lost;
    ASSERT_TRUE(lost.open(path));
    EXPECT_FALSE(lost.readAt(0, data.data(), 512));
    EXPECT_FALSE(lost.countGrains().complete);
}

TEST(VmdkHostileInput, RandomDamageNeverCrashes) {
    for (bool compressed : {false, true}) {
        VmdkSpec spec;
        spec.capacity = 3000;
        spec.grainSize = 16;
        spec.gtEntries = 64;
        spec.compressed = compressed;
        spec.allocatedGrains = {0, 3, 64, 150};
        spec.zeroGrains = {4};
        VmdkLayout layout;
        const auto pristine = testing::buildVmdk(spec, &layout);
        const testing::Damage damage{{0, 40, 512, layout.directory * 512, layout.tables[0] * 512,
                                      layout.firstGrain * 512},
                                     80, 10, 200, compressed ? 31337u : 2024u};
        testing::openDamagedCopies<VmdkReader>(pristine, damage, "damaged.vmdk", spec.grainSize * 512, 40 * 1024,
                                               [](VmdkReader& reader) { reader.countGrains(); });
    }
}

}  // namespace
}  // namespace halvard
