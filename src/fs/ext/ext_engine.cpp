#include "fs/ext/ext_engine.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace halvard {

using namespace ext_format;

namespace {

// The superblock search reads this much at a time and tests every 512-byte step in memory.
constexpr std::uint64_t kSearchChunk = 1 << 20;
// A descriptor table larger than this belongs to a damaged superblock.
constexpr std::uint64_t kMaxDescriptorTable = 256ULL << 20;
constexpr std::uint64_t kTablePiece = 256 * 1024;
constexpr std::uint64_t kMaxReserved = 1 << 20;
// Removed files that no name (live, in slack or in the journal) leads to are listed in this folder of the root.
constexpr const char* kOrphanFolderName = "ORPHAN_ENTRY";
// Status and progress are sent this often in per-entry loops (each send waits for the page).
constexpr std::uint64_t kReportEvery = 256;

std::string formatted(const char* format, std::uint64_t a, std::uint64_t b) {
    char text[128];
    std::snprintf(text, sizeof text, format, static_cast<int>(a), static_cast<int>(b));
    return text;
}

}  // namespace

bool ExtEngine::readBytes(std::uint64_t offset, std::vector<std::uint8_t>& buffer) const {
    return reader_.read(offset, buffer);
}

bool ExtEngine::blockInVolume(std::uint64_t block, std::uint64_t count) const {
    return block < super_.blockCount && count <= super_.blockCount - block;
}

bool ExtEngine::readBlock(std::uint64_t block, std::vector<std::uint8_t>& buffer) const {
    buffer.assign(blockSize_, 0);
    // Block 0 holds the boot area and the superblock, never a block of a file.
    if (block == 0 || !blockInVolume(block)) return false;
    return readBytes(shift_ + block * blockSize_, buffer);
}

bool ExtEngine::readSuperblock() {
    if (volumeSize() <= 1536) return false;
    auto take = [this](const Superblock& candidate, std::uint64_t offset) {
        super_ = candidate;
        superblockOffset_ = offset;
        // A copy away from its place means the file system starts later than the volume record says.
        const std::uint64_t expected = super_.expectedOffset();
        shift_ = superblockOffset_ >= expected ? superblockOffset_ - expected : superblockOffset_ - kSuperblockOffset;
        blockSize_ = super_.blockSize();
        groupCount_ = super_.groupCount();
        inodesPerGroup_ = super_.inodesPerGroup;
        inodeSize_ = super_.inodeSize();
        descriptorSize_ = super_.descriptorSize();
        // Inode numbers are 32-bit, so a group count that large already holds them all (and the product below
        // could wrap).
        inodeCount_ = groupCount_ >= super_.inodeCount
                          ? super_.inodeCount
                          : std::min<std::uint64_t>(super_.inodeCount, groupCount_ * inodesPerGroup_);
        hasFileType_ = super_.hasFileType();
        return true;
    };
    // The superblock is nearly always in its place; the search below is for volumes whose start is off.
    std::vector<std::uint8_t> chunk(kSuperblockSize, 0);
    if (readBytes(kSuperblockOffset, chunk)) {
        const Superblock inPlace = Superblock::read(chunk);
        if (inPlace.usable()) return take(inPlace, kSuperblockOffset);
    }
    for (std::uint64_t start = kSuperblockOffset; start + 512 < volumeSize(); start += kSearchChunk) {
        if (pollStop()) return false;
        // One chunk plus the rest of the last copy that starts inside it.
        chunk.assign(std::min<std::uint64_t>(kSearchChunk + kSuperblockSize, volumeSize() - start), 0);
        readBytes(start, chunk);
        for (std::uint64_t at = 0; at < kSearchChunk && start + at + 512 < volumeSize(); at += 512) {
            const Superblock candidate = Superblock::read(slice(chunk, at, kSuperblockSize));
            if (candidate.usable()) return take(candidate, start + at);
        }
    }
    return false;
}

bool ExtEngine::readGroupDescriptors() {
    damage_.clear();
    if (blockSize_ == 0) return false;
    const std::uint64_t superBlock = (superblockOffset_ - shift_) / blockSize_;
    if (groupCount_ > kMaxDescriptorTable / descriptorSize_) return false;
    if (!readDescriptorTable(superBlock + 1)) return false;
    if (rootReadable()) return true;
    // A damaged table names no root folder, and the walk would find nothing: the copy that follows the
    // superblock of another group (1, or 0 when the superblock read is a copy) is tried, as e2fsck does.
    const bool primary = super_.blockGroupNumber == 0;
    const std::string what = primary ? "group descriptors" : "group descriptors after the superblock copy";
    const bool tableSound = firstTableInVolume();
    const std::uint64_t otherGroup = primary ? 1 : 0;
    if (!super_.hasMetaGroups() && otherGroup < groupCount_) {
        const std::uint64_t copyBlock = super_.firstDataBlock + otherGroup * super_.blocksPerGroup + 1;
        if (readDescriptorTable(copyBlock) && rootReadable()) {
            damage_ = "its " + what + " are damaged; their copy in group " + std::to_string(otherGroup) + " was read";
            return true;
        }
        readDescriptorTable(superBlock + 1);
    }
    // A sound table whose root inode is damaged still leads to the other inodes (removed files without names).
    if (tableSound) {
        damage_ = "its root folder's inode is damaged: the folders cannot be walked";
        return true;
    }
    damage_ = "its " + what + " are damaged, and so is any copy of them (they name no inode table)";
    return false;
}

bool ExtEngine::firstTableInVolume() const {
    const GroupDescriptor group = GroupDescriptor::read(slice(descriptors_, 0, descriptorSize_), descriptorSize_);
    const std::uint64_t tableBlocks = (inodesPerGroup_ * inodeSize_ + blockSize_ - 1) / blockSize_;
    return group.inodeTable != 0 && blockInVolume(group.inodeTable, tableBlocks);
}

bool ExtEngine::readDescriptorTable(std::uint64_t firstBlock) {
    std::uint64_t length = groupCount_ * descriptorSize_;
    if (length % blockSize_ != 0) length = (length + 511) / 512 * 512;
    descriptors_.assign(length, 0);
    if (!super_.hasMetaGroups()) return readBytes(shift_ + firstBlock * blockSize_, descriptors_);
    // Spread descriptors: the first blocks follow the superblock, each later one sits at the start of the group it
    // describes first (after that group's superblock copy).
    const std::uint64_t perBlock = blockSize_ / descriptorSize_;
    std::vector<std::uint8_t> block;
    bool ok = true;
    for (std::uint64_t i = 0; i * perBlock < groupCount_; ++i) {
        std::uint64_t at = firstBlock + i;
        if (i >= super_.firstMetaGroup) {
            const std::uint64_t group = i * perBlock;
            at = super_.firstDataBlock + group * super_.blocksPerGroup + (super_.groupHasSuperblock(group) ? 1 : 0);
        }
        const bool read = readBlock(at, block);
        ok = ok && read;
        const std::uint64_t offset = i * blockSize_;
        std::copy_n(block.begin(), std::min<std::uint64_t>(blockSize_, descriptors_.size() - offset),
                    descriptors_.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    return ok;
}

bool ExtEngine::rootReadable() const {
    Inode root;
    return readInode(2, root) && root.isDirectory() && root.linkCount != 0;
}

void ExtEngine::collectInodes() {
    reporting.setRange(0, static_cast<std::uint32_t>(groupCount_));
    inodes_.clear();
    // Room for the inodes in use, as the superblock counts them (a damaged count only up to a bound).
    inodes_.reserve(std::min<std::uint64_t>(inodeCount_ - std::min<std::uint64_t>(super_.freeInodeCount, inodeCount_),
                                            kMaxReserved));
    // A table is read a piece at a time into one small buffer that stays in the cache.
    const std::uint64_t perPiece = std::max<std::uint64_t>(kTablePiece / inodeSize_, 1);
    std::vector<std::uint8_t> table;
    std::uint64_t base = 0;  // inode index of the group's first slot
    for (std::uint64_t g = 0; g < groupCount_ && base < inodeCount_; ++g, base += inodesPerGroup_) {
        if (pollStop()) break;
        reporting.setStatus(formatted("parsing group %d  of %d ", g + 1, groupCount_));
        reporting.setPosition(static_cast<std::uint32_t>(g + 1));
        const GroupDescriptor group =
            GroupDescriptor::read(slice(descriptors_, g * descriptorSize_, descriptorSize_), descriptorSize_);
        const std::uint64_t tableBlock = group.inodeTable;
        const std::uint64_t slots = group.usableSlots(inodesPerGroup_, super_.hasGroupChecksums());
        const std::uint64_t tableBlocks = (inodesPerGroup_ * inodeSize_ + blockSize_ - 1) / blockSize_;
        if (tableBlock == 0 || !blockInVolume(tableBlock, tableBlocks)) continue;
        for (std::uint64_t i = 0; i < slots && base + i < inodeCount_; ++i) {
            if (i % perPiece == 0) {
                // Unreadable parts read as zeros, which are empty slots.
                table.resize(std::min(perPiece, slots - i) * inodeSize_);
                readBytes(shift_ + tableBlock * blockSize_ + i * inodeSize_, table);
            }
            const Inode inode = Inode::read(slice(table, (i % perPiece) * inodeSize_, inodeSize_));
            if (inode.mode == 0) continue;
            InodeSummary e;
            e.number = static_cast<std::uint32_t>(base + i + 1);
            e.mode = inode.mode;
            e.removed = inode.isRemoved();
            e.size = inode.size;
            e.accessTime = inode.accessTime;
            e.changeTime = inode.changeTime;
            e.modifyTime = inode.modifyTime;
            inodes_.push_back(e);
        }
    }
}

bool ExtEngine::pollStop() {
    if (stopCleared_ || !stop.stopNow()) return false;
    stopCleared_ = true;
    return true;
}

const ExtEngine::InodeSummary* ExtEngine::summary(std::uint32_t number) const {
    const auto it = std::lower_bound(inodes_.begin(), inodes_.end(), number,
                                     [](const InodeSummary& e, std::uint32_t n) { return e.number < n; });
    return it != inodes_.end() && it->number == number ? &*it : nullptr;
}

BlockList ExtEngine::blocksOf(const Inode& inode, std::uint64_t size, bool* incomplete) const {
    const std::uint64_t wantBlocks = size / blockSize_ + (size % blockSize_ != 0);
    return blocksOfInode(
        inode, blockSize_, wantBlocks,
        [this](std::uint64_t b, std::vector<std::uint8_t>& buf) { return readBlock(b, buf); }, incomplete);
}

bool ExtEngine::addEntry(std::uint32_t folder, const DirectoryRecord& record, bool belowRemoved) {
    if (record.name == "." || record.name == "..") return false;
    ExtEntry e;
    e.name = record.name;
    e.inode = record.inode;
    e.parent = folder;
    e.removed = record.removed || belowRemoved;
    // The record's own type, where the volume keeps one: what a removed name was even when its inode is reused.
    static constexpr std::uint16_t kTypeModes[8] = {0, 0x8000, 0x4000, 0x2000, 0x6000, 0x1000, 0xC000, 0xA000};
    const std::uint16_t recordMode = hasFileType_ && record.fileType < 8 ? kTypeModes[record.fileType] : 0;
    const InodeSummary* inode = record.inode >= 1 && record.inode <= inodeCount_ ? summary(record.inode) : nullptr;
    // A removed name keeps its inode's facts only while that inode is still removed and of the name's type; a
    // reused inode belongs to another file.
    e.inodeDescribes = inode && (!e.removed || (inode->removed && (recordMode == 0 || (inode->mode & 0xF000) == recordMode)));
    if (e.inodeDescribes) {
        e.mode = e.inodeMode = inode->mode;
        e.size = inode->size;
        e.accessTime = inode->accessTime;
        e.changeTime = inode->changeTime;
        e.modifyTime = inode->modifyTime;
        if (e.removed) {
            // The driver clears a removed file's size with its map: both come from where the map is still known.
            if (const std::optional<RemovedInode> earlier = removedInode(record.inode)) {
                e.size = earlier->inode.size;
                e.accessTime = earlier->inode.accessTime;
                e.modifyTime = earlier->inode.modifyTime;
            } else {
                e.sizeKnown = e.size != 0;
            }
        }
    } else {
        e.mode = recordMode != 0 ? recordMode : (e.removed ? 0x8000 : 0);
    }
    if (!e.isFolder() && !e.isFile() && !e.isSpecial()) return false;
    if (entries_.size() >= 0xFFFFFFFFu) return false;
    entries_[folder].children.push_back(static_cast<std::uint32_t>(entries_.size()));
    entries_.push_back(std::move(e));
    return true;
}

void ExtEngine::addFolderEntries(std::uint32_t folder, const std::vector<PendingRecord>& records,
                                 std::string_view names, bool belowRemoved) {
    auto nameOf = [&](const PendingRecord& r) { return names.substr(r.nameOffset, r.nameLength); };
    // Splitting a block of an indexed folder leaves copies of the moved records in its slack, and one removed
    // record can be seen twice: a removed record is listed once, and not when it names what a live one names.
    const bool anyRemoved = std::any_of(records.begin(), records.end(), [](const PendingRecord& r) { return r.removed; });
    std::set<std::pair<std::string_view, std::uint32_t>> seen;
    if (anyRemoved) {
        for (const PendingRecord& r : records)
            if (!r.removed) seen.insert({nameOf(r), r.inode});
    }
    DirectoryRecord record;
    for (const PendingRecord& r : records) {
        if (r.removed && !seen.insert({nameOf(r), r.inode}).second) continue;
        record.name = nameOf(r);
        record.inode = r.inode;
        record.fileType = r.fileType;
        record.removed = r.removed;
        addEntry(folder, record, belowRemoved);
    }
}

void ExtEngine::walkFolder(std::uint32_t key, std::uint32_t inodeNumber, bool removed, unsigned depth) {
    // Every folder is walked once; a tree deeper than any real one is a loop in a damaged volume.
    if (inodeNumber == 0 || inodeNumber > inodeCount_ || walkedFolders_[inodeNumber] || depth > 4096) return;
    walkedFolders_[inodeNumber] = true;
    if (pollStop()) return;
    if (walkedCount_++ % kReportEvery == 0) {
        reporting.setStatus(formatted("parsing inode entry %d  of %d ", inodeNumber, inodeCount_));
        reporting.setPosition(static_cast<std::uint32_t>(inodeNumber));
    }
    // A removed folder's blocks are known through an earlier copy of its inode when the driver cleared the map.
    Inode inode;
    BlockList runs;
    if (!readInode(inodeNumber, inode) || !inode.isDirectory()) return;
    if (removed && !inode.mapsBlocks(blockSize_)) {
        const std::optional<RemovedInode> earlier = removedInode(inodeNumber);
        if (!earlier) return;
        inode = earlier->inode;
        runs = removedRuns(*earlier, inode.size);
    } else {
        runs = blocksOf(inode, inode.size);
    }
    const bool indexed = (inode.flags & kInodeFlagIndexed) != 0;
    std::vector<PendingRecord> records;
    std::string names;  // the names of `records`, one after another
    const auto addRecord = [&](const DirectoryRecord& r, bool logged) {
        records.push_back({names.size(), r.name.size(), r.inode, r.fileType, r.removed || logged});
        names.append(r.name);
    };
    if (inode.hasInlineData()) {
        // A small folder inside its inode: the parent's number, then records in the rest of the block area and
        // in the attribute's value, each area on its own.
        const Bytes data = inode.inlineData;
        for (const Bytes area : {slice(data, 4, kBlockArea - 4), data.subspan(std::min(data.size(), kBlockArea))})
            walkDirectoryBlock(
                area, hasFileType_, inodeCount_, [&](const DirectoryRecord& r) { addRecord(r, false); }, true);
    }
    for (const BlockRun& run : runs) {
        for (std::uint64_t k = 0; k < run.count; ++k) {
            if (run.unwritten) continue;
            // Earlier versions of the block in the journal still hold the names the driver blanked since.
            forEachVersion(run.physical + k, [&](Bytes block, bool logged) {
                walkDirectoryBlock(
                    block, hasFileType_, inodeCount_, [&](const DirectoryRecord& r) { addRecord(r, logged); }, true,
                    indexed && run.logical + k == 0);
                return true;
            });
        }
    }
    addFolderEntries(key, records, names, removed);
    // The sub-folders after the whole folder: the entry list grows under the walk.
    const std::vector<std::uint32_t> children = entries_[key].children;
    for (std::uint32_t child : children) {
        const ExtEntry& e = entries_[child];
        // A removed folder is walked through its own inode only while that inode still describes it.
        if (e.isFolder() && e.inodeDescribes) walkFolder(child, e.inode, e.removed, depth + 1);
    }
}

void ExtEngine::walkFolders() {
    reporting.setRange(0, static_cast<std::uint32_t>(inodeCount_));
    entries_.clear();
    ExtEntry root;
    root.name = rootName;
    root.inode = 2;
    root.mode = root.inodeMode = 0x4000;
    root.inodeDescribes = true;
    entries_.push_back(std::move(root));
    // Most names are of inodes in use: room for them saves moving the list as it grows.
    entries_.reserve(std::min<std::uint64_t>(inodes_.size() + 64, kMaxReserved));
    walkedFolders_.assign(inodeCount_ + 1, false);
    walkedCount_ = 0;
    walkFolder(kExtRootKey, 2, false, 0);
    walkedFolders_ = {};
    addUnnamedRemovedFiles();
    inodes_ = {};
    reporting.setStatus(formatted("parsed inode entry %d  of %d ", inodeCount_, inodeCount_));
    reporting.setPosition(static_cast<std::uint32_t>(inodeCount_));
}

void ExtEngine::addUnnamedRemovedFiles() {
    if (stopCleared_) return;
    std::vector<bool> named(inodeCount_ + 1, false);
    for (const ExtEntry& e : entries_)
        if (e.inode <= inodeCount_) named[e.inode] = true;
    std::uint32_t folder = 0;
    for (const InodeSummary& s : inodes_) {
        if (!s.removed || named[s.number] || (s.mode & 0xF000) != 0x8000) continue;
        // Only files whose content is still described: a cleared inode on its own says nothing worth listing.
        const std::optional<RemovedInode> removed = removedInode(s.number);
        if (!removed || removed->inode.size == 0 || entries_.size() >= 0xFFFFFFFEu) continue;
        if (folder == 0) {
            ExtEntry orphans;
            orphans.name = kOrphanFolderName;
            orphans.parent = kExtRootKey;
            orphans.mode = 0x4000;
            orphans.removed = true;
            folder = static_cast<std::uint32_t>(entries_.size());
            entries_[kExtRootKey].children.push_back(folder);
            entries_.push_back(std::move(orphans));
        }
        ExtEntry e;
        e.name = "inode_" + std::to_string(s.number);
        e.inode = s.number;
        e.parent = folder;
        e.mode = e.inodeMode = s.mode;
        e.size = removed->inode.size;
        e.accessTime = removed->inode.accessTime;
        e.changeTime = s.changeTime;
        e.modifyTime = removed->inode.modifyTime;
        e.removed = true;
        e.inodeDescribes = true;
        entries_[folder].children.push_back(static_cast<std::uint32_t>(entries_.size()));
        entries_.push_back(std::move(e));
    }
}

void ExtEngine::fillRootEntries() {
    reporting.setStatus("filling root entries in  tree....");
    if (!treeControl) return;
    rootItem_ = treeControl->insertItem(kNoTreeItem, rootName, TreeIcon::Root);
    for (std::uint32_t key : childKeys(kExtRootKey)) {
        const ExtEntry& e = *entry(key);
        treeControl->insertItem(rootItem_, e.name, e.isFolder() ? TreeIcon::Folder : TreeIcon::File,
                                e.removed ? TreeColour::Deleted : TreeColour::Normal, key);
    }
    treeControl->expandItem(rootItem_);
}

const ExtEntry* ExtEngine::entry(std::int64_t key) const {
    if (key < 0 || static_cast<std::uint64_t>(key) >= entries_.size()) return nullptr;
    return &entries_[static_cast<std::size_t>(key)];
}

std::vector<std::uint32_t> ExtEngine::childKeys(std::int64_t key) const {
    const ExtEntry* parent = entry(key);
    return parent ? parent->children : std::vector<std::uint32_t>{};
}

std::string ExtEngine::permissionText(std::uint16_t mode) {
    static const std::vector<AttributeCode> codes = {
        {0x0001, "-OE"}, {0x0002, "-OW"}, {0x0004, "-OR"}, {0x0008, "-GE"}, {0x0010, "-GW"},
        {0x0020, "-GR"}, {0x0040, "-UE"}, {0x0080, "-UW"}, {0x0100, "-UR"}};
    return attributeText(mode, codes);
}

bool ExtEngine::readInode(std::uint32_t number, Inode& inode) const {
    inode = Inode{};
    if (number == 0 || number > inodeCount_ || inodeSize_ == 0) return false;
    const std::uint64_t group = (number - 1) / inodesPerGroup_, index = (number - 1) % inodesPerGroup_;
    if (group >= groupCount_) return false;
    const GroupDescriptor descriptor =
        GroupDescriptor::read(slice(descriptors_, group * descriptorSize_, descriptorSize_), descriptorSize_);
    const std::uint64_t tableBlock = descriptor.inodeTable + index * inodeSize_ / blockSize_;
    if (descriptor.inodeTable == 0 || !blockInVolume(tableBlock)) return false;
    std::vector<std::uint8_t> buffer(inodeSize_, 0);
    const bool ok = readBytes(shift_ + descriptor.inodeTable * blockSize_ + index * inodeSize_, buffer);
    inode = Inode::read(buffer);
    return ok;
}

std::string ExtEngine::linkTarget(std::uint32_t key) const {
    const ExtEntry* e = entry(key);
    Inode inode;
    if (!e || !e->isSymlink() || !e->inodeDescribes || !readInode(e->inode, inode) || !inode.isSymlink()) return {};
    if (inode.isFastSymlink(blockSize_)) return std::string(inode.blocks.begin(), inode.blocks.begin() + inode.size);
    if (inode.hasInlineData()) return inode.inlineContent();
    // A longer target sits in the link's first block; no target is longer than a block.
    const BlockList runs = blocksOf(inode, std::min<std::uint64_t>(inode.size, blockSize_));
    std::vector<std::uint8_t> block;
    if (runs.empty() || runs.front().logical != 0 || runs.front().unwritten || !readBlock(runs.front().physical, block))
        return {};
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(inode.size, block.size()));
    return std::string(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(length));
}

BlockFile ExtEngine::blockFile(const ExtEntry& e, BlockList runs) const {
    BlockFile file;
    file.blockSize = blockSize_;
    file.firstBlockOffset = shift_;
    file.size = e.size;
    file.volumeBlocks = super_.blockCount;
    file.runs = std::move(runs);
    return file;
}

std::unique_ptr<FileContent> ExtEngine::openExtContent(std::uint32_t key) const {
    const ExtEntry* e = entry(key);
    if (!e || key == kExtRootKey) return refusedContent("inode not readable");
    // The change time cannot be set on a host file; access and modification times are.
    ContentFacts facts;
    facts.accessed = ContentTime{e->accessTime, 0};
    facts.modified = ContentTime{e->modifyTime, 0};
    if (e->removed) {
        if (!e->inodeDescribes) return unrecoverableContent("not recoverable: its inode now belongs to another file");
        if (!e->sizeKnown) return unrecoverableContent("not recoverable: its blocks are not known");
        if (e->size == 0) return memoryContent({}, std::move(facts));
        RemovedBlocks blocks = removedBlocks(*e);
        if (blocks.free.empty()) return unrecoverableContent("not recoverable: its blocks are not known");
        // Blocks in use again by other files, or no longer named by the map, are left as zeros.
        facts.damaged = !blocks.whole();
        return blockFileContent(reader_, blockFile(*e, std::move(blocks.free)), std::move(facts));
    }
    if (e->isSpecial()) return refusedContent("no content: not a regular file");
    Inode inode;
    if (!readInode(e->inode, inode)) return refusedContent("inode not readable");
    if (inode.isSymlink()) {
        facts.symlinkTarget = linkTarget(key);
        if (facts.symlinkTarget.empty()) return refusedContent("link target not readable");
        const std::string& target = facts.symlinkTarget;
        return memoryContent({target.begin(), target.end()}, std::move(facts));
    }
    if (inode.hasInlineData()) {
        // Content kept in the inode; a size beyond what it holds is a damaged inode, cut to what is there.
        const std::string content = inode.inlineContent();
        facts.damaged = content.size() < e->size;
        return memoryContent({content.begin(), content.end()}, std::move(facts));
    }
    // Blocks an unreadable or damaged part of the map would have named are zeros, and the file is damaged.
    bool incomplete = false;
    BlockList runs = blocksOf(inode, e->size, &incomplete);
    facts.damaged = incomplete;
    return blockFileContent(reader_, blockFile(*e, std::move(runs)), std::move(facts));
}

}  // namespace halvard
