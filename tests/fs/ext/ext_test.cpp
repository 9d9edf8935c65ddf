// ext2/3 structures and engine on synthetic bytes: directory records, block maps with holes and bad numbers,
// extent trees, superblock geometry, and a whole small volume whose start the volume record gets wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "browser/ext_view.h"
#include "fs/ext/ext_format.h"
#include "support/ntfs_builder.h"
#include "support/put_bytes.h"
#include "support/view_exercise.h"

namespace halvard {
namespace {

using namespace ext_format;
using namespace testing;  // the byte writers and their buffer type


// One directory record with a file-type byte.
void putRecord(ByteVector& block, std::size_t at, std::uint32_t inode, std::uint16_t recordLength,
               const std::string& name, std::uint8_t type = 1) {
    putLe32(block, at, inode);
    putLe16(block, at + 4, recordLength);
    block[at + 6] = static_cast<std::uint8_t>(name.size());
    block[at + 7] = type;
    std::memcpy(block.data() + at + 8, name.data(), name.size());
}

std::vector<std::string> namesIn(const ByteVector& block, bool fileType = true) {
    std::vector<std::string> names;
    walkDirectoryBlock(block, fileType, 100, [&](const DirectoryRecord& r) { names.emplace_back(r.name); });
    return names;
}

TEST(ExtDirectoryBlock, SlackIsSkippedAndARecordLeavingTheBlockEndsTheWalk) {
    ByteVector block(1024, 0);
    putRecord(block, 0, 2, 12, ".", 2);
    putRecord(block, 12, 12, 40, "kept");  // 24 bytes of slack: a removed entry's remains
    putRecord(block, 28, 13, 12, "gone");  // inside the slack: not a live record
    putRecord(block, 52, 14, 2000, "bad");  // would leave the block
    EXPECT_EQ(namesIn(block), (std::vector<std::string>{".", "kept"}));

    putRecord(block, 52, 14, 972, "last");
    EXPECT_EQ(namesIn(block), (std::vector<std::string>{".", "kept", "last"}));

    // A record length below a record's header, or an inode number beyond the volume, ends it too.
    putLe16(block, 52 + 4, 4);
    EXPECT_EQ(namesIn(block).size(), 2u);
    putRecord(block, 52, 101, 972, "last");
    EXPECT_EQ(namesIn(block).size(), 2u);
}

// Removed records: what the slack of live records holds, each candidate checked on its own.
std::vector<std::string> removedIn(const ByteVector& block, bool skipFirstSlack = false) {
    std::vector<std::string> names;
    walkDirectoryBlock(
        block, true, 100,
        [&](const DirectoryRecord& r) {
            if (r.removed) names.emplace_back(r.name);
        },
        true, skipFirstSlack);
    return names;
}

TEST(ExtDirectoryBlock, RemovedRecordsAreFoundInTheSlackRecordByRecord) {
    ByteVector block(1024, 0);
    putRecord(block, 0, 2, 12, ".", 2);
    putRecord(block, 12, 2, 12, "..", 2);
    putRecord(block, 24, 12, 1000, "kept");  // slack from 40 to the block's end
    putRecord(block, 40, 13, 16, "gone");
    putRecord(block, 56, 101, 16, "far");     // inode beyond the volume: not a record
    putRecord(block, 72, 14, 16, "bad/name");  // a "/" is never part of a name
    putRecord(block, 92, 15, 16, "untyped", 0);
    putRecord(block, 112, 16, 2000, "long");  // its length would leave the block
    putRecord(block, 132, 17, 20, "second");
    EXPECT_EQ(removedIn(block), (std::vector<std::string>{"gone", "second"}));
    EXPECT_EQ(namesIn(block), (std::vector<std::string>{".", "..", "kept"}));

    // The first record of a block, removed in place: named, inode 0.
    ByteVector first(1024, 0);
    putRecord(first, 0, 0, 24, "first_gone");
    putRecord(first, 24, 12, 1000, "live");
    EXPECT_EQ(removedIn(first), (std::vector<std::string>{"first_gone"}));
    EXPECT_EQ(namesIn(first), (std::vector<std::string>{"live"}));
    // Current kernels also blank its name: the walk goes on after it. A nameless record as long as the block is
    // an index node and holds no names.
    putRecord(first, 0, 0, 24, "");
    EXPECT_EQ(namesIn(first), (std::vector<std::string>{"live"}));
    putRecord(first, 0, 0, 1024, "");
    EXPECT_TRUE(namesIn(first).empty());

    // An indexed folder's first block keeps its index in the slack of "..": never read as names.
    ByteVector root(1024, 0);
    putRecord(root, 0, 2, 12, ".", 2);
    putRecord(root, 12, 2, 1012, "..", 2);
    putRecord(root, 40, 13, 24, "looks_like_one");
    EXPECT_EQ(removedIn(root, true), std::vector<std::string>{});
    EXPECT_EQ(removedIn(root, false), (std::vector<std::string>{"looks_like_one"}));
}

TEST(ExtDirectoryBlock, VolumesWithoutFileTypesHaveSixteenBitNameLengths) {
    ByteVector block(1024, 0);
    putLe32(block, 0, 11);
    putLe16(block, 4, 1024);
    putLe16(block, 6, 3);
    std::memcpy(block.data() + 8, "abc", 3);
    EXPECT_EQ(namesIn(block, false), (std::vector<std::string>{"abc"}));
    putLe16(block, 6, 1020);  // would run past the block
    EXPECT_TRUE(namesIn(block, false).empty());
}

// Blocks served from a map; every request is recorded.
struct BlockSource {
    std::map<std::uint64_t, ByteVector> blocks;
    std::uint64_t volumeBlocks = 1000;
    std::vector<std::uint64_t> requested;
    ReadBlock reader() {
        return [this](std::uint64_t block, std::vector<std::uint8_t>& out) {
            out.assign(1024, 0);
            if (block >= volumeBlocks) return false;
            requested.push_back(block);
            auto it = blocks.find(block);
            if (it != blocks.end()) out = it->second;
            return true;
        };
    }
};

TEST(ExtBlockMap, HolesKeepTheirPlaceAndNumbersBeyondTheVolumeAreNotRead) {
    Inode inode;
    auto setPointer = [&](int i, std::uint32_t v) { std::memcpy(inode.blocks.data() + i * 4, &v, 4); };
    setPointer(0, 100);
    setPointer(2, 102);  // block 1 is a hole
    setPointer(12, 200);  // single indirect
    setPointer(13, 5000);  // double indirect beyond the volume
    BlockSource source;
    source.blocks[200] = ByteVector(1024, 0);
    putLe32(source.blocks[200], 0, 300);
    putLe32(source.blocks[200], 8, 302);
    const BlockList runs = blockMapRuns(inode, 1024, 12 + 256 + 10, source.reader());
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].logical, 0u);
    EXPECT_EQ(runs[1].logical, 2u);
    EXPECT_EQ(runs[2].logical, 12u);
    EXPECT_EQ(runs[2].physical, 300u);
    EXPECT_EQ(runs[3].logical, 14u);
    EXPECT_EQ(source.requested, (std::vector<std::uint64_t>{200}));
}

TEST(ExtBlockMap, ExtentTreesAreFollowedThroughIndexNodes) {
    auto header = [](ByteVector& b, std::size_t at, std::uint16_t entries, std::uint16_t depth) {
        putLe16(b, at, kExtentMagic);
        putLe16(b, at + 2, entries);
        putLe16(b, at + 4, 4);
        putLe16(b, at + 6, depth);
    };
    ByteVector area(kBlockArea, 0);
    header(area, 0, 1, 1);
    putLe32(area, 12, 0);    // index: first logical block
    putLe32(area, 16, 50);   // leaf node at block 50
    BlockSource source;
    ByteVector& leaf = source.blocks[50] = ByteVector(1024, 0);
    header(leaf, 0, 2, 0);
    putLe32(leaf, 12, 0);
    putLe16(leaf, 16, 3);
    putLe32(leaf, 20, 400);
    putLe32(leaf, 24, 10);
    putLe16(leaf, 28, 32768 + 2);  // unwritten
    putLe32(leaf, 32, 500);
    Inode inode;
    std::memcpy(inode.blocks.data(), area.data(), kBlockArea);
    inode.flags = kInodeFlagExtents;
    const BlockList runs = blocksOfInode(inode, 1024, 100, source.reader());
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].physical, 400u);
    EXPECT_EQ(runs[0].count, 3u);
    EXPECT_EQ(runs[1].logical, 10u);
    EXPECT_TRUE(runs[1].unwritten);

    // A child that does not sit one level down is damage: nothing of it is taken.
    header(leaf, 0, 2, 3);
    EXPECT_TRUE(blocksOfInode(inode, 1024, 100, source.reader()).empty());

    // A damaged tree whose index blocks all point at one another block: 84 entries at each of four levels
    // would be 84^4 reads; the walk stops at a budget the file's size sets.
    BlockSource loop;
    for (std::uint64_t level = 1; level <= 4; ++level) {
        ByteVector& node = loop.blocks[60 + level] = ByteVector(1024, 0);
        header(node, 0, 84, static_cast<std::uint16_t>(level));
        for (std::size_t i = 0; i < 84; ++i) putLe32(node, 12 + i * 12 + 4, static_cast<std::uint32_t>(59 + level));
    }
    header(loop.blocks[60] = ByteVector(1024, 0), 0, 1, 0);
    putLe16(loop.blocks[60], 16, 1);
    putLe32(loop.blocks[60], 20, 700);
    header(area, 0, 4, 5);
    for (std::size_t i = 0; i < 4; ++i) putLe32(area, 12 + i * 12 + 4, 64);
    std::memcpy(inode.blocks.data(), area.data(), kBlockArea);
    blocksOfInode(inode, 1024, 100, loop.reader());
    EXPECT_LE(loop.requested.size(), 2u * 100 + 8);
}

// A superblock of a volume with 1024-byte blocks and 8192 blocks per group (revision 0: 128-byte inodes).
ByteVector superblock(std::uint32_t inodes, std::uint32_t blocks, std::uint32_t inodesPerGroup) {
    ByteVector sb(1024, 0);
    putLe32(sb, 0x00, inodes);
    putLe32(sb, 0x04, blocks);
    putLe32(sb, 0x14, 1);
    putLe32(sb, 0x20, 8192);
    putLe32(sb, 0x28, inodesPerGroup);
    putLe16(sb, 0x38, kMagic);
    return sb;
}

// A 256-byte inode with inline data: 60 bytes in the block area, the rest in the "system.data" attribute of the
// inode's extra space (after another attribute); damaged entries give no tail rather than bytes from elsewhere.
TEST(ExtInlineData, TheContentIsTheBlockAreaThenTheSystemDataAttribute) {
    ByteVector raw(256, 0);
    putLe16(raw, 0, 0x81A4);
    putLe32(raw, 4, 70);
    putLe32(raw, 0x20, kInodeFlagInlineData);
    for (int i = 0; i < 60; ++i) raw[0x28 + i] = static_cast<std::uint8_t>('a' + i % 26);
    putLe16(raw, 0x80, 32);             // extra fields: the attributes start at 160
    putLe32(raw, 160, 0xEA020000);
    const std::size_t entries = 164;
    raw[entries] = 3;                 // "user.abc", value "xyz" at 48
    raw[entries + 1] = 1;
    putLe16(raw, entries + 2, 48);
    putLe32(raw, entries + 8, 3);
    std::memcpy(raw.data() + entries + 16, "abc", 3);
    const std::size_t second = entries + 20;
    raw[second] = 4;                  // "system.data", value of 10 bytes at 52
    raw[second + 1] = 7;
    putLe16(raw, second + 2, 52);
    putLe32(raw, second + 8, 10);
    std::memcpy(raw.data() + second + 16, "data", 4);
    std::memcpy(raw.data() + entries + 48, "xyz", 3);
    std::memcpy(raw.data() + entries + 52, "0123456789", 10);
    const Inode inode = Inode::read(raw);
    ASSERT_EQ(inode.inlineData.size(), 70u);
    EXPECT_EQ(std::string(inode.inlineData.begin() + 58, inode.inlineData.end()), "gh0123456789");
    EXPECT_FALSE(inode.mapsBlocks(1024));
    EXPECT_TRUE(blocksOfInode(inode, 1024, 1, [](std::uint64_t, std::vector<std::uint8_t>&) { return true; }).empty());

    ByteVector bad = raw;
    putLe32(bad, second + 8, 1000);  // a value past the inode
    EXPECT_EQ(Inode::read(bad).inlineData.size(), 60u);
    bad = raw;
    putLe16(bad, 0x80, 200);  // extra fields past the inode
    EXPECT_EQ(Inode::read(bad).inlineData.size(), 60u);
    bad = raw;
    bad[entries] = 250;  // a name past the inode
    EXPECT_EQ(Inode::read(bad).inlineData.size(), 60u);
}

TEST(ExtSuperblock, GeometryCountsThePartialLastGroupAndRefusesNonsense) {
    ByteVector sb = superblock(1792, 12288, 896);
    Superblock s = Superblock::read(sb);
    EXPECT_EQ(s.groupCount(), 2u);
    EXPECT_EQ(s.inodeSize(), 128u);  // revision 0: fixed inode size
    EXPECT_TRUE(s.usable());
    // Superblock copies: every group, or with sparse copies groups 0, 1 and the powers of 3, 5 and 7.
    EXPECT_TRUE(s.groupHasSuperblock(32));
    putLe32(sb, 0x64, kRoCompatSparseSuper);
    const Superblock sparse = Superblock::read(sb);
    std::vector<std::uint64_t> withCopies;
    for (std::uint64_t g = 0; g < 130; ++g)
        if (sparse.groupHasSuperblock(g)) withCopies.push_back(g);
    EXPECT_EQ(withCopies, (std::vector<std::uint64_t>{0, 1, 3, 5, 7, 9, 25, 27, 49, 81, 125}));
    putLe32(sb, 0x18, 40);  // block size shift out of range
    EXPECT_FALSE(Superblock::read(sb).usable());
    putLe32(sb, 0x18, 0);
    putLe32(sb, 0x28, 0);
    EXPECT_FALSE(Superblock::read(sb).usable());
}

// A one-group ext2 volume with 1024-byte blocks: root (inode 2) holding a file, a second name of that file, a
// block device whose first block pointer is its device number, a sub-folder and a short link; in the slack of
// its last record two removed names: one whose inode still describes it (its block free again), one whose inode
// went to the live file. The block bitmap (block 4) marks blocks 1..31 in use.
ByteVector smallVolume() {
    ByteVector v(64 * 1024, 0);
    ByteVector sb = superblock(24, 64, 24);
    putLe32(sb, 0x4C, 1);
    putLe16(sb, 0x58, 128);
    putLe32(sb, 0x60, kIncompatFileType);
    std::memcpy(v.data() + 1024, sb.data(), sb.size());
    putLe32(v, 2048 + 0, 4);  // block bitmap at block 4
    putLe32(v, 2048 + 8, 5);  // inode table at block 5
    for (int bit = 0; bit < 31; ++bit) v[4 * 1024 + bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
    auto inode = [&](std::uint32_t number, std::uint16_t mode, std::uint32_t size, std::uint32_t block,
                     std::uint16_t links = 1) {
        const std::size_t at = 5 * 1024 + (number - 1) * 128;
        putLe16(v, at, mode);
        putLe32(v, at + 4, size);
        putLe32(v, at + 0x10, 1686830400);
        putLe16(v, at + 0x1A, links);
        if (links == 0) putLe32(v, at + 0x14, 1686830500);
        putLe32(v, at + 0x28, block);
    };
    inode(2, 0x41ED, 1024, 20);
    inode(12, 0x81A4, 1500, 30, 2);
    inode(13, 0x61A4, 0, 0x0700);
    inode(14, 0x41ED, 1024, 21);
    inode(15, 0x81A4, 700, 40, 0);  // removed; block 40 is free
    inode(17, 0xA1FF, 8, 0);
    std::memcpy(v.data() + 5 * 1024 + 16 * 128 + 0x28, "file.txt", 8);
    ByteVector root(1024, 0);
    putRecord(root, 0, 2, 12, ".", 2);
    putRecord(root, 12, 2, 12, "..", 2);
    putRecord(root, 24, 12, 16, "file.txt", 1);
    putRecord(root, 40, 13, 16, "loop0", 4);
    putRecord(root, 56, 14, 12, "sub", 2);
    putRecord(root, 68, 17, 12, "link", 7);
    putRecord(root, 80, 12, 1024 - 80, "again.txt", 1);
    putRecord(root, 100, 15, 16, "gone.txt", 1);
    putRecord(root, 116, 12, 16, "old.txt", 1);
    std::memcpy(v.data() + 20 * 1024, root.data(), root.size());
    ByteVector sub(1024, 0);
    putRecord(sub, 0, 14, 12, ".", 2);
    putRecord(sub, 12, 2, 1012, "..", 2);
    std::memcpy(v.data() + 21 * 1024, sub.data(), sub.size());
    for (int i = 0; i < 1024; ++i) v[30 * 1024 + i] = static_cast<std::uint8_t>('a' + i % 26);
    for (int i = 0; i < 1024; ++i) v[40 * 1024 + i] = static_cast<std::uint8_t>('A' + i % 26);
    return v;
}

std::string readHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// What the standard parse of `volume` says of the top-level entry `name`: whether it can be recovered.
std::string recoverableOf(const ByteVector& volume, const std::string& name) {
    testing::MemoryReader reader(volume);
    ExtView view(testing::on(reader, VolumeRecord{"extX", "", "0", "1", 0}));
    if (!view.parse({}, ParseMode::Standard)) return "volume not parsed";
    for (EntryId e : view.topLevel())
        if (view.name(e) == name) return view.details(e).recoverable;
    return "not listed";
}

TEST(ExtEngine, FindsAVolumeThatStartsLaterThanItsRecordAndReadsItsTree) {
    ByteVector shifted(512, 0);
    const ByteVector volume = smallVolume();
    shifted.insert(shifted.end(), volume.begin(), volume.end());
    shifted.resize(2 * 1024 * 1024, 0);
    testing::MemoryReader reader(shifted);
    VolumeRecord record{"extX", "", "0", "2", 0};
    ExtView view(testing::on(reader, record));
    ASSERT_TRUE(view.parse({}, ParseMode::Standard));
    EXPECT_EQ(view.engine().shift(), 512u);

    std::map<std::string, EntryId> top;
    for (EntryId e : view.topLevel()) top[view.name(e)] = e;
    // No "." or ".."; the device node is listed with its kind, neither file nor folder.
    EXPECT_EQ(top.size(), 7u);
    ASSERT_TRUE(top.count("loop0"));
    EXPECT_FALSE(view.isFolder(top["loop0"]));
    EXPECT_EQ(view.details(top["loop0"]).special, SpecialKind::blockDevice);
    EXPECT_EQ(view.details(top["file.txt"]).special, SpecialKind::none);
    ASSERT_TRUE(top.count("file.txt") && top.count("sub") && top.count("again.txt") && top.count("link"));
    EXPECT_TRUE(view.isFolder(top["sub"]));
    EXPECT_EQ(view.details(top["file.txt"]).attributes, "-OR-GR-UW-UR");
    // Both names of inode 12 are entries of their own with its id.
    EXPECT_NE(top["file.txt"], top["again.txt"]);
    EXPECT_EQ(view.entryIdText(top["again.txt"]), "12");
    EXPECT_EQ(view.details(top["again.txt"]).size, 1500u);
    EXPECT_EQ(view.details(top["link"]).target, "file.txt");

    const auto folder = std::filesystem::temp_directory_path() / "halvard_ext_test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const FileSaveResult saved = view.saveFile(top["again.txt"], (folder / "again.txt").string());
    EXPECT_TRUE(saved.written);
    EXPECT_FALSE(saved.damaged);  // its second block is a hole: zeros
    const std::string content = readHostFile((folder / "again.txt").string());
    ASSERT_EQ(content.size(), 1500u);
    EXPECT_EQ(content.substr(0, 3), "abc");
    EXPECT_EQ(content[1024], '\0');
    EXPECT_EQ(testing::contentMismatch(view, top["again.txt"], (folder / "again.txt").string(), false), "");

    // A short link is saved as a link.
    EXPECT_TRUE(view.saveFile(top["link"], (folder / "link").string()).written);
    EXPECT_EQ(std::filesystem::read_symlink(folder / "link").string(), "file.txt");
    EXPECT_EQ(testing::contentMismatch(view, top["link"], (folder / "link").string(), false), "");
    std::filesystem::remove_all(folder);
}

TEST(ExtEngine, RemovedNamesKeepTheirInodeOnlyWhileNoOtherFileHasIt) {
    const ByteVector volume = smallVolume();
    testing::MemoryReader reader(volume);
    ExtView view(testing::on(reader, VolumeRecord{"extX", "", "0", "1", 0}));
    ASSERT_TRUE(view.parse({}, ParseMode::Standard));
    std::map<std::string, EntryId> top;
    for (EntryId e : view.topLevel()) top[view.name(e)] = e;
    ASSERT_TRUE(top.count("gone.txt") && top.count("old.txt"));
    EXPECT_FALSE(view.isDeleted(top["file.txt"]));

    const EntryDetails gone = view.details(top["gone.txt"]);
    EXPECT_TRUE(gone.deleted);
    EXPECT_EQ(gone.size, 700u);
    EXPECT_EQ(gone.recoverable, "yes");
    const EntryDetails old = view.details(top["old.txt"]);
    EXPECT_TRUE(old.deleted);
    EXPECT_EQ(old.size, 0u);
    EXPECT_FALSE(old.modified.has_value());
    EXPECT_EQ(old.recoverable, "no");

    const auto folder = std::filesystem::temp_directory_path() / "halvard_ext_removed_test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const FileSaveResult saved = view.saveFile(top["gone.txt"], (folder / "gone.txt").string());
    EXPECT_TRUE(saved.written);
    EXPECT_FALSE(saved.damaged);
    const std::string content = readHostFile((folder / "gone.txt").string());
    ASSERT_EQ(content.size(), 700u);
    EXPECT_EQ(content.substr(0, 3), "ABC");
    // Never the live file's content under the removed name, and never an empty file called done.
    const FileSaveResult reused = view.saveFile(top["old.txt"], (folder / "old.txt").string());
    EXPECT_FALSE(reused.written);
    EXPECT_FALSE(reused.error.empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "old.txt"));
    std::filesystem::remove_all(folder);

    // Once its block is in use again, nothing of it is saved.
    ByteVector taken = volume;
    taken[4 * 1024 + 39 / 8] |= static_cast<std::uint8_t>(1u << (39 % 8));
    EXPECT_EQ(recoverableOf(taken, "gone.txt"), "no");
}

// The small volume as the kernel driver leaves a removed file: gone.txt's inode (15) keeps its mode and
// generation, loses its size and block map. With `journal`, an ext3 journal (inode 8, blocks 50..57) holds one
// committed transaction that logged the inode table block while the file was whole.
ByteVector clearedVolume(bool journal) {
    ByteVector v = smallVolume();
    const std::size_t table = 5 * 1024, gone = table + 14 * 128;
    putLe32(v, gone + 0x64, 0x1234);  // generation
    ByteVector whole(v.begin() + table + 1024, v.begin() + table + 2048);  // block 6, which holds inode 15
    putLe16(whole, 14 * 128 - 1024 + 0x1A, 1);
    putLe32(whole, 14 * 128 - 1024 + 0x14, 0);
    putLe32(v, gone + 4, 0);
    putLe32(v, gone + 0x28, 0);
    if (!journal) return v;
    putLe32(v, 1024 + 0x5C, kCompatJournal);
    putLe32(v, 1024 + 0xE0, 8);
    const std::size_t j = table + 7 * 128;
    putLe16(v, j, 0x8180);
    putLe32(v, j + 4, 8 * 1024);
    putLe16(v, j + 0x1A, 1);
    for (std::uint32_t i = 0; i < 8; ++i) {
        putLe32(v, j + 0x28 + i * 4, 50 + i);
        v[4 * 1024 + (50 + i - 1) / 8] |= static_cast<std::uint8_t>(1u << ((50 + i - 1) % 8));
    }
    auto block = [&](std::uint32_t n) { return v.begin() + static_cast<std::ptrdiff_t>(n * 1024); };
    ByteVector super(1024, 0);
    putBe32(super, 0, 0xC03B3998);
    putBe32(super, 4, 4);
    putBe32(super, 0x0C, 1024);
    putBe32(super, 0x10, 8);
    putBe32(super, 0x14, 1);
    std::copy(super.begin(), super.end(), block(50));
    ByteVector descriptor(1024, 0), commit(1024, 0);
    for (ByteVector* h : {&descriptor, &commit}) {
        putBe32(*h, 0, 0xC03B3998);
        putBe32(*h, 8, 77);
    }
    putBe32(descriptor, 4, 1);
    putBe32(descriptor, 12, 6);       // the tag: volume block 6 ...
    descriptor[12 + 7] = 0x02 | 0x08;  // ... same UUID, last tag
    putBe32(commit, 4, 2);
    std::copy(descriptor.begin(), descriptor.end(), block(51));
    std::copy(whole.begin(), whole.end(), block(52));
    std::copy(commit.begin(), commit.end(), block(53));
    return v;
}

TEST(ExtEngine, AClearedRemovedFileIsFoundThroughTheJournalOrSaidToBeLost) {
    const auto folder = std::filesystem::temp_directory_path() / "halvard_ext_journal_test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (const bool journal : {false, true}) {
        const ByteVector volume = clearedVolume(journal);
        testing::MemoryReader reader(volume);
        ExtView view(testing::on(reader, VolumeRecord{"extX", "", "0", "1", 0}));
        ASSERT_TRUE(view.parse({}, ParseMode::Standard));
        EntryId gone = 0;
        for (EntryId e : view.topLevel())
            if (view.name(e) == "gone.txt") gone = e;
        ASSERT_NE(gone, 0u);
        const EntryDetails d = view.details(gone);
        const std::string path = (folder / (journal ? "with" : "without")).string();
        const FileSaveResult saved = view.saveFile(gone, path);
        if (journal) {
            EXPECT_EQ(d.size, 700u);
            EXPECT_EQ(d.recoverable, "yes");
            EXPECT_TRUE(saved.written);
            EXPECT_FALSE(saved.damaged);
            const std::string content = readHostFile(path);
            ASSERT_EQ(content.size(), 700u);
            EXPECT_EQ(content.substr(0, 3), "ABC");
            EXPECT_EQ(testing::contentMismatch(view, gone, path, saved.damaged), "");
        } else {
            // Size and blocks unknown: never an empty file called done.
            EXPECT_EQ(d.recoverable, "no");
            EXPECT_FALSE(saved.written);
            EXPECT_FALSE(saved.error.empty());
            EXPECT_FALSE(std::filesystem::exists(path));
        }
    }
    // With its name gone too, the file is listed under ORPHAN_ENTRY by its inode number and saved.
    ByteVector nameless = clearedVolume(true);
    std::fill_n(nameless.begin() + 20 * 1024 + 100, 16, 0);
    {
        testing::MemoryReader reader(nameless);
        ExtView view(testing::on(reader, VolumeRecord{"extX", "", "0", "1", 0}));
        ASSERT_TRUE(view.parse({}, ParseMode::Standard));
        std::map<std::string, EntryId> top;
        for (EntryId e : view.topLevel()) top[view.name(e)] = e;
        ASSERT_TRUE(top.count("ORPHAN_ENTRY") && !top.count("gone.txt"));
        const std::vector<EntryId> orphans = view.children(top["ORPHAN_ENTRY"]);
        ASSERT_EQ(orphans.size(), 1u);
        EXPECT_EQ(view.name(orphans[0]), "inode_15");
        EXPECT_EQ(view.details(orphans[0]).size, 700u);
        EXPECT_TRUE(view.saveFile(orphans[0], (folder / "orphan").string()).written);
        EXPECT_EQ(readHostFile((folder / "orphan").string()).substr(0, 3), "ABC");
    }
    // A copy whose inode counts far more blocks than its map still names was caught while the map was cleared:
    // what it names is saved, marked damaged.
    ByteVector partial = clearedVolume(true);
    putLe32(partial, 52 * 1024 + 14 * 128 - 1024 + 0x1C, 2 * 40);
    {
        testing::MemoryReader reader(partial);
        ExtView view(testing::on(reader, VolumeRecord{"extX", "", "0", "1", 0}));
        ASSERT_TRUE(view.parse({}, ParseMode::Standard));
        for (EntryId e : view.topLevel()) {
            if (view.name(e) != "gone.txt") continue;
            EXPECT_EQ(view.details(e).recoverable, "partly");
            const FileSaveResult saved = view.saveFile(e, (folder / "partial").string());
            EXPECT_TRUE(saved.damaged);
            EXPECT_EQ(testing::contentMismatch(view, e, (folder / "partial").string(), saved.damaged), "");
        }
    }
    // Another file that took the inode since (a new generation) does not lend the removed name its map.
    ByteVector reused = clearedVolume(true);
    putLe32(reused, 5 * 1024 + 14 * 128 + 0x64, 0x9999);
    EXPECT_EQ(recoverableOf(reused, "gone.txt"), "no");
    std::filesystem::remove_all(folder);
}

TEST(ExtEngine, DamagedMetadataNeverLeadsOutsideItsBuffers) {
    const ByteVector clean = smallVolume();
    const std::string folder = std::filesystem::temp_directory_path().string();
    std::uint32_t seed = 1;
    for (int round = 0; round < 300; ++round) {
        ByteVector damaged = clean;
        // Superblock, descriptors, inode table and directory blocks: bytes 1024 .. 22 KiB.
        for (int i = 0; i < 24; ++i) {
            seed = seed * 1103515245 + 12345;
            damaged[1024 + (seed >> 8) % (21 * 1024)] = static_cast<std::uint8_t>(seed >> 24);
        }
        testing::MemoryReader reader(damaged);
        ExtView view(testing::on(reader, VolumeRecord{"extX", "", "0", "1", 0}));
        if (view.parse({}, ParseMode::Standard)) testing::exerciseView(view, folder);
    }
    std::filesystem::remove(std::filesystem::path(folder) / "saved");
}

// A link is fast when it has no content block: the attribute block an inode with 128 bytes keeps its attributes
// in is counted in its sectors too (File ACL set, 2 sectors of a 1024-byte block), and must be left out.
TEST(ExtInode, AFastLinkWithAnAttributeBlockIsStillFast) {
    ByteVector raw(128, 0);
    putLe16(raw, 0x00, 0xA1FF);
    putLe32(raw, 0x04, 9);
    std::memcpy(raw.data() + 0x28, "sub/a.txt", 9);
    EXPECT_TRUE(Inode::read(raw).isFastSymlink(1024));
    putLe32(raw, 0x1C, 2);  // the attribute block's sectors ...
    EXPECT_FALSE(Inode::read(raw).isFastSymlink(1024)) << "no attribute block: a block of content";
    putLe32(raw, 0x68, 541);  // ... with the attribute block set
    const Inode fast = Inode::read(raw);
    EXPECT_EQ(fast.attributeBlock, 541u);
    EXPECT_TRUE(fast.isFastSymlink(1024));
    EXPECT_FALSE(fast.mapsBlocks(1024));
    putLe32(raw, 0x1C, 4);  // a slow link: its target block beside the attribute block
    EXPECT_FALSE(Inode::read(raw).isFastSymlink(1024));
    putLe32(raw, 0x68, 0);
    putLe16(raw, 0x76, 1);  // the high part of the attribute block's number
    putLe32(raw, 0x1C, 8);
    EXPECT_TRUE(Inode::read(raw).isFastSymlink(4096));
    EXPECT_EQ(Inode::read(raw).attributeBlock, 1ULL << 32);
}

// An extent tree `depth` levels deep, one node per level at blocks 100, 101, ..., its leaf mapping logical block
// 0 to block 900.
struct ChainTree {
    BlockSource source;
    Inode inode;
    explicit ChainTree(std::uint16_t depth) {
        auto header = [](std::uint8_t* b, std::uint16_t entries, std::uint16_t level) {
            const std::uint16_t magic = kExtentMagic, max = 4;
            std::memcpy(b, &magic, 2);
            std::memcpy(b + 2, &entries, 2);
            std::memcpy(b + 4, &max, 2);
            std::memcpy(b + 6, &level, 2);
        };
        inode.flags = kInodeFlagExtents;
        header(inode.blocks.data(), 1, depth);
        const std::uint32_t first = 100;
        std::memcpy(inode.blocks.data() + 16, &first, 4);
        for (std::uint16_t level = depth; level-- > 0;) {
            ByteVector& node = source.blocks[100 + (depth - 1 - level)] = ByteVector(1024, 0);
            header(node.data(), 1, level);
            if (level > 0) {
                putLe32(node, 16, 100 + (depth - level));
            } else {
                putLe16(node, 16, 1);
                putLe32(node, 20, 900);
            }
        }
    }
};

TEST(ExtBlockMap, DeepExtentTreesAreReadAndAWalkThatStopsSaysSo) {
    // Seven levels, deeper than the kernel builds but what other tools leave: read whole.
    ChainTree seven(7);
    bool incomplete = true;
    BlockList runs = blocksOfInode(seven.inode, 1024, 1, seven.source.reader(), &incomplete);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].physical, 900u);
    EXPECT_FALSE(incomplete);
    // Deeper than any volume needs: the walk stops, and says its blocks are unknown.
    ChainTree hostile(60);
    runs = blocksOfInode(hostile.inode, 1024, 1000, hostile.source.reader(), &incomplete);
    EXPECT_TRUE(runs.empty());
    EXPECT_TRUE(incomplete);
    // A node that cannot be read, or has lost its magic, leaves the file incomplete too.
    ChainTree unreadable(3);
    unreadable.source.volumeBlocks = 101;
    blocksOfInode(unreadable.inode, 1024, 1, unreadable.source.reader(), &incomplete);
    EXPECT_TRUE(incomplete);
    ChainTree noMagic(3);
    noMagic.source.blocks[101][0] = 0;
    blocksOfInode(noMagic.inode, 1024, 1, noMagic.source.reader(), &incomplete);
    EXPECT_TRUE(incomplete);
    // Index entries past the file's end are not walked, and are no damage.
    ChainTree past(3);
    const std::uint32_t later = 5;
    std::memcpy(past.inode.blocks.data() + 12, &later, 4);
    EXPECT_TRUE(blocksOfInode(past.inode, 1024, 1, past.source.reader(), &incomplete).empty());
    EXPECT_FALSE(incomplete);
}

// The small volume with inode 18 ("deep.bin", 1000 bytes at block 40) mapped through a chain of extent nodes at
// blocks 50, 51, ...
ByteVector deepTreeVolume(std::uint16_t depth) {
    ByteVector v = smallVolume();
    v.resize(128 * 1024, 0);
    putLe32(v, 1024 + 0x04, 128);
    const std::size_t at = 5 * 1024 + 17 * 128;
    putLe16(v, at, 0x81A4);
    putLe32(v, at + 4, 1000);
    putLe16(v, at + 0x1A, 1);
    putLe32(v, at + 0x20, kInodeFlagExtents);
    ChainTree tree(depth);
    std::memcpy(v.data() + at + 0x28, tree.inode.blocks.data(), kBlockArea);
    putLe32(v, at + 0x28 + 16, 50);
    for (std::uint16_t i = 0; i < depth; ++i) {
        ByteVector node = tree.source.blocks[100 + i];
        if (i + 1 < depth) putLe32(node, 16, 51 + i);
        else putLe32(node, 20, 40);
        std::memcpy(v.data() + (50 + i) * 1024, node.data(), 1024);
    }
    // A live name after again.txt, whose record keeps the removed names in its slack.
    putLe16(v, 20 * 1024 + 80 + 4, 52);
    putRecord(v, 20 * 1024 + 132, 18, 1024 - 132, "deep.bin", 1);
    return v;
}

TEST(ExtEngine, AFileBehindADeepExtentTreeIsSavedAndOneBeyondTheWalkIsDamaged) {
    const auto folder = std::filesystem::temp_directory_path() / "halvard_ext_deep_test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    for (const std::uint16_t depth : {7, 40}) {
        const ByteVector volume = deepTreeVolume(depth);
        testing::MemoryReader reader(volume);
        ExtView view(testing::on(reader, VolumeRecord{"extX", "", "0", "1", 0}));
        ASSERT_TRUE(view.parse({}, ParseMode::Standard));
        std::map<std::string, EntryId> top;
        for (EntryId e : view.topLevel()) top[view.name(e)] = e;
        ASSERT_TRUE(top.count("deep.bin"));
        const std::string path = (folder / std::to_string(depth)).string();
        const FileSaveResult saved = view.saveFile(top["deep.bin"], path);
        ASSERT_TRUE(saved.written);
        const std::string content = readHostFile(path);
        ASSERT_EQ(content.size(), 1000u);
        if (depth == 7) {
            EXPECT_FALSE(saved.damaged);
            EXPECT_EQ(content.substr(0, 3), "ABC");
        } else {
            EXPECT_TRUE(saved.damaged) << "zeros for blocks the walk could not reach are damage";
            EXPECT_EQ(content[0], '\0');
        }
    }
    std::filesystem::remove_all(folder);
}

// Group descriptors zeroed: the copy after group 1's superblock copy is read instead; with no copy, the parse
// refuses the volume and says why rather than listing an empty volume.
TEST(ExtEngine, ZeroedGroupDescriptorsAreReadFromTheirCopyOrRefused) {
    // Two groups of 32 blocks; the copy of the superblock at block 33, of the descriptors at 34.
    ByteVector v = smallVolume();
    putLe32(v, 1024 + 0x20, 32);
    putLe32(v, 1024 + 0x28, 12);
    putLe32(v, 1024 + 0x00, 24);
    std::memcpy(v.data() + 34 * 1024, v.data() + 2 * 1024, 64);
    std::fill_n(v.begin() + 2 * 1024, 1024, 0);
    // Inodes 13..24 live in group 1: its table at block 60 (only the descriptors' copy names it).
    putLe32(v, 34 * 1024 + 32 + 8, 60);
    std::memcpy(v.data() + 60 * 1024, v.data() + 5 * 1024 + 12 * 128, 12 * 128);
    {
        testing::MemoryReader reader(v);
        ExtView view(testing::on(reader, VolumeRecord{"extX", "", "0", "1", 0}));
        ASSERT_TRUE(view.parse({}, ParseMode::Standard));
        std::map<std::string, EntryId> top;
        for (EntryId e : view.topLevel()) top[view.name(e)] = e;
        EXPECT_TRUE(top.count("file.txt") && top.count("sub") && top.count("link"));
        EXPECT_EQ(view.details(top["link"]).target, "file.txt");
        EXPECT_NE(view.damageNote().find("copy in group 1"), std::string::npos) << view.damageNote();
    }
    std::fill_n(v.begin() + 34 * 1024, 1024, 0);
    testing::MemoryReader reader(v);
    ExtView view(testing::on(reader, VolumeRecord{"extX", "", "0", "1", 0}));
    EXPECT_FALSE(view.parse({}, ParseMode::Standard));
    EXPECT_NE(view.damageNote().find("damaged"), std::string::npos) << view.damageNote();
}

// Device nodes, FIFOs and sockets: listed, passed over by the save with a note, never read as block maps.
TEST(ExtEngine, DeviceNodesAreListedWithTheirKindAndSkippedWhenSaving) {
    ByteVector v = smallVolume();
    // inode 13 ("loop0") is a block device whose block area holds its device number; inodes 19..21 join it.
    const std::uint16_t modes[] = {0x2190, 0x11A4, 0xC1ED};
    const char* names[] = {"null", "pipe", "sock"};
    putLe16(v, 20 * 1024 + 80 + 4, 52);
    for (int i = 0; i < 3; ++i) {
        const std::size_t at = 5 * 1024 + (18 + i) * 128;
        putLe16(v, at, modes[i]);
        putLe16(v, at + 0x1A, 1);
        putLe32(v, at + 0x28, 0x0103);
        const std::size_t record = 20 * 1024 + 132 + i * 16;
        putRecord(v, record, 19 + i, i == 2 ? 1024 - 164 : 16, names[i], i == 0 ? 3 : i == 1 ? 5 : 6);
    }
    testing::MemoryReader reader(v);
    ExtView view(testing::on(reader, VolumeRecord{"extX", "", "0", "1", 0}));
    ASSERT_TRUE(view.parse({}, ParseMode::Standard));
    std::map<std::string, EntryId> top;
    for (EntryId e : view.topLevel()) top[view.name(e)] = e;
    ASSERT_TRUE(top.count("null") && top.count("pipe") && top.count("sock") && top.count("loop0"));
    EXPECT_EQ(view.details(top["null"]).special, SpecialKind::characterDevice);
    EXPECT_EQ(view.details(top["pipe"]).special, SpecialKind::fifo);
    EXPECT_EQ(view.details(top["sock"]).special, SpecialKind::socket);
    for (const char* name : {"null", "pipe", "sock", "loop0"}) {
        EXPECT_TRUE(view.skipWhenSaving(top[name])) << name;
        EXPECT_FALSE(view.openContent(top[name])->facts.refused.empty()) << name << ": read as a block map";
    }
    EXPECT_EQ(view.skipNote(top["pipe"]), "a FIFO, which has no content to save");
    EXPECT_TRUE(view.skipNote(top["file.txt"]).empty());
}

}  // namespace
}  // namespace halvard
