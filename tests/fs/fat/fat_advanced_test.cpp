// The FAT and exFAT advanced roads on byte buffers and small volumes built in memory: which bytes the finders and
// the entry scans take, where found records go (their directory, the top level, "ORPHAN ENTRY"), long names that
// lose their short slot, sets handled twice, and scans of volumes that claim more than the disk holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "browser/fat_view.h"
#include "fs/fat/exfat_engine.h"
#include "fs/fat/fat_candidates.h"
#include "fs/fat/fat_engine.h"
#include "fs/fat/fat_names.h"
#include "support/fat_builder.h"
#include "support/ntfs_builder.h"
#include "support/view_exercise.h"

namespace halvard {
namespace {

using namespace testing;  // the FAT and exFAT volume builders

ByteVector le(std::initializer_list<std::uint32_t> words) {
    ByteVector b;
    for (std::uint32_t w : words)
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    b.resize(512, 0);
    return b;
}

std::uint8_t checksumOf(const std::string& name11) {
    return shortNameChecksum(Bytes(reinterpret_cast<const std::uint8_t*>(name11.data()), 11));
}

TEST(FatAdvancedBytes, FatCopiesAreKnownByTheirFirstTwoEntries) {
    // FAT32: tools write entry 1 with or without its top four bits.
    EXPECT_TRUE(isFat32TableStart(le({0x0FFFFFF8, 0xFFFFFFFF})));
    EXPECT_TRUE(isFat32TableStart(le({0x0FFFFFF8, 0x0FFFFFFF})));
    EXPECT_FALSE(isFat32TableStart(le({0x0FFFFFF0, 0xFFFFFFFF})));  // media byte not 0xF8
    EXPECT_TRUE(isFat16TableStart(le({0xFFFFFFF8})));
    EXPECT_FALSE(isFat16TableStart(le({0xFFFFFFF0})));
    EXPECT_FALSE(isFat16TableStart(le({0x0FFFFFF8, 0xFFFFFFFF})));
    EXPECT_TRUE(isExfatTableStart(le({0xFFFFFFF8, 0xFFFFFFFF})));
    EXPECT_FALSE(isExfatTableStart(le({0x0FFFFFF8, 0xFFFFFFFF})));
    EXPECT_TRUE(isExfatHeapStart(le({0xFFFFFFFF, 0xFFFFFFFF})));
    EXPECT_FALSE(isExfatHeapStart(le({0xFFFFFFFF, 0x7FFFFFFF})));
}

TEST(FatAdvancedBytes, SlotRulesOfBothRoads) {
    const std::uint64_t limit = 1000;
    ByteVector file = shortSlot("REPORT  TXT", 0x20, 5, 100);
    EXPECT_EQ(fat32SlotKind(file, limit), SlotKind::File);
    EXPECT_EQ(fat16SlotKind(file, limit), SlotKind::File);
    // Tools that keep no 10 ms units write a zero tenths byte: still a file. Out of range it is not.
    file[13] = 0;
    EXPECT_EQ(fat32SlotKind(file, limit), SlotKind::File);
    file[13] = 200;
    EXPECT_EQ(fat32SlotKind(file, limit), SlotKind::None);
    EXPECT_EQ(fat16SlotKind(file, limit), SlotKind::None);
    // An empty file names no cluster: FAT32 passes it over, FAT16 takes it.
    const ByteVector empty = shortSlot("EMPTY   TXT", 0x20, 0, 0);
    EXPECT_EQ(fat32SlotKind(empty, limit), SlotKind::None);
    EXPECT_EQ(fat16SlotKind(empty, limit), SlotKind::File);
    // A cluster beyond the volume.
    EXPECT_EQ(fat32SlotKind(shortSlot("FAR     TXT", 0x20, 1000, 10), limit), SlotKind::None);
    // A bad write date.
    ByteVector badDate = shortSlot("BADDATE TXT", 0x20, 5, 10);
    badDate[24] = 0xA0;  // month 13
    badDate[25] = 0x51;
    EXPECT_EQ(fat32SlotKind(badDate, limit), SlotKind::None);

    // Read-only hidden directories (0x13) are never taken; a deleted FAT32 directory may carry a size, a live one
    // may not.
    EXPECT_EQ(fat32SlotKind(shortSlot("DOCS", 0x13, 3, 0), limit), SlotKind::None);
    EXPECT_EQ(fat16SlotKind(shortSlot("DOCS", 0x13, 3, 0), limit), SlotKind::None);
    EXPECT_EQ(fat32SlotKind(shortSlot("DOCS", 0x10, 3, 0), limit), SlotKind::Directory);
    EXPECT_EQ(fat32SlotKind(shortSlot("DOCS", 0x10, 3, 512), limit), SlotKind::None);
    EXPECT_EQ(fat32SlotKind(shortSlot("DOCS", 0x10, 3, 512, 0xE5), limit), SlotKind::Directory);
    // Names that do not start like a short name.
    EXPECT_EQ(fat32SlotKind(shortSlot("-DASH   TXT", 0x20, 5, 10), limit), SlotKind::None);
    EXPECT_EQ(fat32SlotKind(shortSlot(".          ", 0x10, 3, 0), limit), SlotKind::None);

    const auto lfn = longNameSlots("a long name.txt", 0x12);
    EXPECT_EQ(fat32SlotKind(lfn[0], limit), SlotKind::LongName);
    ByteVector badLfn = lfn[0];
    badLfn[26] = 1;  // a long-name slot names no cluster
    EXPECT_EQ(fat32SlotKind(badLfn, limit), SlotKind::None);

    EXPECT_TRUE(isFat32RootMarker(shortSlot("MYVOLUME   ", 0x08, 0, 0)));
    EXPECT_TRUE(isFat32RootMarker(shortSlot("$RECYCLE BIN", 0x16, 9, 0)));
    EXPECT_FALSE(isFat32RootMarker(shortSlot("REPORT  TXT", 0x20, 5, 100)));

    ByteVector dots;
    for (const auto& s : dotSlots(7, 2)) dots.insert(dots.end(), s.begin(), s.end());
    EXPECT_EQ(dotSlotCluster(dots), 7u);
    EXPECT_EQ(dotSlotCluster(Bytes(dots).first(32)), 0u);
}

TEST(FatAdvancedBytes, ExfatSetsMustBeWhole) {
    auto flat = [](const std::vector<ByteVector>& entries) {
        ByteVector b;
        for (const auto& e : entries) b.insert(b.end(), e.begin(), e.end());
        b.resize(b.size() + 64, 0);
        return b;
    };
    ExfatSet set{"twenty characters..", 0x20, 5, 100, 0x01};
    const auto entries = exfatEntrySet(set);
    EXPECT_TRUE(isExfatSetStart(flat(entries), 0));
    // The second name entry missing.
    EXPECT_FALSE(isExfatSetStart(flat({entries[0], entries[1], entries[2]}), 0));
    // Read-only archive files (0x21) are not taken.
    set.attributes = 0x21;
    EXPECT_FALSE(isExfatSetStart(flat(exfatEntrySet(set)), 0));
    // Deleted sets are.
    set.attributes = 0x20;
    set.deleted = true;
    EXPECT_TRUE(isExfatSetStart(flat(exfatEntrySet(set)), 0));
    // A set cut by the end of the bytes.
    EXPECT_FALSE(isExfatSetStart(Bytes(flat(entries)).first(64), 0));
}

// A volume parsed on the advanced road through the browsing interface, with its listing by path.
struct Advanced {
    MemoryReader reader;
    std::unique_ptr<VolumeView> view;
    std::optional<AdvancedFindings> found;
    bool parsed = false;

    Advanced(ByteVector image, const std::string& type, const std::string& size = "2   MB") : reader(std::move(image)) {
        VolumeRecord record;
        record.fileSystem = type;
        record.sizeText = size;
        view = makeFatView(testing::on(reader, record), type);
        found = view->findStructures({}, 3);
    }
    std::string parse(std::size_t fat, const std::string& cluster, std::size_t heap = 0) {
        AdvancedSelection pick{fat, cluster, heap};
        const Status picked = view->selectAdvanced(pick);
        if (picked) parsed = view->parse({}, ParseMode::Advanced);
        return picked.message();
    }
    std::map<std::string, EntryId> listing() const { return testing::listByPath(*view); }
    std::string saved(const std::string& path) {
        return testing::savedContent(*view, path, ::testing::TempDir() + "fat_advanced_saved");
    }
};

// FAT32, 512-byte clusters, boot sector zeroed. Root (cluster 2, then 4): the label, DOCS (3), ROOT.TXT (6),
// and in the root's second cluster LATE.TXT (7). DOCS: a long-named file (5) and a short one (8).
FatVolumeBuilder fat32Volume() {
    FatVolumeBuilder b(32, 4096);
    b.setFat(0, 0x0FFFFFF8);  // as formatting tools write it: the top four bits are reserved
    return b;
}

FatVolumeBuilder damagedFat32() {
    FatVolumeBuilder b = fat32Volume();
    b.chain({2, 4});
    b.chain({3});
    b.chain({5});
    b.chain({6});
    b.chain({7});
    b.chain({8});
    b.putSlots(b.clusterOffset(2), {shortSlot("MYVOLUME   ", 0x08, 0, 0), shortSlot("DOCS", 0x10, 3, 0),
                                    shortSlot("ROOT    TXT", 0x20, 6, 5)});
    b.putSlots(b.clusterOffset(4), {shortSlot("LATE    TXT", 0x20, 7, 4)});
    std::vector<ByteVector> docs = dotSlots(3, 0);
    for (const auto& s : longNameSlots("quarterly report.txt", checksumOf("QUARTE~1TXT"))) docs.push_back(s);
    docs.push_back(shortSlot("QUARTE~1TXT", 0x20, 5, 11));
    docs.push_back(shortSlot("PLAIN   TXT", 0x20, 8, 3));
    b.putSlots(b.clusterOffset(3), docs);
    b.put(b.clusterOffset(5), {'q', 'u', 'a', 'r', 't', 'e', 'r', 'l', 'y', '!', '\n'});
    b.put(b.clusterOffset(6), {'r', 'o', 'o', 't', '\n'});
    b.put(b.clusterOffset(7), {'l', 'a', 't', 'e'});
    b.put(b.clusterOffset(8), {'a', 'b', 'c'});
    std::fill(b.image.begin(), b.image.begin() + 512, 0);
    return b;
}

TEST(FatAdvancedRoad, Fat32WithoutBootSectorFindsItsTreeAndPutsTheRestUnderOrphanEntry) {
    FatVolumeBuilder b = damagedFat32();
    Advanced a(b.image, "fat32");
    ASSERT_TRUE(a.found);
    ASSERT_EQ(a.found->foundOffsets, std::vector<std::uint64_t>{b.fatStart});
    EXPECT_EQ(a.found->clusterSizes.front(), "2");  // no boot sector: the usual first size
    EXPECT_EQ(a.parse(0, "1"), "");
    ASSERT_TRUE(a.parsed);
    const auto list = a.listing();
    for (const char* path : {"/DOCS", "/DOCS/quarterly report.txt", "/DOCS/PLAIN.TXT", "/ROOT.TXT", "/ORPHAN ENTRY",
                             "/ORPHAN ENTRY/LATE.TXT"})
        EXPECT_TRUE(list.count(path)) << path;
    // Each file once: the slots a directory walk took are not listed again as candidates of their own.
    EXPECT_EQ(list.size(), 6u);
    EXPECT_EQ(a.saved("/DOCS/quarterly report.txt"), "quarterly!\n");
    EXPECT_EQ(a.saved("/ORPHAN ENTRY/LATE.TXT"), "late");
}

TEST(FatAdvancedRoad, Fat32RefusesPicksItCannotUse) {
    FatVolumeBuilder b = damagedFat32();
    Advanced a(b.image, "fat32");
    EXPECT_EQ(a.parse(1, "1"), kNoEntryFound);
    EXPECT_NE(a.parse(0, "3").find("not a usable cluster size"), std::string::npos);
    EXPECT_NE(a.parse(0, "").find("not a usable cluster size"), std::string::npos);
    EXPECT_NE(a.parse(0, "x").find("not a usable cluster size"), std::string::npos);
    EXPECT_FALSE(a.parsed);
    // Without picks the advanced parse does not run.
    EXPECT_FALSE(a.view->parse({}, ParseMode::Advanced));
}

// With a boot sector that reads, its own cluster size comes first (one sector here, which the usual list lacks)
// and its geometry places the files even when the road is taken.
TEST(FatAdvancedRoad, ABootSectorThatReadsGivesTheFirstClusterSize) {
    FatVolumeBuilder b = damagedFat32();
    FatVolumeBuilder intact = fat32Volume();
    std::copy(intact.image.begin(), intact.image.begin() + 512, b.image.begin());
    Advanced a(b.image, "fat32");
    ASSERT_TRUE(a.found);
    EXPECT_EQ(a.found->clusterSizes.front(), "1");
    EXPECT_EQ(std::count(a.found->clusterSizes.begin(), a.found->clusterSizes.end(), "1"), 1);
    EXPECT_EQ(a.parse(0, a.found->clusterSizes.front()), "");
    EXPECT_EQ(a.saved("/DOCS/PLAIN.TXT"), "abc");
}

// A long name whose short slot is not taken belongs to nothing: the next file keeps its own short name.
TEST(FatAdvancedRoad, ALongNameNeverMovesToAnotherFile) {
    FatVolumeBuilder b = fat32Volume();
    b.chain({2});
    b.chain({5});
    std::vector<ByteVector> root{shortSlot("MYVOLUME   ", 0x08, 0, 0)};
    for (const auto& s : longNameSlots("lost long name.txt", checksumOf("LOSTLO~1TXT"))) root.push_back(s);
    root.push_back(shortSlot("LOSTLO~1TXT", 0x20, 0, 0));  // empty: no FAT32 candidate
    root.push_back(shortSlot("NEXT    TXT", 0x20, 5, 2));
    b.putSlots(b.clusterOffset(2), root);
    std::fill(b.image.begin(), b.image.begin() + 512, 0);
    Advanced a(b.image, "fat32");
    ASSERT_EQ(a.parse(0, "1"), "");
    const auto list = a.listing();
    EXPECT_TRUE(list.count("/NEXT.TXT"));
    EXPECT_FALSE(list.count("/lost long name.txt"));
}

// The finders stop at their limit, even within one chunk; the heap finder returns one more.
TEST(FatAdvancedRoad, FindersStopAtTheirLimit) {
    ByteVector image(2 * 1024 * 1024, 0);
    for (std::size_t k = 1; k <= 6; ++k) {
        const ByteVector fat = le({0xFFFFFFF8, 0xFFFFFFFF});
        std::copy(fat.begin(), fat.begin() + 8, image.begin() + static_cast<std::ptrdiff_t>(k * 4096));
        std::fill(image.begin() + static_cast<std::ptrdiff_t>(k * 4096 + 1024),
                  image.begin() + static_cast<std::ptrdiff_t>(k * 4096 + 1032), 0xFF);
    }
    MemoryReader reader(image);
    VolumeRecord record;
    record.sizeText = "2   MB";
    Fat16Engine fat16(testing::on(reader, record));
    fat16.attachReader();
    EXPECT_EQ(fat16.findFatTables(3), (std::vector<std::uint64_t>{4096, 8192, 12288}));
    EXPECT_EQ(fat16.findFatTables(-1).size(), 1u);
    ExFatEngine exfat(testing::on(reader, record));
    exfat.attachReader();
    EXPECT_EQ(exfat.findFatTables(3).size(), 3u);
    EXPECT_EQ(exfat.findHeapStarts(3).size(), 4u);
}

// A volume record that claims more than the disk holds: the finders and the scan end where the disk does.
TEST(FatAdvancedRoad, ScansEndWhereTheDiskEnds) {
    FatVolumeBuilder b = damagedFat32();
    Advanced a(b.image, "fat32", "4096   MB");
    ASSERT_TRUE(a.found);
    EXPECT_EQ(a.found->foundOffsets.size(), 1u);
    EXPECT_EQ(a.parse(0, "1"), "");
    EXPECT_TRUE(a.listing().count("/DOCS/PLAIN.TXT"));
}

// exFAT without its boot sector: the root's sets (the cluster that starts with the label) at the top, a directory
// walked once, a stray set under "ORPHAN ENTRY", which is a folder even when the first set found is a file.
TEST(FatAdvancedRoad, ExfatBuildsFromWholeSets) {
    ExfatVolumeBuilder b(120);
    ByteVector label(32, 0);
    label[0] = 0x83;
    label[1] = 2;
    label[2] = 'V';
    std::vector<ByteVector> root{label};
    for (const auto& e : exfatEntrySet({"first.txt", 0x20, 6, 5, 0x03})) root.push_back(e);
    for (const auto& e : exfatEntrySet({"Docs", 0x10, 3, 512, 0x03})) root.push_back(e);
    b.putEntries(b.clusterOffset(2), root);
    b.putEntries(b.clusterOffset(3), exfatEntrySet({"inner.txt", 0x20, 5, 6, 0x03}));
    b.putEntries(b.clusterOffset(10), exfatEntrySet({"stray.bin", 0x20, 11, 4, 0x03}));
    b.put(b.clusterOffset(5), {'i', 'n', 'n', 'e', 'r', '\n'});
    b.put(b.clusterOffset(11), {'s', 't', 'r', 'y'});
    std::fill(b.image.begin(), b.image.begin() + 512, 0);

    MemoryReader reader(b.image);
    VolumeRecord record;
    record.fileSystem = "FAT64";
    record.sizeText = "1   MB";
    FatView view(std::make_unique<ExFatEngine>(testing::on(reader, record)));
    const auto found = view.findStructures({}, 3);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->foundOffsets, std::vector<std::uint64_t>{1024});
    EXPECT_TRUE(found->clusterSizeIsShift);
    // No heap was found (the heap starts with the root here): the parse is refused.
    EXPECT_FALSE(view.selectAdvanced({0, "0", 0}).ok());

    // The engine's own road, with the heap given.
    auto& engine = static_cast<ExFatEngine&>(view.engine());
    engine.attachReader();
    engine.setUserGeometry(0);
    engine.scanForEntries();
    EXPECT_EQ(engine.labelPosition, b.clusterOffset(2));
    engine.buildFromCandidates(2048, 1024);
    std::map<std::string, std::vector<std::int32_t>> parents;
    for (const ExFatEntry& e : engine.entries) parents[e.name].push_back(e.parentIndex);
    EXPECT_EQ(parents["first.txt"], std::vector<std::int32_t>{0});
    EXPECT_EQ(parents["Docs"], std::vector<std::int32_t>{0});
    ASSERT_EQ(parents["inner.txt"].size(), 1u);
    EXPECT_EQ(engine.entries[parents["inner.txt"][0]].name, "Docs");
    EXPECT_EQ(parents["stray.bin"], std::vector<std::int32_t>{1});
    EXPECT_TRUE(engine.isFolder(1));
    EXPECT_EQ(engine.entries[1].name, "ORPHAN ENTRY");
}

}  // namespace
}  // namespace halvard
