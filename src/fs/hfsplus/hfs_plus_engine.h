#pragma once
// The HFS+ engine: reads the volume header, the catalog B-tree's nodes (or, outside standard mode, finds catalog
// leaf nodes by scanning the whole volume), indexes the extents-overflow file, turns catalog folder and file
// records into entries keyed by catalog node ID, links them into a tree, fills the browser's tree, gives the list
// texts and writes a file's data fork to the host.
//
// The catalog and extents files are read through their fork extents (the catalog's overflow extents included),
// so a catalog in several pieces is read right; where the extents do not reach a node, it is read as if the file
// continued from its first extent. Records of the live leaf chain come first; records that only free or stale
// nodes still hold are kept as deleted entries when their ID has no live record.
//
// Threads: as for the ext engine; the maps do not change once tree items exist, and reads are serialised.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fs/block_file.h"
#include "fs/volume_engine.h"
#include "fs/hfsplus/hfs_format.h"

namespace halvard {

struct HfsEntry {
    std::uint16_t kind = 0;  // 1 folder, 2 file
    std::uint32_t parentId = 0;
    std::uint32_t id = 0;
    std::uint64_t nodePosition = 0;  // volume offset of the node holding the record, and its offset there
    std::uint16_t recordOffset = 0;
    std::string name;
    std::uint64_t logicalSize = 0;
    std::uint32_t totalBlocks = 0;
    std::vector<hfs_format::Extent> extents;  // of the data fork, without empty ones
    std::int64_t firstChild = -1;
    std::int64_t nextSibling = -1;
    std::uint32_t createDate = 0, contentModDate = 0, attributeModDate = 0, accessDate = 0;
    std::uint16_t fileMode = 0;
    std::uint32_t linkInode = 0;  // a hard link: the inode number of the file that holds its content
    bool deleted = false;  // only a free or stale node holds its record

    bool isFolder() const { return kind == hfs_format::kFolderRecord; }
};

// A catalog node to visit.
struct CatalogNode {
    std::uint64_t number = 0;
    std::uint64_t position = 0;  // volume offset
    std::int8_t kind = 0;
    std::uint8_t height = 0;
    std::uint16_t records = 0;
    std::uint32_t forwardLink = 0;
    std::vector<std::uint16_t> offsets;
};

class HfsPlusEngine : public VolumeEngine {
public:
    using VolumeEngine::VolumeEngine;

    // Inserts the volume's top item (when there is a tree).
    void insertTopItem();
    bool readVolumeHeader();
    // Standard mode: every node of the catalog file.
    bool readCatalogNodes();
    // Other modes: every node-sized slice of the volume that looks like a catalog leaf node.
    bool scanCatalogLeafNodes();
    // Non-fatal in scan mode, where the extents file may be what is damaged.
    bool indexExtentsOverflow();
    void readCatalogRecords();
    void linkCatalogEntries();
    void fillTopLevel();

    // The file's data fork, with its access and modification times.
    std::unique_ptr<FileContent> openForkContent(std::uint32_t id) const;

    const HfsEntry* entry(std::int64_t id) const;
    // The entry whose data fork holds a file's content: a hard link's inode file, else the file itself.
    const HfsEntry& contentOf(const HfsEntry& file) const;
    // The entries the tree's first level shows, in ID order.
    std::vector<std::uint32_t> topLevelIds() const;
    std::vector<std::uint32_t> childIds(std::int64_t id) const;
    static std::string permissionText(std::uint16_t mode);

    bool scanned() const { return scanned_; }
    std::uint32_t blockSize() const { return header_.blockSize; }
    std::uint64_t nodeSize() const { return nodeSize_; }
    std::int64_t orphanId() const { return orphanId_; }
    TreeItemId topItem() const { return topItem_; }
    const std::vector<CatalogNode>& catalogNodes() const { return catalogNodes_; }
    const std::map<std::uint32_t, HfsEntry>& entriesById() const { return entriesById_; }

private:
    using OverflowKey = std::pair<std::uint32_t, std::uint32_t>;  // file ID, first file block

    // The volume offset of byte `forkOffset` of a fork, and how many bytes from there lie back to back.
    struct Piece {
        std::uint64_t position = 0;
        std::uint64_t length = 0;
    };
    std::optional<Piece> locate(const std::vector<hfs_format::Extent>& extents, std::uint64_t forkOffset) const;
    bool readFork(const std::vector<hfs_format::Extent>& extents, std::uint64_t forkOffset, std::vector<std::uint8_t>& buffer) const;
    // The volume's size in blocks: the header's count, or the volume record's size when the header gives none.
    std::uint64_t volumeBlocks() const;
    // The fork's extents, followed by those of the extents-overflow file until `totalBlocks` are covered.
    std::vector<hfs_format::Extent> forkExtents(std::uint32_t fileId, const std::vector<hfs_format::Extent>& first,
                                                std::uint64_t totalBlocks) const;
    // Reads node 0 of a B-tree file: its header record. False when it is not a header node of a usable size.
    bool readHeaderNode(const std::vector<hfs_format::Extent>& extents, hfs_format::HeaderRecord& header,
                        std::vector<std::uint8_t>& node) const;
    std::uint64_t nodesToRead(const hfs_format::HeaderRecord& tree, std::uint64_t forkBlocks) const;
    // Reads nodes 1 .. total - 1 of a B-tree file, a chunk at a time, and hands each to `visit`.
    void forEachNode(const std::vector<hfs_format::Extent>& extents, std::uint64_t nodeSize, std::uint64_t total,
                     bool reportProgress, const std::function<void(std::uint64_t number, Bytes node)>& visit) const;
    // The inode files of hard links, by inode number, from the private data folder.
    void findLinkTargets();
    void takeRecords(const CatalogNode& node, Bytes bytes, bool live);
    bool pollStop() const;

    hfs_format::VolumeHeader header_;
    bool headerRead_ = false;
    std::uint64_t nodeSize_ = 0;
    std::uint32_t firstLeafNode_ = 0;
    bool scanned_ = false;
    std::vector<hfs_format::Extent> catalogExtents_;
    std::vector<CatalogNode> catalogNodes_;
    std::map<OverflowKey, hfs_format::ExtentRecord> overflow_;
    std::map<std::uint32_t, HfsEntry> entriesById_;
    std::int64_t orphanId_ = -1;
    std::map<std::uint32_t, std::uint32_t> linkTargets_;  // inode number -> ID of the file "iNode<number>"

    TreeItemId topItem_ = kNoTreeItem;
};

}  // namespace halvard
