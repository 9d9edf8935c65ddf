#pragma once
// The ext2/ext3 engine: finds the superblock, reads the group descriptors and every inode table, names inodes
// from the blocks of every directory, links them under a synthetic "ROOT" entry, fills the top of the browser's
// tree, gives each entry's list texts and writes a file's content to the host.
//
// Entries are keyed by inode number - 1. ROOT takes key 2 (the key of inode 3, which no directory names), and the
// root directory's children name it as their parent.
//
// Threads: the parse runs on one worker and inserts tree items only at its end; from then on the entry map does
// not change and saveExtFile / the list texts may run on any thread (reads are serialised in the reader).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/texts.h"
#include "fs/block_file.h"
#include "fs/engine_wiring.h"
#include "fs/ext/ext_format.h"
#include "fs/volume_reader.h"

namespace halvard {

struct ExtEntry {
    std::string name;
    bool hasName = false;            // a directory named it
    std::uint32_t inodeIndex = 0;    // inode number - 1: the entry's key
    std::int32_t parentKey = -1;
    std::uint16_t mode = 0;          // the inode's mode, or 0x4000 / 0x8000 from a typed directory record
    std::uint16_t inodeMode = 0;     // the inode's own mode (permission letters)
    std::uint64_t size = 0;
    std::uint64_t tableBlock = 0;    // first block of the inode table of the inode's group
    std::uint32_t indexInGroup = 0;
    std::int32_t firstChild = -1;
    std::int32_t nextSibling = -1;
    std::uint32_t accessTime = 0, changeTime = 0, modifyTime = 0;

    bool isFolder() const { return (mode & 0xF000) == 0x4000; }
    // What the tree shows as a file: regular files and symbolic links.
    bool isFile() const { return (mode & 0xF000) == 0x8000 || (mode & 0xF000) == 0xA000; }
};

inline constexpr std::uint32_t kExtRootKey = 2;

class ext2Class : public EngineWiring {
public:
    ext2Class(readWriteInterface& reader, const VolumeRecord& volume);
    ext2Class(const ext2Class&) = delete;
    ext2Class& operator=(const ext2Class&) = delete;

    // The parse, in this order (the steps after readGroupDescriptors only when both reads succeeded).
    void attachVolume();
    bool readSuperblock();
    bool readGroupDescriptors();
    void collectInodes();
    void parseDirectories();
    void buildEntryMap();
    void linkParentChild();
    void fillRootEntries();

    // Writes the entry's content to exactly `hostPath` and sets its access and modification times.
    SaveOutcome saveExtFile(const std::string& hostPath, std::uint32_t key) const;

    const ExtEntry* entry(std::int64_t key) const;
    // The children of an entry along its child chain, folders and files only.
    std::vector<std::uint32_t> childKeys(std::int64_t key) const;
    // "-OE" ... "-UR" of the inode's permission bits.
    static std::string permissionText(std::uint16_t mode);

    std::uint64_t volumeSize() const { return volumeSize_; }
    std::uint64_t blockSize() const { return blockSize_; }
    std::uint64_t groupCount() const { return groupCount_; }
    std::uint64_t superblockOffset() const { return superblockOffset_; }
    // Bytes by which the file system sits later than the volume record says (a superblock found elsewhere).
    std::uint64_t shift() const { return shift_; }
    TreeItemId rootItem() const { return rootItem_; }

private:
    struct DirectoryInode {
        std::uint32_t key;
        ext_format::Inode inode;
    };

    bool readBlock(std::uint64_t block, std::vector<std::uint8_t>& buffer) const;
    bool readBytes(std::uint64_t offset, std::vector<std::uint8_t>& buffer) const;
    bool blockInVolume(std::uint64_t block, std::uint64_t count = 1) const;
    bool readInode(const ExtEntry& e, ext_format::Inode& inode) const;
    // The collected entry of a key, or a new one for a slot that a directory names although it is empty.
    ExtEntry& entryFor(std::uint32_t key);
    void walkDirectory(const DirectoryInode& dir);
    // A stop ends the phase that sees it; the phases after it run on what was gathered (the page's flag stays
    // set, so later polls are not taken for a new request).
    bool pollStop();

    VolumeReader reader_;
    std::uint64_t volumeSize_ = 0;
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

    // In inode order; only inodes in use (a mode) are kept, so a large, mostly empty volume costs little.
    std::vector<ExtEntry> inodeEntries_;
    // Inodes that a directory names although their slot is empty.
    std::map<std::uint32_t, ExtEntry> namedEmpty_;
    std::vector<DirectoryInode> directories_;
    // The named entries and ROOT, in key order: the engine's map from key to entry.
    std::vector<ExtEntry> entryMap_;
    // Position in the map of each key, when the keys are dense enough for a table (-1: no entry); else empty and
    // the map is searched.
    std::vector<std::int32_t> slotOfKey_;
    TreeItemId rootItem_ = kNoTreeItem;
};

}  // namespace halvard
