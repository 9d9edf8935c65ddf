#pragma once
// The ext2/ext3 engine: finds the superblock, reads the group descriptors and every inode table, names inodes
// from the blocks of every directory, links them under a synthetic "ROOT" entry, fills the top of the browser's
// tree, gives each entry's list texts and writes a file's content to the host.
//
// Entries are keyed by their place in the entry list; ROOT is key 0 and the root directory's names are its
// children. Folders are walked from the root down, removed names (the slack of directory blocks) included, and the
// names below a removed folder whose inode still maps its blocks.
//
// Threads: the parse runs on one worker and inserts tree items only at its end; from then on the entry map does
// not change and openExtContent / the list texts may run on any thread (reads are serialised in the reader).
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/texts.h"
#include "fs/block_file.h"
#include "fs/volume_engine.h"
#include "fs/ext/ext_format.h"
#include "fs/ext/ext_journal.h"

namespace halvard {

// One name of the volume. A file with several names (hard links) has one entry per name, all with its inode.
struct ExtEntry {
    std::string name;
    std::uint32_t inode = 0;         // inode number; 0 for a removed name whose record lost it
    std::int64_t parent = -1;        // key of the folder entry holding the name
    std::uint16_t mode = 0;          // the inode's mode, or 0x4000 / 0x8000 / 0xA000 from a typed directory record
    std::uint16_t inodeMode = 0;     // the inode's own mode (permission letters); 0 when it does not describe the name
    std::uint64_t size = 0;
    std::uint32_t accessTime = 0, changeTime = 0, modifyTime = 0;
    bool removed = false;            // a removed name (directory slack), or a name below a removed folder
    bool inodeDescribes = false;     // the inode still describes this name's file (live, or removed and not reused)
    bool sizeKnown = true;           // false for a removed file whose inode was cleared and no earlier copy is known
    std::vector<std::uint32_t> children;

    bool isFolder() const { return (mode & 0xF000) == 0x4000; }
    bool isSymlink() const { return (mode & 0xF000) == 0xA000; }
    // What the tree shows as a file: regular files and symbolic links.
    bool isFile() const { return (mode & 0xF000) == 0x8000 || isSymlink(); }
    // Device nodes, FIFOs and sockets: listed, but their content is not on the volume.
    bool isSpecial() const {
        const std::uint16_t type = mode & 0xF000;
        return type == 0x2000 || type == 0x6000 || type == 0x1000 || type == 0xC000;
    }
};

// How much of a removed file can be saved: its blocks all free again, some, or none (or none known).
enum class ExtRecoverable { Yes, Partly, No };

inline constexpr std::uint32_t kExtRootKey = 0;

class ExtEngine : public VolumeEngine {
public:
    using VolumeEngine::VolumeEngine;

    // The parse, in this order (attachVolume first; the steps after readGroupDescriptors only when both reads
    // succeeded).
    bool readSuperblock();
    bool readGroupDescriptors();
    void collectInodes();
    // ext3/ext4: the journal's earlier copies of inodes, block maps and folder blocks, where the content and names
    // of removed files are found after the driver cleared them on the volume. Read only when a removed inode exists.
    void readJournal();
    void walkFolders();
    void fillRootEntries();

    // The entry's content, with its access and modification times. A symbolic link is saved as a link. A removed
    // file is read from those of its blocks that are free again.
    std::unique_ptr<FileContent> openExtContent(std::uint32_t key) const;
    // For removed files: whether their content can be saved.
    ExtRecoverable recoverable(std::uint32_t key) const;
    // The target of a symbolic link; empty for other entries.
    std::string linkTarget(std::uint32_t key) const;

    const ExtEntry* entry(std::int64_t key) const;
    // The children of an entry (folders, files, links, device nodes, FIFOs and sockets), in their folder's order.
    std::vector<std::uint32_t> childKeys(std::int64_t key) const;
    // "-OE" ... "-UR" of the inode's permission bits.
    static std::string permissionText(std::uint16_t mode);

    // What the parse found damaged and how it went on (or why it could not); empty when nothing.
    const std::string& damage() const { return damage_; }

    std::uint64_t blockSize() const { return blockSize_; }
    std::uint64_t groupCount() const { return groupCount_; }
    std::uint64_t superblockOffset() const { return superblockOffset_; }
    // Bytes by which the file system sits later than the volume record says (a superblock found elsewhere).
    std::uint64_t shift() const { return shift_; }
    TreeItemId rootItem() const { return rootItem_; }

private:
    // What the table scan keeps of each inode in use (a mode): a large, mostly empty volume costs little.
    struct InodeSummary {
        std::uint32_t number = 0;
        std::uint16_t mode = 0;
        bool removed = false;
        std::uint64_t size = 0;
        std::uint32_t accessTime = 0, changeTime = 0, modifyTime = 0;
    };
    // The inode that describes a removed file's content: the inode as it stands when it still maps its blocks, else
    // the newest journal copy in which it did.
    struct RemovedInode {
        ext_format::Inode inode;
        std::optional<std::uint32_t> journalOrder;  // the copy's transaction; none for the inode as it stands
    };
    // A removed file's blocks, split by the block bitmap.
    struct RemovedBlocks {
        BlockList free;
        bool someInUse = false;
        bool mapIncomplete = false;  // the inode counts more blocks than the map still names
        bool whole() const { return !someInUse && !mapIncomplete; }
    };

    bool readBlock(std::uint64_t block, std::vector<std::uint8_t>& buffer) const;
    // The descriptor table from `firstBlock` on (spread tables: their first blocks from there).
    bool readDescriptorTable(std::uint64_t firstBlock);
    // The table leads to a root folder in use.
    bool rootReadable() const;
    // Group 0's inode table lies inside the volume.
    bool firstTableInVolume() const;
    bool readBytes(std::uint64_t offset, std::vector<std::uint8_t>& buffer) const;
    bool blockInVolume(std::uint64_t block, std::uint64_t count = 1) const;
    bool readInode(std::uint32_t number, ext_format::Inode& inode) const;
    const InodeSummary* summary(std::uint32_t number) const;
    BlockList blocksOf(const ext_format::Inode& inode, std::uint64_t size, bool* incomplete = nullptr) const;
    std::optional<RemovedInode> removedInode(std::uint32_t number) const;
    std::optional<RemovedInode> journalInode(std::uint32_t number, const ext_format::Inode& now) const;
    // Reads the blocks of a removed file's map (indirect and extent-tree blocks) as they were at the copy's
    // transaction: the newest journal copy from then that still holds the map, else the block as it stands.
    ext_format::ReadBlock mapReader(std::optional<std::uint32_t> journalOrder) const;
    BlockList removedRuns(const RemovedInode& removed, std::uint64_t size, bool* incomplete = nullptr) const;
    RemovedBlocks removedBlocks(const ExtEntry& e) const;
    bool blockIsFree(std::uint64_t block, std::map<std::uint64_t, std::vector<std::uint8_t>>& bitmaps) const;
    // The block's content as it stands, then each of its journal copies, newest first, until `visit` says stop.
    void forEachVersion(std::uint64_t block, const std::function<bool(Bytes, bool logged)>& visit) const;
    BlockFile blockFile(const ExtEntry& e, BlockList runs) const;
    struct PendingRecord {
        std::size_t nameOffset = 0;
        std::size_t nameLength = 0;
        std::uint32_t inode = 0;
        std::uint8_t fileType = 0;
        bool removed = false;
    };
    void addFolderEntries(std::uint32_t folder, const std::vector<PendingRecord>& records, std::string_view names,
                          bool belowRemoved);
    // A new entry for a record of `folder`; false when the record names nothing the tree shows.
    bool addEntry(std::uint32_t folder, const ext_format::DirectoryRecord& record, bool belowRemoved);
    void walkFolder(std::uint32_t key, std::uint32_t inodeNumber, bool removed, unsigned depth);
    // Removed files whose content is known but whose names are gone, each named after its inode number.
    void addUnnamedRemovedFiles();
    // A stop ends the phase that sees it; the phases after it run on what was gathered (the page's flag stays
    // set, so later polls are not taken for a new request).
    bool pollStop();

    ext_format::Superblock super_;
    std::uint64_t superblockOffset_ = 0;
    std::uint64_t shift_ = 0;
    std::uint64_t blockSize_ = 0;
    std::uint64_t groupCount_ = 0;
    std::uint64_t inodeCount_ = 0;
    std::uint64_t inodesPerGroup_ = 0;
    std::uint64_t inodeSize_ = 0;
    std::uint64_t descriptorSize_ = 32;
    bool hasFileType_ = false;
    bool stopCleared_ = false;
    std::vector<std::uint8_t> descriptors_;
    std::string damage_;
    ext_format::Journal journal_;

    // In inode order.
    std::vector<InodeSummary> inodes_;
    // Folders already walked (a damaged volume can name one folder from many places, or from below itself).
    std::vector<bool> walkedFolders_;
    std::uint64_t walkedCount_ = 0;
    std::vector<ExtEntry> entries_;
    TreeItemId rootItem_ = kNoTreeItem;
};

}  // namespace halvard
