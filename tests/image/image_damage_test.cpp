// Damage that `info --check` once reported as "no damage found": each case is built by hand, must be reported, and
// where data is lost its reads must fail rather than return zeros.
#include <gtest/gtest.h>

#include <algorithm>

#include "image/crc32c.h"
#include "image/image_info.h"
#include "image/vhdx_format.h"
#include "image/vhdx_reader.h"
#include "support/put_bytes.h"
#include "support/reader_checks.h"
#include "support/vhd_builder.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

using testing::TempDir;
using testing::putLe32;
using testing::putLe64;

constexpr std::uint64_t kMiB = 1024 * 1024;

// Rewrites the BAT region entry of both region tables and their checksums.
void setBatRegion(std::vector<std::uint8_t>& f, std::uint64_t offset, std::uint32_t length) {
    for (std::uint64_t table : {vhdx::kRegionTable1Offset, vhdx::kRegionTable2Offset}) {
        const vhdx::RegionTable parsed = vhdx::parseRegionTable(Bytes(f).subspan(table, vhdx::kRegionTableSize));
        for (std::size_t i = 0; i < parsed.entries.size(); ++i) {
            if (!(parsed.entries[i].guid == vhdx::kBatRegion)) continue;
            putLe64(f, table + 16 + 32 * i + 16, offset);
            putLe32(f, table + 16 + 32 * i + 24, length);
        }
        putLe32(f, table + 4, 0);
        putLe32(f, table + 4, crc32c(Bytes(f).subspan(table, vhdx::kRegionTableSize)));
    }
}

std::uint64_t batOffset(const std::vector<std::uint8_t>& f) {
    const auto parsed = vhdx::parseRegionTable(Bytes(f).subspan(vhdx::kRegionTable1Offset, vhdx::kRegionTableSize));
    for (const auto& e : parsed.entries)
        if (e.guid == vhdx::kBatRegion) return e.fileOffset;
    return 0;
}

class ImageDamageTest : public ::testing::Test {
protected:
    // The damage `describeImage` finds in `bytes`, one line each.
    std::string damageOf(const std::vector<std::uint8_t>& bytes, const std::string& name) {
        testing::writeFile(dir.file(name), bytes);
        const ImageInfo info = describeImage(dir.file(name));
        if (!info.ok) return "not opened: " + info.error;
        std::string all;
        for (const auto& d : info.damage) all += d + "\n";
        return all;
    }
    TempDir dir;
};

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(ImageDamageTest, VhdxBlockTableDamageIsReported) {
    testing::VhdxSpec spec;
    spec.allocatedBlocks = {0, 1};
    const auto pristine = testing::buildVhdx(spec);
    const std::string before = damageOf(pristine, "good.vhdx");
    EXPECT_FALSE(has(before, "block table") || has(before, "offset 0")) << before;

    // Every block FULLY_PRESENT at offset 0: damage, and reads fail instead of returning zeros.
    auto atZero = pristine;
    for (std::uint64_t i = 0; i < 8; ++i) putLe64(atZero, batOffset(atZero) + 8 * i, vhdx::kFullyPresent);
    EXPECT_TRUE(has(damageOf(atZero, "zero.vhdx"), "8 blocks are marked present at file offset 0")) << damageOf(atZero, "zero.vhdx");
    VhdxReader reader;
    reader.setRequireName(false);
    ASSERT_TRUE(reader.open(dir.file("zero.vhdx")));
    bool ok = true;
    testing::readAt(reader, 3 * kMiB, 4096, &ok);
    EXPECT_FALSE(ok);

    auto empty = pristine;
    setBatRegion(empty, batOffset(empty), 0);
    EXPECT_TRUE(has(damageOf(empty, "empty.vhdx"), "block table region has a length of 0")) << damageOf(empty, "empty.vhdx");
    auto far = pristine;
    setBatRegion(far, 1ULL << 40, 1 * kMiB);
    EXPECT_TRUE(has(damageOf(far, "far.vhdx"), "block table region lies past the end of the file")) << damageOf(far, "far.vhdx");
    EXPECT_TRUE(has(damageOf(far, "far.vhdx"), "holds 0 of the 8 block entries"));
}

TEST_F(ImageDamageTest, VhdxRegionCountAndSizeBeyondLimitsAreReported) {
    testing::VhdxSpec spec;
    spec.regionEntryCount = 0xFFFFFFFF;
    EXPECT_TRUE(has(damageOf(testing::buildVhdx(spec), "count.vhdx"), "claims 4294967295 entries (at most 2047)"));

    testing::VhdxSpec odd;
    odd.virtualSize = 8 * kMiB + 100;
    EXPECT_TRUE(has(damageOf(testing::buildVhdx(odd), "odd.vhdx"), "is not a whole number of 512-byte sectors"));

    testing::VhdxSpec huge;
    huge.blockSize = 256 * kMiB;
    huge.virtualSize = (64ULL << 40) + 256 * kMiB;
    const std::string found = damageOf(testing::buildVhdx(huge), "huge.vhdx");
    EXPECT_TRUE(has(found, "beyond the format's limit of 64 TiB")) << found;
    VhdxReader reader;
    reader.setRequireName(false);
    ASSERT_TRUE(reader.open(dir.file("huge.vhdx")));
    EXPECT_EQ(reader.totalSectors, (64ULL << 40) / 512);
}

TEST_F(ImageDamageTest, VhdFootersAndShortFixedFilesAreReported) {
    testing::VhdSpec spec;
    spec.allocatedBlocks = {0};
    auto dynamic = testing::buildVhd(spec);
    EXPECT_FALSE(has(damageOf(dynamic, "good.vhd"), "footer")) << damageOf(dynamic, "good.vhd");
    dynamic[64] ^= 0xFF;                   // the copy at the start
    dynamic[dynamic.size() - 512 + 64] ^= 0xFF;  // the footer at the end
    EXPECT_TRUE(has(damageOf(dynamic, "sums.vhd"), "no copy of the footer passes its checksum"));

    testing::VhdSpec fixedSpec;
    fixedSpec.fixed = true;
    auto fixed = testing::buildVhd(fixedSpec);
    // Cut 1 MiB of data out before the footer: the footer's size now claims more than the file holds.
    fixed.erase(fixed.begin(), fixed.begin() + kMiB);
    EXPECT_TRUE(has(damageOf(fixed, "short.vhd"), "larger than the")) << damageOf(fixed, "short.vhd");
}

}  // namespace
}  // namespace halvard
