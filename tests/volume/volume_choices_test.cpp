#include <gtest/gtest.h>

#include <limits>

#include "volume/volume_choices.h"

namespace halvard {
namespace {

VolumeRecord record(std::string fs, std::string size, std::int64_t start) {
    VolumeRecord r;
    r.fileSystem = std::move(fs);
    r.sizeText = std::move(size);
    r.startSector = start;
    return r;
}

TEST(VolumeChoices, SizeAndEndSectorComeFromTheSizeText) {
    EXPECT_EQ(sizeMiB(record("NTFS", "1024   MB", 2048)), 1024);
    EXPECT_EQ(endSectorOf(record("NTFS", "1024   MB", 2048)), 2099199);
    EXPECT_EQ(endSectorOf(record("CUSTOM ", "0", 0)), 0);
    EXPECT_EQ(volumeSizeBytes(record("FAT32", "100  MB", 0)), 100u * 1048576);
    EXPECT_EQ(sizeMiB(record("x", "99999999999999999999999", 0)), INT64_MAX);
    EXPECT_EQ(sizeMiB(record("x", "MB", 0)), 0);
}

TEST(VolumeChoices, SizeAndEndSectorComeFromTheSectorCountWhenKnown) {
    VolumeRecord r = record("extX", "0   MB", 2048);
    r.sectorCount = 129;
    EXPECT_EQ(volumeSectors(r), 129u);
    EXPECT_EQ(volumeSizeBytes(r), 129u * 512);
    EXPECT_EQ(endSectorOf(r), 2048 + 128);
    r.sectorCount = 6144;  // the NTFS volume that both scans list as 3 MiB
    EXPECT_EQ(endSectorOf(r), 8191);
    r.startSector = INT64_MAX - 5;
    EXPECT_EQ(endSectorOf(r), INT64_MAX);
    r.sectorCount = ~0ULL;
    EXPECT_EQ(volumeSizeBytes(r), ~0ULL);
}

TEST(VolumeChoices, CustomSettingsOverrideStartSizeAndType) {
    VolumeRecord r = record("Unknown", "5   MB", 63);
    applyCustomSettings(r, 2048, 206847, "NTFS");
    EXPECT_EQ(r.fileSystem, "ntfs");
    EXPECT_EQ(r.sizeText, "100");
    EXPECT_EQ(r.startSector, 2048);
    applyCustomSettings(r, 5000, 4000, "extx");
    EXPECT_EQ(r.fileSystem, "extX");
    EXPECT_EQ(r.sizeText, "0");
    applyCustomSettings(r, 0, 2047, std::nullopt);
    EXPECT_EQ(r.fileSystem, "extX");
    EXPECT_EQ(r.sizeText, "1");
    applyCustomSettings(r, 0, 2047, "RAW");
    EXPECT_EQ(r.fileSystem, "RAW");
    // The custom end sector reads back, and a range under 1 MiB keeps its size.
    applyCustomSettings(r, 2048, 8191, std::nullopt);
    EXPECT_EQ(endSectorOf(r), 8191);
    applyCustomSettings(r, 100, 228, std::nullopt);
    EXPECT_EQ(volumeSectors(r), 129u);
    EXPECT_EQ(r.sizeText, "0");
}

TEST(VolumeChoices, ListClickSelectsTheMatchingChoice) {
    EXPECT_EQ(choiceForFileSystem("NTFS"), "NTFS");
    EXPECT_EQ(choiceForFileSystem("FAT32"), "FAT32");
    EXPECT_EQ(choiceForFileSystem("extX"), "EXTX");
    EXPECT_EQ(choiceForFileSystem("FAT"), "FAT16");  // the first that begins with it
    EXPECT_EQ(choiceForFileSystem("Unknown"), std::nullopt);
    EXPECT_EQ(choiceForFileSystem(""), std::nullopt);
}

TEST(VolumeChoices, FilterKeepsVolumesOneSectorBehindTheirPredecessor) {
    const std::vector<VolumeRecord> records{record("NTFS", "1", 63), record("NTFS", "1", 64),
                                            record("NTFS", "1", 2048), record("NTFS", "1", 2049)};
    EXPECT_EQ(filterEntries(records), (std::vector<std::size_t>{3, 1}));
    EXPECT_TRUE(filterEntries({records[0]}).empty());
}

TEST(VolumeChoices, UnknownVolumesInEitherSpelling) {
    EXPECT_TRUE(isUnknownVolume(record("Unknown", "", 0)));
    EXPECT_TRUE(isUnknownVolume(record("UNKNOWN", "", 0)));
    EXPECT_FALSE(isUnknownVolume(record("CUSTOM ", "", 0)));
}

TEST(VolumeChoices, StartOffsetStopsWhereASignedByteOffsetEnds) {
    constexpr std::int64_t kLastFitting = std::numeric_limits<std::int64_t>::max() / 512;  // just under 2^54
    EXPECT_EQ(volumeStartOffset(record("NTFS", "1", 0)), 0);
    EXPECT_EQ(volumeStartOffset(record("NTFS", "1", 2048)), 2048 * 512);
    EXPECT_EQ(volumeStartOffset(record("NTFS", "1", kLastFitting)), kLastFitting * 512);
    EXPECT_FALSE(volumeStartOffset(record("NTFS", "1", kLastFitting + 1)));
    EXPECT_FALSE(volumeStartOffset(record("NTFS", "1", std::numeric_limits<std::int64_t>::max())));
    EXPECT_FALSE(volumeStartOffset(record("NTFS", "1", -1)));
}

TEST(VolumeChoices, HandMadeVolumesOnTheCommandLine) {
    std::string error;
    auto r = parseCustomVolume("custom:NTFS:2048:100", error);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->fileSystem, "ntfs");
    EXPECT_EQ(r->startSector, 2048);
    EXPECT_EQ(r->sizeText, "100");
    EXPECT_EQ(volumeSectors(*r), 204800u);
    EXPECT_EQ(parseCustomVolume("custom:exfat:0:5", error)->fileSystem, "fat64");
    EXPECT_EQ(parseCustomVolume("custom:raw:63:0", error)->fileSystem, "RAW");
    EXPECT_TRUE(parseCustomVolume("custom:RAW:18014398509481983:1", error));  // the last start a byte offset holds
    for (const char* bad : {"custom:NTFS:2048", "custom:ZFS:1:1", "custom:NTFS:-1:5", "custom:NTFS:1:x",
                            "custom:NTFS:1:2:3", "NTFS:1:2", "custom:RAW:18014398509481984:1",
                            "custom:RAW:9223372036854775807:1"}) {
        error.clear();
        EXPECT_FALSE(parseCustomVolume(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace halvard
