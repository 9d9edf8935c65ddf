// Containers whose headers claim what the file cannot hold, and containers whose signature was hit. The first kind
// come from images qemu-img wrote with one field changed (kept as fuzz regressions): their damage is reported, the
// size stays a 64-bit signed number, and the map of the whole disk answers in a few whole stretches, so scans, the
// export's free-space check and the export itself take no longer than the file is long.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "image/disk_export.h"
#include "image/image_file.h"
#include "image/image_info.h"
#include "image/image_kind.h"
#include "image/vhdx_format.h"
#include "image/crc32c.h"
#include "image/unstored_skip.h"
#include "image/vmdk_reader.h"
#include "support/put_bytes.h"
#include "support/reader_checks.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

using testing::TempDir;

std::string regression(const std::string& target, const std::string& name) {
    return std::string(HALVARD_TESTS_DIR) + "/../fuzz/regressions/" + target + "/" + name;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) all += line + "\n";
    return all;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Walks the whole disk as a scan does, jumping what is not stored or cannot be read; returns the number of
// questions asked of the map (a stored stretch is passed in one step, as a scan reading it would).
std::uint64_t scanQuestions(const DiskReader& reader, std::uint64_t* unreadable = nullptr) {
    std::uint64_t questions = 0;
    const std::uint64_t end = reader.totalSectors * kSectorSize;
    UnstoredSkip skip(
        [&](std::uint64_t offset, std::uint64_t limit) {
            ++questions;
            return reader.storedRun(offset, limit);
        },
        end);
    for (std::uint64_t at = 0; at < end && questions < 10000;) {
        at = skip.next(at, kSectorSize);
        if (at < end) at = std::max(at + kSectorSize, skip.storedEnd());
    }
    if (unreadable) *unreadable = skip.unreadableBytes();
    return questions;
}

struct Case {
    const char* target;
    const char* name;
    const char* damage;     // a part of the damage reported
    std::uint64_t diskSize;  // as the header claims it (or the largest a disk may be)
};

class ClaimedSizeTest : public ::testing::TestWithParam<Case> {};

TEST_P(ClaimedSizeTest, DamageIsReportedAndTheMapAnswersInStretches) {
    const Case& c = GetParam();
    const std::string path = regression(c.target, c.name);
    const ImageInfo info = describeImage(path);
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_TRUE(has(joined(info.damage), c.damage)) << joined(info.damage);
    EXPECT_EQ(info.virtualSize, c.diskSize);
    EXPECT_LE(info.virtualSize, static_cast<std::uint64_t>(INT64_MAX));

    OpenedImage opened = openImage(path);
    ASSERT_TRUE(opened.reader) << opened.error;
    DiskReader& reader = *opened.reader;
    const auto started = std::chrono::steady_clock::now();
    std::uint64_t unreadable = 0;
    EXPECT_LT(scanQuestions(reader, &unreadable), 64u);
    // The export's free-space check: only what can be read is counted, and the file holds no more than that.
    EXPECT_LE(reader.storedBytes(0, reader.totalSectors * kSectorSize), reader.imageFileSize);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    // A read past what the file and its tables hold fails rather than passing zeros off as the disk's.
    if (unreadable) {
        bool ok = true;
        testing::readAt(reader, static_cast<std::int64_t>(reader.totalSectors * kSectorSize - 4096), 4096, &ok);
        EXPECT_FALSE(ok);
    }
}

INSTANTIATE_TEST_SUITE_P(
    QemuImages, ClaimedSizeTest,
    ::testing::Values(
        // A fixed disk of 69,632 bytes whose footer claims 64 TiB.
        Case{"image_vhd", "vhd-fixed-claims-64tib", "is larger than the 69632 bytes of data", 64ULL << 40},
        // 2^50 bytes over a block map of 16 entries.
        Case{"image_vdi", "vdi-size-2-50", "the block map describes 16 of the disk's 1073741824 blocks", 1ULL << 50},
        // 2^62 sectors: more than any disk; the largest one whose byte offsets fit in 63 bits is read.
        Case{"image_vmdk", "vmdk-capacity-2-62", "is beyond any disk", ((1ULL << 54) - 1) * 512},
        // An absurd capacity and a grain directory placed past the file (its redundant copy is cut short).
        Case{"image_vmdk", "vmdk-directory-past-file", "the grain directory describes", ((1ULL << 54) - 1) * 512}),
    [](const ::testing::TestParamInfo<Case>& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (ch == '-') ch = '_';
        return name;
    });

TEST(HeaderDamageTest, DataOffsetPastTheFileAndBlocksOverTheHeaderAreReported) {
    const ImageInfo vdi = describeImage(regression("image_vdi", "vdi-data-past-file"));
    ASSERT_TRUE(vdi.ok) << vdi.error;
    EXPECT_TRUE(has(joined(vdi.damage), "the data area starts at 1048576, past the end of the file")) << joined(vdi.damage);

    // Block 0 of a dynamic VHD placed at offset 0: its data would be the file's own header and block table.
    const std::string path = regression("image_vhd", "vhd-block-at-zero");
    const ImageInfo vhd = describeImage(path);
    ASSERT_TRUE(vhd.ok) << vhd.error;
    EXPECT_TRUE(has(joined(vhd.damage), "1 blocks are placed over the image's footer copy, header or block table"))
        << joined(vhd.damage);
    OpenedImage opened = openImage(path);
    ASSERT_TRUE(opened.reader) << opened.error;
    bool ok = true;
    const auto first = testing::readAt(*opened.reader, 0, 4096, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(testing::allZero(first));  // not the header's bytes ("cxsparse" lies at 512)
    const TempDir dir;
    const ExportResult exported = exportDiskImage(*opened.reader, 0, dir.file("out.raw"), {}, {});
    EXPECT_GT(exported.unreadableSectors, 0u);
}

TEST(HeaderDamageTest, AShortFlatVmdkExtentIsDamage) {
    const TempDir dir;
    std::ofstream(dir.file("disk.vmdk")) << "# Disk DescriptorFile\nversion=1\nCID=12345678\nparentCID=ffffffff\n"
                                            "createType=\"monolithicFlat\"\n\nRW 2048 FLAT \"disk-flat.vmdk\" 0\n";
    testing::writeFile(dir.file("disk-flat.vmdk"), std::vector<std::uint8_t>(128 * 512, 0x5A));
    const ImageInfo info = describeImage(dir.file("disk.vmdk"));
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_TRUE(has(joined(info.damage), "holds 128 of its 2048 sectors")) << joined(info.damage);
    VmdkReader reader;
    ASSERT_TRUE(reader.open(dir.file("disk.vmdk")));
    std::uint64_t unreadable = 0;
    EXPECT_LT(scanQuestions(reader, &unreadable), 8u);
    EXPECT_EQ(unreadable, (2048 - 128) * 512u);
}

TEST(HeaderDamageTest, UnreadableStretchesAreJumpedApartFromUnstoredOnes) {
    // Stored 0..4 KiB, unstored up to 64 KiB, unreadable after that.
    std::uint64_t questions = 0;
    UnstoredSkip skip(
        [&](std::uint64_t offset, std::uint64_t limit) {
            ++questions;
            if (offset < 4096) return StoredRun{true, std::min<std::uint64_t>(4096 - offset, limit)};
            if (offset < 65536) return StoredRun{false, std::min<std::uint64_t>(65536 - offset, limit)};
            return StoredRun{true, limit, true};
        },
        1ULL << 50);
    EXPECT_EQ(skip.next(0, 512), 0u);
    EXPECT_EQ(skip.next(4096, 512), 1ULL << 50);
    EXPECT_EQ(skip.skippedBytes(), 65536u - 4096u);
    EXPECT_EQ(skip.unreadableBytes(), (1ULL << 50) - 65536u);
    EXPECT_EQ(questions, 3u);
}

// A signature hit by damage where the format's other structures stand: never a flat disk of its own bytes.
// A built VHDX with the checksums of its headers and region tables filled in, as a real writer leaves them.
std::vector<std::uint8_t> checksummedVhdx(const testing::VhdxSpec& spec) {
    auto bytes = testing::buildVhdx(spec);
    const std::pair<std::uint64_t, std::size_t> spans[] = {{vhdx::kHeader1Offset, 4096},
                                                           {vhdx::kHeader2Offset, 4096},
                                                           {vhdx::kRegionTable1Offset, vhdx::kRegionTableSize},
                                                           {vhdx::kRegionTable2Offset, vhdx::kRegionTableSize}};
    for (const auto& [at, length] : spans) {
        testing::putLe32(bytes, at + 4, 0);
        testing::putLe32(bytes, at + 4, crc32c(Bytes(bytes).subspan(at, length)));
    }
    return bytes;
}

TEST(HitSignatureTest, AVhdxWithoutItsFileIdentifierIsReadThroughItsHeaders) {
    testing::VhdxSpec spec;
    spec.allocatedBlocks = {0};
    auto bytes = checksummedVhdx(spec);
    std::fill(bytes.begin(), bytes.begin() + 8, 0);
    const TempDir dir;
    testing::writeFile(dir.file("hit.img"), bytes);
    ImageFile file;
    ASSERT_TRUE(file.open(dir.file("hit.img")));
    EXPECT_EQ(detectImageKind(file), ImageKind::Vhdx);
    const ImageInfo info = describeImage(dir.file("hit.img"));
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.format, "VHDX");
    EXPECT_TRUE(has(joined(info.damage), "file identifier")) << joined(info.damage);
    OpenedImage opened = openImage(dir.file("hit.img"));
    ASSERT_TRUE(opened.reader) << opened.error;
    EXPECT_EQ(testing::readAt(*opened.reader, 4096, 1)[0], testing::patternByte(4096));
}

TEST(HitSignatureTest, AQcow2WithAHitMagicIsRefusedAsDamagedQcow2) {
    // qemu-img's image of 1 MiB in 512-byte clusters, its first byte flipped.
    const std::string path = regression("image_qcow2", "qcow2-magic-hit");
    ImageFile file;
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(detectImageKind(file), ImageKind::Qcow2);
    const OpenedImage opened = openImage(path);
    EXPECT_FALSE(opened.reader);
    EXPECT_TRUE(has(opened.error, "a damaged qcow2 image")) << opened.error;
}

TEST(HitSignatureTest, RawDisksStayRaw) {
    // Random bytes, a boot sector, and a disk holding copies of VHDX headers at other places than a VHDX's.
    std::mt19937 random(7);
    std::vector<std::uint8_t> noise(1 << 20);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> boot(1 << 20, 0);
    boot[510] = 0x55;
    boot[511] = 0xAA;
    testing::VhdxSpec spec;
    const auto vhdx = checksummedVhdx(spec);
    std::vector<std::uint8_t> shifted(1 << 20, 0);
    std::copy(vhdx.begin(), vhdx.begin() + 512 * 1024, shifted.begin() + 4096);
    std::vector<std::uint8_t> headerOnly = vhdx;  // the headers alone, its region tables wiped
    std::fill(headerOnly.begin() + 192 * 1024, headerOnly.begin() + 320 * 1024, 0);
    std::fill(headerOnly.begin(), headerOnly.begin() + 8, 0);
    const TempDir dir;
    for (const auto* disk : {&noise, &boot, &shifted, &headerOnly}) {
        testing::writeFile(dir.file("disk.img"), *disk);
        ImageFile file;
        ASSERT_TRUE(file.open(dir.file("disk.img")));
        EXPECT_EQ(detectImageKind(file), ImageKind::Raw);
    }
}

}  // namespace
}  // namespace halvard
