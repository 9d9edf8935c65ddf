// HFS+ structures and engine on synthetic bytes: node record tables and keys that point outside their node, and
// a small volume whose catalog lies in two pieces, whose file continues in the extents-overflow file, and whose
// free catalog node still holds a stale copy of a live record and a removed file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>

#include "browser/hfs_view.h"
#include "common/memory_tree.h"
#include "fs/hfsplus/hfs_format.h"
#include "support/ntfs_builder.h"
#include "support/put_bytes.h"
#include "support/view_exercise.h"

namespace halvard {
namespace {

using namespace hfs_format;
using namespace testing;  // the byte writers and their buffer type

constexpr std::uint32_t kBlock = 4096;


// A B-tree node: descriptor, records packed after it, offsets at the end.
class Node {
public:
    Node(std::int8_t kind, std::uint8_t height, std::uint32_t forwardLink = 0) : bytes_(kBlock, 0) {
        putBe32(bytes_, 0, forwardLink);
        bytes_[8] = static_cast<std::uint8_t>(kind);
        bytes_[9] = height;
    }
    void add(const ByteVector& record) {
        std::memcpy(bytes_.data() + next_, record.data(), record.size());
        offsets_.push_back(static_cast<std::uint16_t>(next_));
        next_ += record.size();
        putBe16(bytes_, 10, static_cast<std::uint16_t>(offsets_.size()));
        for (std::size_t i = 0; i < offsets_.size(); ++i) putBe16(bytes_, kBlock - 2 * (i + 1), offsets_[i]);
    }
    ByteVector& bytes() { return bytes_; }

private:
    ByteVector bytes_;
    std::vector<std::uint16_t> offsets_;
    std::size_t next_ = kNodeDescriptorSize;
};

ByteVector headerNode(std::uint32_t firstLeaf, std::uint32_t totalNodes) {
    Node node(kHeaderNode, 0);
    ByteVector record(106, 0);
    putBe32(record, 10, firstLeaf);
    putBe16(record, 18, kBlock);
    putBe32(record, 22, totalNodes);
    node.add(record);
    return node.bytes();
}

ByteVector catalogRecord(std::uint32_t parent, const std::string& name, std::uint16_t type, std::uint32_t id,
                         std::uint64_t size = 0, std::vector<Extent> extents = {}, std::uint32_t totalBlocks = 0,
                         std::uint32_t hardLinkTo = 0) {
    ByteVector r(8 + 2 * name.size(), 0);
    putBe16(r, 0, static_cast<std::uint16_t>(6 + 2 * name.size()));
    putBe32(r, 2, parent);
    putBe16(r, 6, static_cast<std::uint16_t>(name.size()));
    for (std::size_t i = 0; i < name.size(); ++i) putBe16(r, 8 + 2 * i, static_cast<std::uint8_t>(name[i]));
    ByteVector data(type == kFileRecord ? 248 : 88, 0);
    putBe16(data, 0, type);
    putBe32(data, 8, id);
    putBe32(data, 0x10, 3786912000u);  // 2024-01-01 00:00 UTC
    putBe16(data, 0x2A, 0x81A4);
    if (hardLinkTo != 0) {
        putBe32(data, 0x2C, hardLinkTo);
        putBe32(data, 0x30, 0x686C6E6B);  // "hlnk"
        putBe32(data, 0x34, 0x6866732B);  // "hfs+"
    }
    if (type == kFileRecord) {
        for (int i = 0; i < 8; ++i) data[0x58 + i] = static_cast<std::uint8_t>(size >> (56 - 8 * i));
        putBe32(data, 0x64, totalBlocks);
        for (std::size_t i = 0; i < extents.size(); ++i) {
            putBe32(data, 0x68 + 8 * i, extents[i].startBlock);
            putBe32(data, 0x6C + 8 * i, extents[i].blockCount);
        }
    }
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

ByteVector smallVolume() {
    ByteVector v(64 * kBlock, 0);
    auto place = [&](std::uint32_t block, const ByteVector& bytes) { std::memcpy(v.data() + block * kBlock, bytes.data(), bytes.size()); };
    ByteVector header(512, 0);
    putBe16(header, 0, 0x482B);
    putBe32(header, 0x28, kBlock);
    putBe32(header, 0x2C, 64);
    putBe32(header, 0xC0 + 12, 2);  // extents file: blocks 2..3
    putBe32(header, 0xD0, 2);
    putBe32(header, 0xD4, 2);
    putBe32(header, 0x110 + 12, 3);  // catalog file: block 10, then blocks 20..21
    putBe32(header, 0x120, 10);
    putBe32(header, 0x124, 1);
    putBe32(header, 0x128, 20);
    putBe32(header, 0x12C, 2);
    std::memcpy(v.data() + 1024, header.data(), header.size());

    place(2, headerNode(1, 2));
    Node overflow(kLeafNode, 1);
    ByteVector record(12 + 64, 0);
    putBe16(record, 0, 10);
    putBe32(record, 4, 21);  // file 21's data fork from its block 1 on
    putBe32(record, 8, 1);
    putBe32(record, 12, 40);
    putBe32(record, 16, 1);
    overflow.add(record);
    place(3, overflow.bytes());

    place(10, headerNode(1, 3));
    Node live(kLeafNode, 1);
    live.add(catalogRecord(1, "vol", kFolderRecord, 2));
    live.add(catalogRecord(2, "dir", kFolderRecord, 16));
    live.add(catalogRecord(16, "f.txt", kFileRecord, 21, 5000, {{30, 1}}, 2));
    live.add(catalogRecord(2, std::string(kPrivateDataFolder), kFolderRecord, 17));
    live.add(catalogRecord(17, "iNode24", kFileRecord, 24, 3, {{31, 1}}, 1));
    live.add(catalogRecord(16, "link.txt", kFileRecord, 25, 0, {}, 0, 24));
    place(20, live.bytes());
    Node stale(kLeafNode, 1);  // a free node: not in the leaf chain
    stale.add(catalogRecord(16, "stale.txt", kFileRecord, 21, 10, {{50, 1}}, 1));
    stale.add(catalogRecord(16, "gone.txt", kFileRecord, 22, 3, {{31, 1}}, 1));
    stale.add(catalogRecord(99, "lost.txt", kFileRecord, 23, 3, {{31, 1}}, 1));
    place(21, stale.bytes());

    std::memset(v.data() + 30 * kBlock, 'a', kBlock);
    std::memset(v.data() + 40 * kBlock, 'b', kBlock);
    std::memset(v.data() + 31 * kBlock, 'c', kBlock);
    return v;
}

TEST(HfsNode, RecordOffsetsAndKeysOutsideTheNodeEndTheWalk) {
    Node node(kLeafNode, 1);
    node.add(catalogRecord(2, "a", kFolderRecord, 16));
    node.add(catalogRecord(2, "b", kFolderRecord, 17));
    ByteVector& bytes = node.bytes();
    EXPECT_EQ(recordOffsets(bytes, 2).size(), 2u);
    putBe16(bytes, kBlock - 2, kBlock - 2);  // into the offset table
    EXPECT_TRUE(recordOffsets(bytes, 2).empty());
    EXPECT_TRUE(recordOffsets(bytes, 0xFFFF).empty());  // a table larger than the node

    ByteVector record = catalogRecord(2, "a", kFolderRecord, 16);
    ByteVector tail(kBlock - 20, 0);
    tail.insert(tail.end(), record.begin(), record.begin() + 20);  // the record's data would leave the node
    EXPECT_FALSE(readCatalogRecord(tail, kBlock - 20));
    putBe16(record, 0, 0xFFF0);  // key length that does not match the name
    EXPECT_FALSE(readCatalogRecord(record, 0));
}

TEST(HfsEngine, ReadsASplitCatalogOverflowExtentsAndKeepsLiveRecordsFirst) {
    testing::MemoryReader reader(smallVolume());
    VolumeRecord record{"HFS+", "", "0", "1", 0};
    HfsView view(testing::on(reader, record));
    MemoryTree tree;
    ParseContext context;
    context.tree = &tree;
    ASSERT_TRUE(view.parse(context, ParseMode::Standard));
    // The top item holds the first level; folders with children carry the placeholder.
    const TreeItemId topItem = tree.firstChild(kNoTreeItem);
    EXPECT_EQ(tree.itemText(topItem), "ROOT");
    const TreeItemId dirItem = tree.firstChild(topItem);
    EXPECT_EQ(tree.itemText(dirItem), "dir");
    EXPECT_EQ(tree.itemText(tree.firstChild(dirItem)), kPlaceholderText);

    std::map<std::string, EntryId> top;
    for (EntryId e : view.topLevel()) top[view.name(e)] = e;
    ASSERT_EQ(top.size(), 3u);  // dir, the private data folder, and ORPHAN_ENTRY with the file whose folder is gone
    ASSERT_TRUE(top.count("dir") && top.count("ORPHAN_ENTRY"));
    std::map<std::string, EntryId> inDir;
    for (EntryId e : view.children(top["dir"])) inDir[view.name(e)] = e;
    ASSERT_EQ(inDir.size(), 3u);
    EXPECT_FALSE(view.isDeleted(inDir["f.txt"]));
    EXPECT_TRUE(view.isDeleted(inDir["gone.txt"]));
    EXPECT_EQ(view.details(inDir["f.txt"]).size, 5000u);

    const auto path = (std::filesystem::temp_directory_path() / "halvard_hfs_test_file.txt").string();
    const FileSaveResult saved = view.saveFile(inDir["f.txt"], path);
    EXPECT_TRUE(saved.written);
    EXPECT_FALSE(saved.damaged);
    std::ifstream in(path, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content, std::string(kBlock, 'a') + std::string(5000 - kBlock, 'b'));
    EXPECT_EQ(testing::contentMismatch(view, inDir["f.txt"], path, false), "");

    // A hard link shows and saves its inode file's content.
    EXPECT_EQ(view.details(inDir["link.txt"]).size, 3u);
    const auto linkPath = path + ".link";
    EXPECT_TRUE(view.saveFile(inDir["link.txt"], linkPath).written);
    std::ifstream linkIn(linkPath, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(linkIn)), {}), "ccc");
    std::filesystem::remove(linkPath);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1704067200);  // the content-modify date, 2024-01-01 00:00 UTC
    std::filesystem::remove(path);

    // The scan finds the same leaf records without the B-tree.
    HfsView scanned(testing::on(reader, record));
    ASSERT_TRUE(scanned.parse({}, ParseMode::Deep));
    std::map<std::string, EntryId> scannedTop;
    for (EntryId e : scanned.topLevel()) scannedTop[scanned.name(e)] = e;
    EXPECT_TRUE(scannedTop.count("dir"));
}

TEST(HfsEngine, ABlockSizeThatIsNoPowerOfTwoAbortsTheParse) {
    ByteVector volume = smallVolume();
    putBe32(volume, 1024 + 0x28, 3000);
    testing::MemoryReader reader(volume);
    HfsView view(testing::on(reader, VolumeRecord{"HFS+", "", "0", "1", 0}));
    EXPECT_FALSE(view.parse({}, ParseMode::Standard));
    EXPECT_FALSE(view.parse({}, ParseMode::Deep));
}

TEST(HfsEngine, DamagedNodesNeverLeadOutsideTheirBuffers) {
    const ByteVector clean = smallVolume();
    const std::string folder = std::filesystem::temp_directory_path().string();
    std::uint32_t seed = 7;
    // The volume header and the nodes of both B-trees.
    const std::vector<std::pair<std::size_t, std::size_t>> areas = {
        {1024, 512}, {2 * kBlock, 2 * kBlock}, {10 * kBlock, kBlock}, {20 * kBlock, 2 * kBlock}};
    for (int round = 0; round < 300; ++round) {
        ByteVector damaged = clean;
        for (int i = 0; i < 24; ++i) {
            seed = seed * 1103515245 + 12345;
            const auto& [start, length] = areas[(seed >> 4) % areas.size()];
            damaged[start + (seed >> 8) % length] = static_cast<std::uint8_t>(seed >> 24);
        }
        testing::MemoryReader reader(damaged);
        for (ParseMode mode : {ParseMode::Standard, ParseMode::Deep}) {
            HfsView view(testing::on(reader, VolumeRecord{"HFS+", "", "0", "1", 0}));
            if (view.parse({}, mode)) testing::exerciseView(view, folder);
        }
    }
    std::filesystem::remove(std::filesystem::path(folder) / "saved");
}

}  // namespace
}  // namespace halvard
