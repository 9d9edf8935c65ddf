// The NTFS engine on small volumes built in memory: the tree it builds, the content it saves, and its roads when
// the boot sector does not lead to the MFT.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

#include "browser/ntfs_view.h"
#include "common/host_files.h"
#include "common/memory_tree.h"
#include "support/ntfs_builder.h"
#include "support/status_log.h"
#include "support/view_exercise.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

using testing::ByteVector;
using testing::MemoryReader;
using testing::NtfsVolumeBuilder;
using testing::RecordBuilder;
using testing::RunPlan;
using testing::StatusLog;

const std::uint64_t kTime = testing::fileTime(1600000000, 1234567);

// A parsed volume: reader, view and tree kept together.
struct Parsed {
    Parsed(ByteVector image, ParseMode mode, std::uint64_t sizeMiB = 0, StopFlag* stopFlag = nullptr,
           bool streams = false)
        : reader(std::move(image)), view(testing::on(reader, volumeRecord(sizeMiB))) {
        ParseContext context;
        context.namedStreams = streams;
        context.tree = &tree;
        context.reporting = {&log, &log, nullptr};
        context.stop = StopPoll(stopFlag, nullptr);
        parsed = view.parse(context, mode);
    }
    static VolumeRecord volumeRecord(std::uint64_t sizeMiB) {
        VolumeRecord r;
        r.fileSystem = "NTFS";
        r.sizeText = std::to_string(sizeMiB) + "   MB";
        return r;
    }

    // Every entry shown, by its path from the root ("/Docs/a.txt").
    std::map<std::string, EntryId> listing() const {
        std::map<std::string, EntryId> out;
        for (EntryId id : view.topLevel()) add(out, "", id);
        return out;
    }
    void add(std::map<std::string, EntryId>& out, const std::string& parent, EntryId id) const {
        const std::string path = parent + "/" + view.name(id);
        out[path] = id;
        if (view.isFolder(id) && view.descendWhenSaving(id))
            for (EntryId c : view.children(id)) add(out, path, c);
    }
    std::vector<std::string> names(const std::vector<EntryId>& ids) const {
        std::vector<std::string> out;
        for (EntryId id : ids) out.push_back(view.name(id));
        return out;
    }
    EntryId at(const std::string& path) const {
        const auto all = listing();
        const auto it = all.find(path);
        EXPECT_NE(it, all.end()) << path;
        return it == all.end() ? ~EntryId(0) : it->second;
    }
    ByteVector save(EntryId id, FileSaveResult* result = nullptr) {
        const std::string path = dir.file("saved");
        const FileSaveResult r = view.saveFile(id, path);
        if (result) *result = r;
        EXPECT_TRUE(r.written) << r.error;
        // Every save in these tests is also read as a stream, in odd pieces, and must give the same bytes.
        EXPECT_EQ(testing::contentMismatch(view, id, path, r.damaged), "");
        return testing::readFile(path);
    }

    MemoryReader reader;
    NtfsView view;
    MemoryTree tree;
    StatusLog log;
    testing::TempDir dir;
    bool parsed = false;
};

ByteVector bytesOf(const std::string& s) { return ByteVector(s.begin(), s.end()); }

ByteVector randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    ByteVector out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(random());
    return out;
}

RecordBuilder named(std::uint64_t parent, const std::string& name, bool directory = false, std::uint16_t flags = 1) {
    RecordBuilder r(1024, static_cast<std::uint16_t>(flags | (directory ? 2 : 0)));
    r.standardInformation(kTime, kTime, kTime).fileName(parent, name, directory);
    return r;
}

TEST(NtfsTree, PlacesEntriesWhereverTheirParentsLieAndCollectsOrphans) {
    NtfsVolumeBuilder v;
    v.setRecord(16, named(5, "Docs", true).build());
    v.setRecord(17, named(16, "a.txt").build());
    v.setRecord(18, named(40, "b.txt").build());  // parent comes later in the MFT
    v.setRecord(40, named(5, "Late", true).build());
    v.setRecord(19, named(9999, "lost.txt").build());            // parent beyond the MFT
    v.setRecord(20, named(17, "under_file.txt").build());        // parent is an earlier file
    v.setRecord(21, named(41, "under_later_file.txt").build());  // parent is a later file
    v.setRecord(41, named(5, "plain.bin").build());
    v.setRecord(22, named(5, "gone.txt", false, 0).build());     // deleted
    // The short name after the long one, as Windows sorts them: the long name is shown.
    v.setRecord(23, named(5, "Long file name.txt").fileName(5, "LONGFI~1.TXT", false, 2).build());
    {  // a name length of 255 in a value that holds 20 characters
        RecordBuilder r;
        ByteVector value = testing::fileNameValue(5, std::string(20, 'x'));
        value[0x40] = 0xFF;
        r.resident(0x30, value);
        v.setRecord(24, r.build());
    }
    v.setRecord(25, named(5, std::string(255, 'N')).build());
    v.setRecord(26, named(27, "A", true).build());  // two folders naming each other
    v.setRecord(27, named(26, "B", true).build());
    v.setRecord(28, named(26, "in_cycle.txt").build());
    v.setRecord(29, named(35, "child_of_empty_slot.txt").build());
    Parsed p(v.image(), ParseMode::Standard);
    ASSERT_TRUE(p.parsed);

    EXPECT_EQ(p.names(p.view.topLevel()),
              (std::vector<std::string>{"Docs", "gone.txt", "Long file name.txt", std::string(255, 'N'), "Late",
                                        "plain.bin", "$MFT", "ORPHAN_ENTRY"}));
    EXPECT_EQ(p.view.entryIdText(p.at("/$MFT")), "0");
    const auto all = p.listing();
    for (const char* path : {"/Docs/a.txt", "/Late/b.txt", "/ORPHAN_ENTRY/lost.txt", "/ORPHAN_ENTRY/under_file.txt",
                             "/ORPHAN_ENTRY/under_later_file.txt", "/ORPHAN_ENTRY/child_of_empty_slot.txt"})
        EXPECT_TRUE(all.count(path)) << path;
    // The cycle hangs under the orphan folder by one of its folders, the rest inside it.
    const bool viaA = all.count("/ORPHAN_ENTRY/A/B") && all.count("/ORPHAN_ENTRY/A/in_cycle.txt");
    const bool viaB = all.count("/ORPHAN_ENTRY/B/A/in_cycle.txt");
    EXPECT_TRUE(viaA || viaB);
    for (const auto& [path, id] : all) EXPECT_EQ(path.find("xxxx"), std::string::npos) << "a cut name is not taken";
    EXPECT_EQ(p.view.entryIdText(p.at("/Late")), "40");

    // Top-level items: deleted in red, folders with children get a placeholder, files do not.
    const TreeItemId root = p.tree.firstChild(kNoTreeItem);
    EXPECT_EQ(p.tree.itemText(root), "ROOT");
    std::map<std::string, TreeItemId> items;
    for (TreeItemId item = p.tree.firstChild(root); item != kNoTreeItem; item = p.tree.nextSibling(item))
        items[p.tree.itemText(item)] = item;
    EXPECT_EQ(p.tree.itemColour(items["gone.txt"]), TreeColour::Deleted);
    EXPECT_EQ(p.tree.itemColour(items["Docs"]), TreeColour::Normal);
    EXPECT_EQ(p.tree.itemText(p.tree.firstChild(items["Docs"])), kPlaceholderText);
    EXPECT_EQ(p.tree.itemText(p.tree.firstChild(items["ORPHAN_ENTRY"])), kPlaceholderText);
    EXPECT_EQ(p.tree.firstChild(items["plain.bin"]), kNoTreeItem);
    EXPECT_TRUE(p.view.isDeleted(*p.tree.itemData(items["gone.txt"])));
}

TEST(NtfsTree, WithoutARootEverythingIsUnderTheOrphanFolder) {
    NtfsVolumeBuilder v;
    v.setRecord(5, ByteVector(1024, 0));
    v.setRecord(16, named(5, "Docs", true).build());
    v.setRecord(17, named(16, "a.txt").build());
    Parsed p(v.image(), ParseMode::Standard);
    EXPECT_EQ(p.names(p.view.topLevel()), std::vector<std::string>{"ORPHAN_ENTRY"});
    EXPECT_TRUE(p.listing().count("/ORPHAN_ENTRY/Docs/a.txt"));
}

TEST(NtfsTree, StopBeforeTheParseLeavesAnEmptyButUsableTree) {
    NtfsVolumeBuilder v;
    v.setRecord(16, named(5, "Docs", true).build());
    StopFlag stop{1};
    Parsed p(v.image(), ParseMode::Standard, 0, &stop);
    EXPECT_EQ(p.names(p.view.topLevel()), std::vector<std::string>{"ORPHAN_ENTRY"});
    EXPECT_TRUE(p.view.children(p.view.topLevel()[0]).empty());
}

TEST(NtfsTree, RecordNumbersHoldWithSmallClustersAndLargeRecords) {
    // 512-byte clusters: a record spans two clusters, and the MFT's second run starts in the middle of one.
    {
        NtfsVolumeBuilder v(512, 2048, 1024, 64, 8);
        // Records 0..7 lie in clusters 64..79; records 8..15 continue in a run of 17 clusters at 1001, so the
        // record boundaries are off by half a record from the clusters' own numbering.
        const ByteVector mft = RecordBuilder()
                                   .fileName(5, "$MFT")
                                   .data({{16, 64}, {17, 1001}}, 16 * 1024, 512)
                                   .build();
        v.setRecord(0, mft);
        v.putBytes(1001 * 512 + 0 * 1024, named(5, "eight.txt").build());
        v.putBytes(1001 * 512 + 5 * 1024, named(5, "thirteen.txt").build());
        v.setRecord(7, named(5, "seven.txt").build());
        Parsed p(v.image(), ParseMode::Standard);
        EXPECT_EQ(p.view.entryIdText(p.at("/eight.txt")), "8");
        EXPECT_EQ(p.view.entryIdText(p.at("/thirteen.txt")), "13");
        EXPECT_EQ(p.view.entryIdText(p.at("/seven.txt")), "7");
    }
    // 4096-byte records (4Kn volumes): the boot sector says so.
    {
        NtfsVolumeBuilder v(4096, 512, 4096, 16, 16);
        RecordBuilder big(4096);
        big.standardInformation(kTime, kTime, kTime).fileName(5, "big record.txt");
        big.resident(0x80, ByteVector(3000, 'q'));  // crosses three stride ends
        v.setRecord(9, big.build());
        Parsed p(v.image(), ParseMode::Standard);
        EXPECT_EQ(p.view.engine().recordSize, 4096u);
        EXPECT_EQ(p.save(p.at("/big record.txt")), ByteVector(3000, 'q'));

        // The same volume on a disk of 4096-byte sectors counts its size in those sectors: a file near the
        // volume's end lies inside it.
        v.putClusters(500, bytesOf("near the end"));
        RecordBuilder nearEnd(4096);
        nearEnd.fileName(5, "near.txt").data({{1, 500}}, 12, 4096);
        v.setRecord(10, nearEnd.build());
        ByteVector image = v.image();
        image[0x0B] = 0x00;
        image[0x0C] = 0x10;
        image[0x0D] = 1;
        const std::uint64_t sectors = image.size() / 4096 - 1;
        for (int i = 0; i < 8; ++i) image[0x28 + i] = static_cast<std::uint8_t>(sectors >> (8 * i));
        Parsed kn(image, ParseMode::Standard);
        EXPECT_EQ(kn.view.engine().volumeSize, sectors * 4096);
        FileSaveResult result;
        EXPECT_EQ(kn.save(kn.at("/near.txt"), &result), bytesOf("near the end"));
        EXPECT_FALSE(result.damaged);
    }
}

TEST(NtfsData, ResidentContentAcrossTheFixupBesideANamedStream) {
    NtfsVolumeBuilder v;
    RecordBuilder r = named(5, "note.txt");
    ByteVector content(480);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>('a' + i % 26);
    r.resident(0x80, content);  // lies across byte 510
    r.resident(0x80, bytesOf("[ZoneTransfer]\r\nZoneId=3\r\n"), "Zone.Identifier");
    v.setRecord(16, r.build(0x4242));
    Parsed p(v.image(), ParseMode::Standard);
    const EntryId id = p.at("/note.txt");
    FileSaveResult result;
    EXPECT_EQ(p.save(id, &result), content);
    EXPECT_FALSE(result.damaged);
    EXPECT_EQ(p.view.details(id).size, content.size());
    EXPECT_EQ(p.view.details(id).sizeText, "480 Bytes");

    // Full-precision time stamps on the saved file.
    struct stat st {};
    ASSERT_EQ(::stat(p.dir.file("saved").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
}

TEST(NtfsData, SparseRunsAndClustersOutsideTheVolumeBecomeZeros) {
    NtfsVolumeBuilder v;  // 512 clusters of 4096
    const ByteVector a = randomBytes(2 * 4096, 1), b = randomBytes(4096, 2);
    v.putClusters(100, a);
    v.putClusters(300, b);
    const std::uint64_t size = 2 * 4096 + 3 * 4096 + 4096 + 4096 + 100;
    v.setRecord(16, named(5, "holes.bin").data({{2, 100}, {3, 0, true}, {1, 300}, {2, 5000}}, size, 4096).build());
    Parsed p(v.image(), ParseMode::Standard);
    FileSaveResult result;
    const ByteVector saved = p.save(p.at("/holes.bin"), &result);
    ByteVector expected = a;
    expected.resize(5 * 4096, 0);
    expected.insert(expected.end(), b.begin(), b.end());
    expected.resize(size, 0);
    EXPECT_EQ(saved, expected);
    EXPECT_TRUE(result.damaged);
    EXPECT_EQ(result.bytes, size);
}

TEST(NtfsData, SizesBeyondTheRunsAreNotBelieved) {
    NtfsVolumeBuilder v;
    const ByteVector a = randomBytes(4096, 6);
    v.putClusters(120, a);
    // Real and allocated size both claim a terabyte; the record's single run and VCN range hold one cluster.
    const std::uint64_t huge = 1ULL << 40;
    v.setRecord(16, named(5, "claims.bin")
                        .nonResident(0x80, testing::encodeRuns({{1, 120}}), 0, 0, huge, 0, 0, "", huge)
                        .build());
    // A hole in a file that is neither sparse nor compressed is damage too.
    v.setRecord(17, named(5, "hole.bin").data({{1, 120}, {2, 0, true}}, 3 * 4096, 4096).build());
    Parsed p(v.image(), ParseMode::Standard);
    FileSaveResult result;
    EXPECT_EQ(p.save(p.at("/claims.bin"), &result), a);
    EXPECT_TRUE(result.damaged);
    ByteVector expected = a;
    expected.resize(3 * 4096, 0);
    EXPECT_EQ(p.save(p.at("/hole.bin"), &result), expected);
    EXPECT_TRUE(result.damaged);
}

TEST(NtfsData, CompressedUnitsCompressedStoredSparseAndCutShort) {
    // Units of 16 clusters of 512 bytes (8 KiB), as a small-cluster volume would have them.
    NtfsVolumeBuilder v(512, 4096, 1024, 64, 32);
    const ByteVector text = testing::compressibleText(8192);
    ByteVector packed = testing::lznt1Compress(text);
    const std::uint64_t packedClusters = (packed.size() + 511) / 512;
    ASSERT_LT(packedClusters, 16u);
    packed.resize(packedClusters * 512, 0);
    const ByteVector stored = randomBytes(8192, 3);
    ByteVector tail(3000, 'T');
    ByteVector packedTail = testing::lznt1Compress(tail);
    packedTail.resize(512, 0);
    ASSERT_LE(testing::lznt1Compress(tail).size(), 512u);
    v.putClusters(1000, packed);
    v.putClusters(1100, stored);
    v.putClusters(1200, packedTail);
    // unit 0 compressed, unit 1 stored, unit 2 all sparse, unit 3: one cluster and a short sparse run ending the
    // attribute before the unit's end, as ntfs-3g leaves a file's last unit.
    const std::vector<RunPlan> runs = {{packedClusters, 1000}, {16 - packedClusters, 0, true}, {16, 1100},
                                       {16, 0, true},           {1, 1200},                     {9, 0, true}};
    const std::uint64_t size = 3 * 8192 + 2900;
    v.setRecord(16, named(5, "packed.txt").data(runs, size, 512, 0x8001, 4).build());
    Parsed p(v.image(), ParseMode::Standard);
    FileSaveResult result;
    const ByteVector saved = p.save(p.at("/packed.txt"), &result);
    ByteVector expected = text;
    expected.insert(expected.end(), stored.begin(), stored.end());
    expected.resize(3 * 8192, 0);
    expected.insert(expected.end(), tail.begin(), tail.begin() + 2900);
    ASSERT_EQ(saved.size(), expected.size());
    EXPECT_TRUE(saved == expected);
    EXPECT_FALSE(result.damaged);
    EXPECT_EQ(p.view.details(p.at("/packed.txt")).attributes, "-A");
}

TEST(NtfsData, AttributeListJoinsDataPiecesFromExtensionRecords) {
    NtfsVolumeBuilder v;
    const ByteVector first = randomBytes(4 * 4096, 4), second = randomBytes(3 * 4096, 5);
    v.putClusters(200, first);
    v.putClusters(260, second);
    const std::uint64_t size = 7 * 4096 - 10;
    RecordBuilder base = named(5, "joined.bin");
    base.attributeList({{0x10, 30, 0, ""}, {0x30, 30, 0, ""}, {0x80, 31, 0, ""}, {0x80, 33, 0, "ads"},
                        {0x80, 32, 4, ""}});
    v.setRecord(30, base.build());
    v.setRecord(31, RecordBuilder()
                        .baseRecord(30)
                        .nonResident(0x80, testing::encodeRuns({{4, 200}}), 0, 3, size, 0, 0, "", 7 * 4096)
                        .build());
    v.setRecord(32, RecordBuilder().baseRecord(30).nonResident(0x80, testing::encodeRuns({{3, 260}}), 4, 6, 0).build());
    v.setRecord(33, RecordBuilder().baseRecord(30).resident(0x80, bytesOf("not the content"), "ads").build());
    Parsed p(v.image(), ParseMode::Standard);
    const EntryId id = p.at("/joined.bin");
    FileSaveResult result;
    ByteVector expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    expected.resize(size);
    EXPECT_EQ(p.save(id, &result), expected);
    EXPECT_FALSE(result.damaged);
    EXPECT_EQ(p.view.details(id).size, size);

    // The second piece's record reused by another file: the piece reads as zeros and the save says so.
    v.setRecord(32, named(5, "reused.txt").build());
    Parsed reused(v.image(), ParseMode::Standard);
    expected = first;
    expected.resize(size, 0);
    EXPECT_EQ(reused.save(reused.at("/joined.bin"), &result), expected);
    EXPECT_TRUE(result.damaged);
}

// A file whose names and data lie in extension records, and files with several names: one entry per name, all
// reading the base record; the extension records are never entries of their own.
TEST(NtfsNames, EveryNameFromWhereverItLiesAndNoExtensionRecordOfItsOwn) {
    NtfsVolumeBuilder v;
    const ByteVector first = randomBytes(2 * 4096, 7), second = randomBytes(4096, 8);
    v.putClusters(200, first);
    v.putClusters(300, second);
    const std::uint64_t size = 3 * 4096 - 5;
    v.setRecord(16, named(5, "Docs", true).build());
    RecordBuilder base(1024, 1);
    base.standardInformation(kTime, kTime, kTime)
        .attributeList({{0x10, 30, 0, ""}, {0x30, 31, 0, ""}, {0x30, 31, 0, ""}, {0x80, 30, 0, ""}, {0x80, 32, 2, ""}})
        .nonResident(0x80, testing::encodeRuns({{2, 200}}), 0, 1, size, 0, 0, "", 3 * 4096);
    v.setRecord(30, base.build());
    v.setRecord(31, RecordBuilder().baseRecord(30).fileName(5, "spread.bin").fileName(16, "also here.bin").build());
    v.setRecord(32, RecordBuilder().baseRecord(30).nonResident(0x80, testing::encodeRuns({{1, 300}}), 2, 2, 0).build());
    // Three names in two folders, and short names: shown only where the folder has no long name of the file.
    v.setRecord(33, named(5, "a.txt")
                        .fileName(5, "A~1.TXT", false, 2)
                        .fileName(16, "b.txt")
                        .fileName(16, "c.txt")
                        .fileName(40, "ONLY~1.TXT", false, 2)
                        .resident(0x80, bytesOf("shared content"))
                        .build());
    v.setRecord(40, named(5, "Short", true).build());
    Parsed p(v.image(), ParseMode::Standard);
    const auto all = p.listing();
    for (const char* path : {"/spread.bin", "/Docs/also here.bin"}) {
        ASSERT_TRUE(all.count(path)) << path;
        const EntryId id = all.at(path);
        EXPECT_EQ(p.view.entryIdText(id), "30");
        EXPECT_EQ(p.view.details(id).size, size);
        ByteVector expected = first;
        expected.insert(expected.end(), second.begin(), second.end());
        expected.resize(size);
        FileSaveResult result;
        EXPECT_EQ(p.save(id, &result), expected) << path;
        EXPECT_FALSE(result.damaged);
    }
    for (const char* path : {"/a.txt", "/Docs/b.txt", "/Docs/c.txt", "/Short/ONLY~1.TXT"}) {
        ASSERT_TRUE(all.count(path)) << path;
        EXPECT_EQ(p.view.entryIdText(all.at(path)), "33");
        EXPECT_EQ(p.save(all.at(path)), bytesOf("shared content"));
    }
    for (const auto& [path, id] : all) {
        EXPECT_EQ(path.find("A~1"), std::string::npos) << path;
        EXPECT_NE(p.view.entryIdText(id), "31") << path;
        EXPECT_NE(p.view.entryIdText(id), "32") << path;
    }

    // Deep mode finds the same names, joined through the base record the scan found.
    Parsed deep(v.image(), ParseMode::Deep, 2);
    const auto found = deep.listing();
    EXPECT_TRUE(found.count("/ORPHAN_ENTRY/spread.bin"));
    EXPECT_TRUE(found.count("/ORPHAN_ENTRY/Docs/also here.bin"));
    EXPECT_TRUE(found.count("/ORPHAN_ENTRY/Docs/c.txt"));
    for (const auto& [path, id] : found) EXPECT_NE(deep.view.entryIdText(id), "31") << path;
    EXPECT_EQ(deep.view.details(found.at("/ORPHAN_ENTRY/spread.bin")).size, size);
}

// Deleting a file can drop its extension records from its attribute list and clear the one holding its name;
// the deleted file is still shown, by its record number, with all of its data.
TEST(NtfsNames, DeletedFileWhoseNamesWentWithItsExtensionRecords) {
    NtfsVolumeBuilder v;
    const ByteVector first = randomBytes(4096, 9), second = randomBytes(4096, 10);
    v.putClusters(200, first);
    v.putClusters(300, second);
    RecordBuilder base(1024, 0);
    base.standardInformation(kTime, kTime, kTime)
        .attributeList({{0x10, 30, 0, ""}, {0x30, 31, 0, ""}, {0x80, 30, 0, ""}})
        .nonResident(0x80, testing::encodeRuns({{1, 200}}), 0, 0, 2 * 4096, 0, 0, "", 2 * 4096);
    v.setRecord(30, base.build());
    v.setRecord(31, RecordBuilder(1024, 0).baseRecord(30).build());
    v.setRecord(32, RecordBuilder(1024, 0).baseRecord(30).nonResident(0x80, testing::encodeRuns({{1, 300}}), 1, 1, 0).build());
    Parsed p(v.image(), ParseMode::Standard);
    const EntryId id = p.at("/ORPHAN_ENTRY/MFT_RECORD_30");
    EXPECT_TRUE(p.view.isDeleted(id));
    ByteVector expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(p.save(id), expected);
}

// Named streams: hidden unless asked for; then each is an entry "file:stream" right after every name of its file,
// with the file's id and times, its own size and content, wherever the file's attribute list puts its pieces.
TEST(NtfsStreams, EachStreamBesideEveryNameOfItsFileWithItsOwnContent) {
    NtfsVolumeBuilder v;
    const ByteVector head = randomBytes(2 * 4096, 20), tail = randomBytes(4096, 21);
    v.putClusters(200, head);
    v.putClusters(300, tail);
    const ByteVector zone = bytesOf("[ZoneTransfer]\r\nZoneId=3\r\n");
    v.setRecord(16, named(5, "Docs", true).resident(0x80, bytesOf("folder stream"), "meta").build());
    v.setRecord(17, named(5, "a.txt")
                        .fileName(16, "b.txt")
                        .resident(0x80, bytesOf("content"))
                        .resident(0x80, zone, "Zone.Identifier")
                        .resident(0x80, bytesOf("second"), "thumb")
                        .build());
    // A stream in two pieces in extension records, beside the unnamed content in the base record.
    const std::uint64_t size = 3 * 4096 - 7;
    RecordBuilder base = named(5, "spread.bin");
    base.attributeList({{0x10, 30, 0, ""}, {0x30, 30, 0, ""}, {0x80, 30, 0, ""}, {0x80, 31, 0, "big"},
                        {0x80, 32, 2, "big"}})
        .resident(0x80, bytesOf("unnamed"));
    v.setRecord(30, base.build());
    v.setRecord(31, RecordBuilder()
                        .baseRecord(30)
                        .nonResident(0x80, testing::encodeRuns({{2, 200}}), 0, 1, size, 0, 0, "big", 3 * 4096)
                        .build());
    v.setRecord(32, RecordBuilder().baseRecord(30).nonResident(0x80, testing::encodeRuns({{1, 300}}), 2, 2, 0, 0, 0,
                                                                "big").build());
    v.setRecord(33, named(5, "gone.txt", false, 0).resident(0x80, bytesOf("x")).resident(0x80, zone, "Zone.Identifier").build());
    v.setRecord(5, named(5, ".", true).resident(0x80, bytesOf("root stream"), "r").build());

    Parsed hidden(v.image(), ParseMode::Standard);
    for (const auto& [path, id] : hidden.listing()) EXPECT_EQ(path.find(':'), std::string::npos) << path;

    Parsed p(v.image(), ParseMode::Standard, 0, nullptr, true);
    EXPECT_EQ(p.names(p.view.children(p.at("/Docs"))), (std::vector<std::string>{"b.txt", "b.txt:Zone.Identifier", "b.txt:thumb"}));
    const auto all = p.listing();
    for (const char* path : {"/a.txt:Zone.Identifier", "/Docs/b.txt:Zone.Identifier"}) {
        ASSERT_TRUE(all.count(path)) << path;
        const EntryId id = all.at(path);
        EXPECT_EQ(p.view.entryIdText(id), "17");
        EXPECT_FALSE(p.view.isFolder(id));
        EXPECT_EQ(p.view.details(id).size, zone.size());
        EXPECT_EQ(timeText(*p.view.details(id).modified), timeText(*p.view.details(all.at("/a.txt")).modified));
        EXPECT_EQ(p.save(id), zone);
    }
    EXPECT_EQ(p.save(all.at("/a.txt")), bytesOf("content"));
    EXPECT_EQ(p.save(all.at("/a.txt:thumb")), bytesOf("second"));
    EXPECT_EQ(p.view.streamsOf(all.at("/a.txt")), (std::vector<EntryId>{all.at("/a.txt:Zone.Identifier"), all.at("/a.txt:thumb")}));
    EXPECT_TRUE(p.view.streamsOf(all.at("/a.txt:thumb")).empty());

    // A folder's stream is a file beside the folder; the root's has no folder to sit in.
    ASSERT_TRUE(all.count("/Docs:meta"));
    EXPECT_FALSE(p.view.isFolder(all.at("/Docs:meta")));
    EXPECT_EQ(p.save(all.at("/Docs:meta")), bytesOf("folder stream"));
    for (const auto& [path, id] : all) EXPECT_EQ(path.find(":r"), std::string::npos) << path;

    const EntryId big = p.at("/spread.bin:big");
    ByteVector expected = head;
    expected.insert(expected.end(), tail.begin(), tail.end());
    expected.resize(size);
    FileSaveResult result;
    EXPECT_EQ(p.save(big, &result), expected);
    EXPECT_FALSE(result.damaged);
    EXPECT_EQ(p.view.details(big).size, size);
    EXPECT_EQ(p.save(p.at("/spread.bin")), bytesOf("unnamed"));
    EXPECT_EQ(p.names(p.view.streamsOf(p.at("/spread.bin"))), std::vector<std::string>{"spread.bin:big"});

    // A deleted file's stream is deleted with it and still comes back.
    EXPECT_TRUE(p.view.isDeleted(p.at("/gone.txt:Zone.Identifier")));
    EXPECT_EQ(p.save(p.at("/gone.txt:Zone.Identifier")), zone);

    // Deep mode puts each stream beside its file wherever the scan places the file.
    Parsed deep(v.image(), ParseMode::Deep, 2, nullptr, true);
    const auto found = deep.listing();
    EXPECT_EQ(deep.save(found.at("/ORPHAN_ENTRY/Docs/b.txt:Zone.Identifier")), zone);
    EXPECT_EQ(deep.save(deep.at("/ORPHAN_ENTRY/spread.bin:big")), expected);
    EXPECT_EQ(deep.names(deep.view.children(found.at("/ORPHAN_ENTRY/Docs"))),
              (std::vector<std::string>{"b.txt", "b.txt:Zone.Identifier", "b.txt:thumb"}));
}

// Deep mode: an extension record whose base record is gone holds the last of its file; it is shown under the
// orphan folder by its record number with what it holds, while one whose base record was found stays part of it.
TEST(NtfsScan, DeepModeShowsExtensionRecordsWhoseFileIsGone) {
    NtfsVolumeBuilder v;
    const ByteVector piece = randomBytes(2 * 4096, 22), joined = randomBytes(4096, 23);
    v.putClusters(200, piece);
    v.putClusters(300, joined);
    v.setRecord(16, named(5, "Docs", true).build());
    // Its base record (40) is not a file record any more.
    v.setRecord(31, RecordBuilder(1024, 0).baseRecord(40).nonResident(0x80, testing::encodeRuns({{2, 200}}), 0, 1,
                                                                      2 * 4096, 0, 0, "", 2 * 4096).build());
    // Nothing but a piece of a folder's index: no file to show.
    v.setRecord(32, RecordBuilder(1024, 0).baseRecord(41).nonResident(0xA0, testing::encodeRuns({{1, 300}}), 0, 0,
                                                                      4096, 0, 0, "$I30").build());
    RecordBuilder base = named(16, "kept.bin");
    base.attributeList({{0x10, 33, 0, ""}, {0x30, 33, 0, ""}, {0x80, 34, 0, ""}});
    v.setRecord(33, base.build());
    v.setRecord(34, RecordBuilder().baseRecord(33).nonResident(0x80, testing::encodeRuns({{1, 300}}), 0, 0, 4096, 0,
                                                                0, "", 4096).build());
    Parsed deep(v.image(), ParseMode::Deep, 2);
    const auto found = deep.listing();
    ASSERT_TRUE(found.count("/ORPHAN_ENTRY/MFT_RECORD_31"));
    const EntryId lost = found.at("/ORPHAN_ENTRY/MFT_RECORD_31");
    EXPECT_EQ(deep.view.entryIdText(lost), "31");
    EXPECT_TRUE(deep.view.isDeleted(lost));
    EXPECT_EQ(deep.save(lost), piece);
    EXPECT_EQ(deep.save(found.at("/ORPHAN_ENTRY/Docs/kept.bin")), joined);
    std::map<std::string, int> ids;
    for (const auto& [path, id] : found) ++ids[deep.view.entryIdText(id)];
    EXPECT_EQ(ids["32"], 0);
    EXPECT_EQ(ids["34"], 0);
    EXPECT_EQ(ids["33"], 1);
}

// Past the initialized size a file's clusters hold old disk content; the file reads as zeros there.
TEST(NtfsData, BytesPastTheInitializedSizeAreZeros) {
    NtfsVolumeBuilder v;
    const ByteVector stale = randomBytes(2 * 4096, 11);
    v.putClusters(200, stale);
    RecordBuilder r = named(5, "grown.log");
    const std::uint32_t at = r.nextAttributeOffset();
    r.nonResident(0x80, testing::encodeRuns({{2, 200}}), 0, 1, 6000, 0, 0, "", 2 * 4096);
    ByteVector record = r.build();
    for (int k = 0; k < 8; ++k) record[at + 0x38 + k] = static_cast<std::uint8_t>((1000ULL >> (8 * k)) & 0xFF);
    v.setRecord(30, record);
    Parsed p(v.image(), ParseMode::Standard);
    FileSaveResult result;
    ByteVector expected(stale.begin(), stale.begin() + 1000);
    expected.resize(6000, 0);
    EXPECT_EQ(p.save(p.at("/grown.log"), &result), expected);
    EXPECT_TRUE(result.uninitializedZeros);
    EXPECT_FALSE(result.damaged);
}

TEST(NtfsData, FoldersAndEmptyFilesSaveAsEmptyFiles) {
    NtfsVolumeBuilder v;
    v.setRecord(16, named(5, "Folder", true).build());
    v.setRecord(17, named(5, "empty.txt").resident(0x80, {}).build());
    Parsed p(v.image(), ParseMode::Standard);
    EXPECT_TRUE(p.save(p.at("/Folder")).empty());
    EXPECT_TRUE(p.save(p.at("/empty.txt")).empty());
    const FileSaveResult bad = p.view.saveFile(p.at("/empty.txt"), p.dir.file("no/such/folder/x"));
    EXPECT_FALSE(bad.written);
    EXPECT_FALSE(bad.error.empty());
}

ByteVector volumeWithFiles(std::uint64_t clusterSize) {
    NtfsVolumeBuilder v(clusterSize, 8 * 1024 * 1024 / clusterSize, 1024, 32, 64);
    v.setRecord(1, named(5, "$MFTMirr").build());
    v.setRecord(16, named(5, "Docs", true).build());
    v.setRecord(17, named(16, "a.txt").resident(0x80, bytesOf("alpha")).build());
    v.setRecord(18, named(16, "b.bin").data({{1, 700}}, 3, clusterSize).build());
    v.putClusters(700, bytesOf("bee"));
    v.setRecord(19, RecordBuilder().build());  // an in-use record without a name
    return v.image();
}

TEST(NtfsScan, BlankBootSectorsSendTheStandardModeScanningForMft) {
    for (std::uint64_t clusterSize : {2048u, 4096u}) {
        ByteVector image = volumeWithFiles(clusterSize);
        std::fill(image.begin(), image.begin() + 512, 0);
        std::fill(image.end() - 512, image.end(), 0);
        Parsed p(image, ParseMode::Standard, 8);
        EXPECT_TRUE(p.log.saw("boot sector corrupt.Scanning for first mft entry..."));
        EXPECT_TRUE(p.log.saw("found mft entry.getting its run ..."));
        EXPECT_EQ(p.view.engine().clusterSize, clusterSize) << "taken from $MFT's own position";
        EXPECT_EQ(p.view.entryIdText(p.at("/Docs/a.txt")), "17");
        EXPECT_EQ(p.save(p.at("/Docs/b.bin")), bytesOf("bee"));
    }
}

// Records the scan for $MFT passes on its way are dropped with everything noted from them: their further names
// and streams must not turn up on the MFT's records of the same index.
TEST(NtfsScan, RecordsBeforeMftLeaveNoNamesOrStreamsBehind) {
    NtfsVolumeBuilder v(4096, 2048, 1024, 32, 64);
    v.setRecord(1, named(5, "$MFTMirr").build());
    v.setRecord(16, named(5, "Docs", true).build());
    v.putBytes(4096, named(5, "stray.txt").fileName(5, "stray twin.txt").resident(0x80, bytesOf("s"), "ads").build());
    ByteVector image = v.image();
    std::fill(image.begin(), image.begin() + 512, 0);
    std::fill(image.end() - 512, image.end(), 0);
    Parsed p(image, ParseMode::Standard, 8, nullptr, true);
    EXPECT_TRUE(p.log.saw("found mft entry.getting its run ..."));
    const auto all = p.listing();
    EXPECT_TRUE(all.count("/$MFTMirr"));
    EXPECT_TRUE(all.count("/Docs"));
    for (const auto& [path, id] : all) {
        EXPECT_EQ(path.find("stray"), std::string::npos) << path;
        EXPECT_EQ(path.find(':'), std::string::npos) << path;
    }
}

TEST(NtfsScan, BackupBootSectorStandsInForABlankFirstOne) {
    ByteVector image = volumeWithFiles(4096);
    std::fill(image.begin(), image.begin() + 512, 0);
    Parsed p(image, ParseMode::Standard, 8);
    EXPECT_TRUE(p.view.engine().usedBackupBootSector());
    EXPECT_FALSE(p.log.saw("boot sector corrupt.Scanning for first mft entry..."));
    EXPECT_EQ(p.save(p.at("/Docs/b.bin")), bytesOf("bee"));
}

TEST(NtfsScan, DeepModeHangsNamedRecordsUnderTheOrphanFolder) {
    ByteVector image = volumeWithFiles(4096);
    Parsed p(image, ParseMode::Deep, 8);
    EXPECT_EQ(p.names(p.view.topLevel()), std::vector<std::string>{"ORPHAN_ENTRY"});
    const auto all = p.listing();
    // Each record under its parent folder's record; what sat in the root under the orphan folder.
    EXPECT_TRUE(all.count("/ORPHAN_ENTRY/Docs/a.txt"));
    EXPECT_TRUE(all.count("/ORPHAN_ENTRY/Docs/b.bin"));
    EXPECT_TRUE(all.count("/ORPHAN_ENTRY/$MFT"));
    EXPECT_EQ(p.save(all.at("/ORPHAN_ENTRY/Docs/b.bin")), bytesOf("bee"));
    // A record found both in the MFT and in its mirror is one entry; the unnamed record is not listed.
    const auto inOrphan = p.names(p.view.children(all.at("/ORPHAN_ENTRY")));
    EXPECT_EQ(std::count(inOrphan.begin(), inOrphan.end(), "$MFTMirr"), 1);
    EXPECT_EQ(std::count(inOrphan.begin(), inOrphan.end(), "$MFT"), 1);
    EXPECT_EQ(p.view.entryIdText(all.at("/ORPHAN_ENTRY/Docs")), "16");

    // A file whose folder record is gone goes into the folder record found before it; two folders naming each
    // other still come up under the orphan folder, with their content.
    NtfsVolumeBuilder lost(4096, 2048, 1024, 32, 64);
    lost.setRecord(16, named(5, "Docs", true).build());
    lost.setRecord(17, named(99, "lost.txt").build());
    lost.setRecord(18, named(19, "A", true).build());
    lost.setRecord(19, named(18, "B", true).build());
    lost.setRecord(20, named(19, "inner.txt").build());
    Parsed strays(lost.image(), ParseMode::Deep, 8);
    const auto found = strays.listing();
    EXPECT_TRUE(found.count("/ORPHAN_ENTRY/Docs/lost.txt"));
    EXPECT_TRUE(found.count("/ORPHAN_ENTRY/A/B/inner.txt") || found.count("/ORPHAN_ENTRY/B/inner.txt"));

    // Without the root record the found records are still shown.
    NtfsVolumeBuilder v;
    v.setRecord(5, ByteVector(1024, 0));
    v.setRecord(16, named(5, "alone.txt").build());
    Parsed noRoot(v.image(), ParseMode::Deep, 2);
    EXPECT_TRUE(noRoot.listing().count("/ORPHAN_ENTRY/alone.txt"));
}

TEST(NtfsScan, AdvancedFinderOffersMftButNotItsMirror) {
    NtfsVolumeBuilder v(4096, 2048, 1024, 32, 64);
    const char* system[] = {"$MFT", "$MFTMirr", "$LogFile", "$Volume", "$AttrDef", ".", "$Bitmap", "$Boot"};
    for (std::uint64_t i = 0; i < 8; ++i) {
        if (i == 0 || i == 5) continue;
        v.setRecord(i, named(5, system[i]).build());
    }
    v.setRecord(16, named(5, "found.txt").build());
    MemoryReader reader(v.image());
    VolumeRecord record = Parsed::volumeRecord(8);
    NtfsEngine engine(testing::on(reader, record));
    engine.readBootSector();
    EXPECT_EQ(engine.findMftEntries(3), 1u);
    ASSERT_EQ(engine.mftCandidates.size(), 1u);
    EXPECT_EQ(engine.mftCandidates[0].name, "$MFT");
    EXPECT_EQ(engine.mftCandidates[0].recordOffset, 32u * 4096);
    engine.freeEntryNames();
    engine.entries.clear();
    ASSERT_TRUE(engine.takeMftRunFromCandidate(0));
    engine.clusterSize = 4096;
    engine.loadMftRecords();
    engine.buildEntryTree();
    bool seen = false;
    for (std::uint64_t c : engine.topLevelEntries()) seen = seen || engine.entryName(c) == "found.txt";
    EXPECT_TRUE(seen);
    EXPECT_FALSE(engine.takeMftRunFromCandidate(5));
}

TEST(NtfsView, DetailsShowStandardInformationWithoutReadingThePlainRecordAgain) {
    NtfsVolumeBuilder v;
    RecordBuilder r(1024, 0);
    r.standardInformation(kTime, kTime + 600000000, kTime + 1200000000, 0x0023).fileName(5, "old.txt");
    r.data({{3, 100}}, 10000, 4096);
    v.setRecord(16, r.build());
    v.setRecord(17, named(5, "$BadClus").build());
    // A reparse point's target is read from the record when the list asks (this kind holds no path).
    RecordBuilder link(1024, 0);
    link.standardInformation(kTime, kTime + 600000000, kTime + 1200000000, 0x0400).fileName(5, "link");
    link.data({{3, 100}}, 10000, 4096).resident(0xC0, {0x14, 0, 0, 0x80, 0, 0, 0, 0});
    v.setRecord(18, link.build());
    Parsed p(v.image(), ParseMode::Standard);
    for (const std::string path : {"/old.txt", "/link"}) {
        SCOPED_TRACE(path);
        const std::uint64_t before = p.reader.reads;
        const EntryDetails d = p.view.details(p.at(path));
        // What the parse read of a plain record serves the list; a reparse point's record is read once more.
        EXPECT_EQ(p.reader.reads - before, path == "/link" ? 1u : 0u);
        EXPECT_EQ(d.name, path.substr(1));
        EXPECT_TRUE(d.deleted);
        EXPECT_FALSE(d.folder);
        EXPECT_EQ(d.size, 10000u);
        EXPECT_EQ(d.sizeText, "9.77 KB");
        EXPECT_EQ(d.attributes, path == "/link" ? "" : "-R-H-A");
        EXPECT_EQ(d.target, "");
        ASSERT_TRUE(d.created && d.modified && d.accessed);
        EXPECT_EQ(timeText(*d.created), timeText(localCalendarTime(1600000000)));
        EXPECT_EQ(timeText(*d.modified), timeText(localCalendarTime(1600000060)));
        EXPECT_EQ(timeText(*d.accessed), timeText(localCalendarTime(1600000120)));
    }
    const EntryId id = p.at("/old.txt");
    EXPECT_TRUE(p.view.skipWhenSaving(p.at("/$BadClus")));
    EXPECT_FALSE(p.view.skipWhenSaving(id));
    EXPECT_EQ(p.view.saveDoneText(), "Saving process done.");
    const EntryDetails orphan = p.view.details(p.view.topLevel().back());
    EXPECT_EQ(orphan.name, "ORPHAN_ENTRY");
    EXPECT_TRUE(orphan.folder);
    EXPECT_FALSE(orphan.deleted);
}

}  // namespace
}  // namespace halvard
