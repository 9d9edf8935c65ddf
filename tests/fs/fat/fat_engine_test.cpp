// The FAT12/16, FAT32 and exFAT engines on small volumes built in memory: long names, merged directory slots,
// directory loops, reused clusters, 12-bit chains, chain loops, exFAT entry sets with bad counts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "browser/entry_walk.h"
#include "browser/fat_view.h"
#include "common/memory_tree.h"
#include "fs/fat/fat_names.h"
#include "fs/fat/fat_table.h"
#include "support/fat_builder.h"
#include "support/ntfs_builder.h"
#include "support/view_exercise.h"

namespace halvard {
namespace {

using namespace testing;  // the FAT and exFAT volume builders

// A parsed volume and its listing by path ("/DIR/FILE.TXT" -> entry).
struct Parsed {
    Parsed(ByteVector image, const std::string& fileSystem, bool formatted = false)
        : reader(std::move(image)) {
        VolumeRecord record;
        record.fileSystem = fileSystem;
        record.sizeText = "2   MB";
        std::string type = fileSystem;
        for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        view = makeFatView(testing::on(reader, record), type);
        ParseContext context;
        context.tree = &tree;
        context.formattedDrive = formatted;
        parsed = view && view->parse(context, ParseMode::Standard);
    }
    std::map<std::string, EntryId> listing() const { return testing::listByPath(*view, true); }
    std::string saved(const std::string& path) {
        return testing::savedContent(*view, path, ::testing::TempDir() + "fat_engine_saved");
    }

    MemoryReader reader;
    MemoryTree tree;
    std::unique_ptr<VolumeView> view;
    bool parsed = false;
};

std::vector<std::string> paths(const std::map<std::string, EntryId>& listing) {
    std::vector<std::string> out;
    for (const auto& [path, id] : listing) out.push_back(path);
    return out;
}

ByteVector text(const std::string& s) { return ByteVector(s.begin(), s.end()); }

TEST(FatNames, ShortNameFormsAndCaseBits) {
    EXPECT_EQ(shortName(shortSlot("README  TXT", 0x20, 0, 0)), "README.TXT");
    EXPECT_EQ(shortName(shortSlot("DATA    C  ", 0x20, 0, 0)), "DATA.C");
    EXPECT_EQ(shortName(shortSlot("FOO        ", 0x20, 0, 0)), "FOO");
    EXPECT_EQ(shortName(shortSlot("DOCS       ", 0x10, 0, 0)), "DOCS");
    ByteVector lower = shortSlot("LOWER   TXT", 0x20, 0, 0);
    lower[12] = 0x18;
    EXPECT_EQ(shortName(lower), "lower.txt");
    EXPECT_EQ(shortName(shortSlot("GONE    TXT", 0x20, 0, 0, 0xE5)), "\xEF\xBF\xA5ONE.TXT");  // U+FFE5
    EXPECT_EQ(dateText(*dosCalendarTime(0x5067, 0)), "03/07/2020 ");
    EXPECT_EQ(fatAttributeText(0x27), "-R-H-S-A");
    EXPECT_EQ(fatAttributeText(0x10), "");
}

ByteVector mixedFat16Volume(const std::string& longName) {
    FatVolumeBuilder v(16, 4200);
    std::vector<ByteVector> root;
    const ByteVector longShort = shortSlot("XXXXXX~1TXT", 0x20, 10, 3);
    for (auto& s : longNameSlots(longName, shortNameChecksum(longShort))) root.push_back(s);
    root.push_back(longShort);
    for (auto& s : longNameSlots("stale name.txt", 0x12)) root.push_back(s);
    root.push_back(shortSlot("PLAIN   TXT", 0x20, 11, 5));
    const ByteVector oldDir = shortSlot("OLDNAME    ", 0x10, 20, 0, 0xE5);
    root.push_back(oldDir);
    const ByteVector newDir = shortSlot("NEWNAME    ", 0x10, 20, 0);
    for (auto& s : longNameSlots("New Name", shortNameChecksum(newDir))) root.push_back(s);
    root.push_back(newDir);
    root.push_back(shortSlot("WASDIR     ", 0x10, 30, 0, 0xE5));
    root.push_back(shortSlot("TAKEN      ", 0x10, 40, 0, 0xE5));
    root.push_back(shortSlot("OWNER      ", 0x10, 41, 0));
    v.putSlots(v.rootOffset(), root);
    v.put(v.clusterOffset(10), text("abc"));
    v.put(v.clusterOffset(11), text("plain"));
    // "New Name": a file and a sub-folder whose slot names the parent's cluster again.
    v.putSlots(v.clusterOffset(20), dotSlots(20, 0));
    v.putSlots(v.clusterOffset(20) + 64, {shortSlot("INSIDE  TXT", 0x20, 21, 2), shortSlot("LOOP       ", 0x10, 20, 0)});
    v.put(v.clusterOffset(21), text("in"));
    v.put(v.clusterOffset(30), text("file data, not a directory"));
    // Cluster 40 belongs to OWNER/SUB now: its ".." names OWNER, not the root.
    v.putSlots(v.clusterOffset(41), dotSlots(41, 0));
    v.putSlots(v.clusterOffset(41) + 64, {shortSlot("SUB        ", 0x10, 40, 0)});
    v.putSlots(v.clusterOffset(40), dotSlots(40, 41));
    v.putSlots(v.clusterOffset(40) + 64, {shortSlot("OWNED   TXT", 0x20, 42, 1)});
    for (std::uint32_t c : {10, 11, 20, 21, 41, 40, 42}) v.chain({c});

    return v.image;
}

// A FAT16 volume whose root holds: a long name of 11 slots; a name left over from an earlier entry (wrong
// checksum); a folder renamed (its old slot deleted, naming the same cluster); a folder that names its own
// parent's cluster (a loop); a deleted folder whose cluster now holds file data; a deleted folder whose cluster
// another folder took.
TEST(FatDirectoryWalk, NamesMergesLoopsAndReusedClusters) {
    const std::string longName(140, 'x');  // 11 slots
    Parsed p(mixedFat16Volume(longName), "FAT16");
    ASSERT_TRUE(p.parsed);
    EXPECT_EQ(paths(p.listing()), (std::vector<std::string>{
                                      "/New Name", "/New Name/INSIDE.TXT", "/New Name/LOOP", "/OWNER", "/OWNER/SUB",
                                      "/OWNER/SUB/OWNED.TXT", "/PLAIN.TXT", "/" + longName,
                                      "/\xEF\xBF\xA5" "AKEN (deleted)", "/\xEF\xBF\xA5" "ASDIR (deleted)"}));
    EXPECT_EQ(p.saved("/" + longName), "abc");
    EXPECT_EQ(p.saved("/New Name/INSIDE.TXT"), "in");
    // The loop's folder is listed but empty; the folder's own contents were read once.
    EXPECT_FALSE(p.view->hasChildren(*findEntry(*p.view, "/New Name/LOOP")));
}

TEST(FatDirectoryWalk, LongNameRunsAreCappedAtTwentySlots) {
    FatVolumeBuilder v(16, 4200);
    const ByteVector shortEntry = shortSlot("LONG~1     ", 0x20, 0, 0);
    const std::string name(255, 'n');
    std::vector<ByteVector> slots = longNameSlots(std::string(13, 'j'), 0x00, true);  // a deleted leftover before
    for (auto& s : longNameSlots(name, shortNameChecksum(shortEntry))) slots.push_back(s);
    slots.push_back(shortEntry);
    v.putSlots(v.rootOffset(), slots);
    Parsed p(v.image, "FAT16");
    EXPECT_EQ(paths(p.listing()), std::vector<std::string>{"/" + name});
}

// FAT12 packs two entries in three bytes; a file over clusters 3 (odd), 4 (even), 7 (odd).
TEST(FatChains, Fat12EntriesAreTwelveBits) {
    FatVolumeBuilder v(12, 300, "mkfs.fat");
    v.chain({3, 4, 7});
    v.setFat(5, 0xABC);  // a neighbour whose bits must not leak into entry 4
    v.setFat(6, 0x123);
    v.putSlots(v.rootOffset(), {shortSlot("SPLIT   BIN", 0x20, 3, 1100)});
    const std::string a(512, 'a'), b(512, 'b'), c(76, 'c');
    v.put(v.clusterOffset(3), text(a));
    v.put(v.clusterOffset(4), text(b));
    v.put(v.clusterOffset(7), text(c));
    Parsed p(v.image, "FAT12");
    ASSERT_TRUE(p.parsed);
    EXPECT_EQ(p.saved("/SPLIT.BIN"), a + b + c);
    // The same bytes read as FAT16 would be a different volume: the engine refuses none, and decodes by width.
    auto* fat = dynamic_cast<FatView*>(p.view.get());
    ASSERT_NE(fat, nullptr);
    EXPECT_EQ(fat->engine().geometry().fatBits, 12u);
}

TEST(FatChains, LoopsEndAndMarksEndChains) {
    // A FAT32 chain 2 -> 3 -> 4 -> 3: every walk ends, each cluster met at most twice.
    std::vector<std::uint8_t> fat(64 * 4, 0);
    auto set = [&](std::uint32_t c, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) fat[c * 4 + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    set(2, 3);
    set(3, 4);
    set(4, 0xF0000003);  // the top four bits are not part of a FAT32 cluster number
    set(10, 0x0FFFFFF8);
    FatTable table;
    table.reset([&](std::uint64_t offset, std::uint8_t* out, std::size_t n) {
        std::copy(fat.begin() + static_cast<std::ptrdiff_t>(offset), fat.begin() + static_cast<std::ptrdiff_t>(offset + n), out);
        return true;
    }, 0, fat.size(), 32, 64, false);
    ClusterChain loop(table, 2);
    std::vector<std::uint32_t> seen;
    for (std::uint32_t c = 0; loop.next(c);) seen.push_back(c);
    EXPECT_TRUE(loop.endedOnLoop());
    EXPECT_LE(seen.size(), 6u);
    EXPECT_EQ((std::vector<std::uint32_t>(seen.begin(), seen.begin() + 3)), (std::vector<std::uint32_t>{2, 3, 4}));
    ClusterChain ends(table, 10);
    std::uint32_t c = 0;
    EXPECT_TRUE(ends.next(c));
    EXPECT_FALSE(ends.next(c));
    EXPECT_FALSE(ends.endedOnLoop());
}

// A FAT32 root of two clusters that do not follow each other; a deleted file larger than a cluster comes back
// as its first cluster, or whole when the drive was formatted (taken as one piece).
TEST(FatRoots, Fat32RootFollowsItsChainAndDeletedFilesFollowTheRules) {
    FatVolumeBuilder v(32, 300, "mkfs.fat");
    v.chain({2, 9});
    std::vector<ByteVector> first;
    for (int i = 0; i < 16; ++i) first.push_back(shortSlot("FILE" + std::to_string(10 + i) + "  TXT", 0x20, 0, 0));
    v.putSlots(v.clusterOffset(2), first);
    v.putSlots(v.clusterOffset(9), {shortSlot("LAST    TXT", 0x20, 0, 0), shortSlot("GONE    BIN", 0x20, 20, 700, 0xE5)});
    v.put(v.clusterOffset(20), text(std::string(512, 'x')));
    v.put(v.clusterOffset(21), text(std::string(188, 'y')));
    Parsed p(v.image, "FAT32");
    ASSERT_TRUE(p.parsed);
    EXPECT_EQ(p.listing().size(), 18u);
    EXPECT_TRUE(p.listing().count("/LAST.TXT"));
    const std::string deleted = "/\xEF\xBF\xA5ONE.BIN";
    EXPECT_EQ(p.saved(deleted), std::string(512, 'x'));
    Parsed formatted(v.image, "FAT32", true);
    EXPECT_EQ(formatted.saved(deleted), std::string(512, 'x') + std::string(188, 'y'));
}

TEST(FatBootSectors, KindsAreKeptApart) {
    FatVolumeBuilder fat32(32, 300, "mkfs.fat");
    EXPECT_FALSE(Parsed(fat32.image, "FAT16").parsed);
    FatVolumeBuilder fat16(16, 4200, "MSDOS5.0");
    EXPECT_FALSE(Parsed(fat16.image, "FAT32").parsed);
    ByteVector garbage(4200 * 512, 0x5A);
    EXPECT_FALSE(Parsed(garbage, "FAT16").parsed);
    EXPECT_FALSE(Parsed(garbage, "FAT64").parsed);
}

ByteVector mixedExfatVolume() {
    ExfatVolumeBuilder v;
    std::vector<ByteVector> root;
    auto add = [&](const ExfatSet& s) {
        for (auto& e : exfatEntrySet(s)) root.push_back(e);
    };
    add({.name = "count-zero.txt", .firstCluster = 10, .length = 4, .secondaryCount = 0});
    add({.name = "count-huge.txt", .firstCluster = 11, .length = 4, .secondaryCount = 255});
    std::vector<ByteVector> noStream = exfatEntrySet({.name = "no-stream"});
    root.push_back(noStream[0]);
    add({.name = "a name of twenty-one", .firstCluster = 12, .length = 1, .deleted = true});
    v.putEntries(v.clusterOffset(2), root);
    // The root goes on in cluster 5.
    root.clear();
    add({.name = "whole.bin", .firstCluster = 20, .length = 1100, .flags = 0x03});
    add({.name = "Folder", .attributes = 0x10, .firstCluster = 30, .length = 1024});
    v.putEntries(v.clusterOffset(5), root);
    v.chain({2, 5});
    v.put(v.clusterOffset(10), text("zero"));
    v.put(v.clusterOffset(11), text("huge"));
    v.put(v.clusterOffset(12), text("d"));
    v.put(v.clusterOffset(20), text(std::string(1024, 'w') + std::string(76, 'z')));
    v.chain({30, 33});
    std::vector<ByteVector> folder;
    for (int i = 0; i < 5; ++i) {
        auto set = exfatEntrySet({.name = "file-" + std::to_string(i), .firstCluster = 0, .length = 0, .flags = 0});
        folder.insert(folder.end(), set.begin(), set.end());
    }
    v.putEntries(v.clusterOffset(30), folder);  // 15 entries: 480 bytes
    auto last = exfatEntrySet({.name = "second-cluster", .firstCluster = 0, .length = 0, .flags = 0});
    v.putEntries(v.clusterOffset(33), last);
    return v.image;
}

// exFAT sets: a secondary count that says 0 or too many, a set without a stream extension, a name cut to its
// length, a deleted set; a contiguous file read whole; a root and a folder over two clusters along their chains.
TEST(ExfatEntrySets, SetsAreReadByTheirStructure) {
    Parsed p(mixedExfatVolume(), "FAT64");
    ASSERT_TRUE(p.parsed);
    EXPECT_EQ(paths(p.listing()),
              (std::vector<std::string>{"/Folder", "/Folder/file-0", "/Folder/file-1", "/Folder/file-2", "/Folder/file-3",
                                        "/Folder/file-4", "/Folder/second-cluster", "/a name of twenty-one (deleted)",
                                        "/count-huge.txt", "/count-zero.txt", "/whole.bin"}));
    EXPECT_EQ(p.saved("/count-zero.txt"), "zero");
    EXPECT_EQ(p.saved("/count-huge.txt"), "huge");
    EXPECT_EQ(p.saved("/whole.bin"), std::string(1024, 'w') + std::string(76, 'z'));
    const EntryDetails d = p.view->details(*findEntry(*p.view, "/whole.bin"));
    EXPECT_EQ(timeText(*d.modified), "05/05/2020  01:32 PM");
}

// A stamp with its UTC offset: the list shows the time the saved file gets (in the local zone, as every list does),
// not the stored wall-clock time of the zone it was written in.
TEST(ExfatEntrySets, ListedTimesAreTheSavedTimes) {
    ExfatVolumeBuilder v;
    std::vector<ByteVector> root;
    for (const std::uint8_t offset : {std::uint8_t(0xA0), std::uint8_t(0xE4), std::uint8_t(0x00)}) {  // +8 h, -7 h, none
        const std::string name = "offset-" + std::to_string(offset);
        for (auto& e : exfatEntrySet({.name = name, .firstCluster = 10, .length = 2, .flags = 0x03, .utcOffset = offset}))
            root.push_back(e);
    }
    v.putEntries(v.clusterOffset(2), root);
    v.chain({2});
    v.put(v.clusterOffset(10), text("ok"));
    Parsed p(v.image, "FAT64");
    ASSERT_TRUE(p.parsed);
    for (const char* name : {"offset-160", "offset-228", "offset-0"}) {
        const std::string host = ::testing::TempDir() + "exfat_time_" + name;
        ASSERT_EQ(testing::savedContent(*p.view, std::string("/") + name, host), "ok");
        struct stat st {};
        ASSERT_EQ(::stat(host.c_str(), &st), 0);
        const EntryDetails d = p.view->details(*findEntry(*p.view, std::string("/") + name));
        ASSERT_TRUE(d.modified);
        EXPECT_EQ(timeText(*d.modified), timeText(localCalendarTime(st.st_mtime))) << name;
    }
}

// Damage anywhere in the volumes' first 64 KiB (boot sector, FAT, directories): every parse ends, and listing and
// saving whatever it found neither crashes nor reads outside its buffers.
TEST(FatHostileVolumes, RandomDamageNeitherCrashesNorHangs) {
    const std::vector<std::pair<ByteVector, std::string>> volumes{
        {mixedFat16Volume(std::string(140, 'x')), "FAT16"}, {mixedExfatVolume(), "FAT64"}};
    for (const auto& [clean, type] : volumes) {
        for (unsigned seed = 0; seed < 60; ++seed) {
            std::mt19937 rnd(seed);
            ByteVector image = clean;
            const unsigned flips = 1u << (seed % 10);
            const std::size_t region = std::min<std::size_t>(image.size(), 65536);
            for (unsigned k = 0; k < flips; ++k) image[rnd() % region] = static_cast<std::uint8_t>(rnd());
            Parsed p(image, type, seed % 3 == 0);
            if (!p.parsed) continue;
            std::size_t files = 0;
            visitEntries(*p.view, kVolumeRoot, "", true, [&](const std::string&, EntryId id) {
                p.view->details(id);
                if (!p.view->isFolder(id) && files++ < 20) p.view->saveFile(id, ::testing::TempDir() + "fat_hostile");
                return true;
            });
        }
    }
}

}  // namespace
}  // namespace halvard
