#include "fs/ext/ext2.h"

#include <algorithm>
#include <cstdio>

namespace halvard {

using namespace ext_format;

namespace {

// The superblock search reads this much at a time and tests every 512-byte step in memory.
constexpr std::uint64_t kSearchChunk = 1 << 20;
// A descriptor table larger than this belongs to a damaged superblock.
constexpr std::uint64_t kMaxDescriptorTable = 256ULL << 20;
constexpr std::uint64_t kTablePiece = 256 * 1024;
constexpr std::uint64_t kMaxReserved = 1 << 20;
// Status and progress are sent this often in per-entry loops (each send waits for the page).
constexpr std::uint64_t kReportEvery = 256;

std::string formatted(const char* format, std::uint64_t a, std::uint64_t b) {
    char text[128];
    std::snprintf(text, sizeof text, format, static_cast<int>(a), static_cast<int>(b));
    return text;
}

}  // namespace

ext2Class::ext2Class(readWriteInterface& reader, const VolumeRecord& volume)
    : reader_(reader, volume), volumeSize_(volumeSizeBytes(volume)) {}

void ext2Class::attachVolume() { reader_.attach(); }

bool ext2Class::readBytes(std::uint64_t offset, std::vector<std::uint8_t>& buffer) const {
    return reader_.read(offset, buffer);
}

bool ext2Class::blockInVolume(std::uint64_t block, std::uint64_t count) const {
    return block < super_.blockCount && count <= super_.blockCount - block;
}

bool ext2Class::readBlock(std::uint64_t block, std::vector<std::uint8_t>& buffer) const {
    buffer.assign(blockSize_, 0);
    // Block 0 holds the boot area and the superblock, never a block of a file.
    if (block == 0 || !blockInVolume(block)) return false;
    return readBytes(shift_ + block * blockSize_, buffer);
}

bool ext2Class::readSuperblock() {
    if (volumeSize_ <= 1536) return false;
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
    for (std::uint64_t start = kSuperblockOffset; start + 512 < volumeSize_; start += kSearchChunk) {
        if (pollStop()) return false;
        // One chunk plus the rest of the last copy that starts inside it.
        chunk.assign(std::min<std::uint64_t>(kSearchChunk + kSuperblockSize, volumeSize_ - start), 0);
        readBytes(start, chunk);
        for (std::uint64_t at = 0; at < kSearchChunk && start + at + 512 < volumeSize_; at += 512) {
            const Superblock candidate = Superblock::read(slice(chunk, at, kSuperblockSize));
            if (candidate.usable()) return take(candidate, start + at);
        }
    }
    return false;
}

bool ext2Class::readGroupDescriptors() {
    if (blockSize_ == 0) return false;
    const std::uint64_t superBlock = (superblockOffset_ - shift_) / blockSize_;
    if (groupCount_ > kMaxDescriptorTable / descriptorSize_) return false;
    std::uint64_t length = groupCount_ * descriptorSize_;
    if (length % blockSize_ != 0) length = (length + 511) / 512 * 512;
    descriptors_.assign(length, 0);
    return readBytes(shift_ + (superBlock + 1) * blockSize_, descriptors_);
}

void ext2Class::collectInodes() {
    reporting.setRange(0, static_cast<std::uint32_t>(groupCount_));
    inodeEntries_.clear();
    directories_.clear();
    // Room for the inodes in use, as the superblock counts them (a damaged count only up to a bound).
    inodeEntries_.reserve(std::min<std::uint64_t>(inodeCount_ - std::min<std::uint64_t>(super_.freeInodeCount, inodeCount_),
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
            ExtEntry e;
            e.inodeIndex = static_cast<std::uint32_t>(base + i);
            e.mode = e.inodeMode = inode.mode;
            e.size = inode.size;
            e.tableBlock = tableBlock;
            e.indexInGroup = static_cast<std::uint32_t>(i);
            e.accessTime = inode.accessTime;
            e.changeTime = inode.changeTime;
            e.modifyTime = inode.modifyTime;
            inodeEntries_.push_back(std::move(e));
            if (inode.isDirectory() && inode.firstBlockPointer() != 0)
                directories_.push_back({static_cast<std::uint32_t>(base + i), inode});
        }
    }
}

bool ext2Class::pollStop() {
    if (stopCleared_ || !stop.stopNow()) return false;
    stopCleared_ = true;
    return true;
}

ExtEntry& ext2Class::entryFor(std::uint32_t key) {
    const auto it = std::lower_bound(inodeEntries_.begin(), inodeEntries_.end(), key,
                                     [](const ExtEntry& e, std::uint32_t k) { return e.inodeIndex < k; });
    if (it != inodeEntries_.end() && it->inodeIndex == key) return *it;
    ExtEntry& e = namedEmpty_[key];
    e.inodeIndex = key;
    return e;
}

void ext2Class::walkDirectory(const DirectoryInode& dir) {
    // Children hang under their directory; the root directory's under ROOT.
    const bool isRoot = dir.key + 1 == 2;
    std::int64_t currentParent = isRoot ? kExtRootKey : dir.key;
    const std::uint64_t wantBlocks = (dir.inode.size + blockSize_ - 1) / blockSize_;
    const BlockList runs = blocksOfInode(dir.inode, blockSize_, wantBlocks,
                                         [this](std::uint64_t b, std::vector<std::uint8_t>& buf) { return readBlock(b, buf); });
    std::vector<std::uint8_t> block;
    auto visit = [&](const DirectoryRecord& r) {
        const std::uint64_t n = r.inode;
        const bool known = n >= 1 && n <= inodeCount_;
        if (known && hasFileType_ && (r.fileType == 1 || r.fileType == 2))
            entryFor(static_cast<std::uint32_t>(n - 1)).mode = r.fileType == 2 ? 0x4000 : 0x8000;
        if (r.name == ".") {
            // The root directory's own entry is named "." and shown under ROOT; elsewhere "." names the parent.
            if (isRoot && known) {
                ExtEntry& e = entryFor(static_cast<std::uint32_t>(n - 1));
                e.name = r.name;
                e.hasName = true;
                e.parentKey = kExtRootKey;
            } else if (!isRoot && known) {
                currentParent = static_cast<std::int64_t>(n - 1);
            }
            return;
        }
        if (r.name == ".." || !known) return;
        ExtEntry& e = entryFor(static_cast<std::uint32_t>(n - 1));
        e.name = r.name;
        e.hasName = true;
        e.parentKey = currentParent;
    };
    for (const BlockRun& run : runs) {
        for (std::uint64_t k = 0; k < run.count; ++k) {
            if (run.unwritten || !readBlock(run.physical + k, block)) continue;
            walkDirectoryBlock(block, hasFileType_, inodeCount_, visit);
        }
    }
}

void ext2Class::parseDirectories() {
    const std::uint64_t count = inodeCount_;
    reporting.setRange(0, static_cast<std::uint32_t>(count));
    for (std::size_t d = 0; d < directories_.size(); ++d) {
        if (pollStop()) break;
        const std::uint64_t number = directories_[d].key + 1ULL;
        if (d % kReportEvery == 0) {
            reporting.setStatus(formatted("parsing inode entry %d  of %d ", number, count));
            reporting.setPosition(static_cast<std::uint32_t>(number));
        }
        walkDirectory(directories_[d]);
    }
    reporting.setStatus(formatted("parsed inode entry %d  of %d ", count, count));
    reporting.setPosition(static_cast<std::uint32_t>(count));
}

void ext2Class::buildEntryMap() {
    reporting.setStatus("clearing vector....");
    // The named entries, in key order (the order they were collected in), become the map; its entries do not
    // move from here on.
    std::erase_if(inodeEntries_, [](const ExtEntry& e) { return !e.hasName || e.inodeIndex == kExtRootKey; });
    ExtEntry root;
    root.name = rootName;
    root.hasName = true;
    root.inodeIndex = kExtRootKey;
    root.mode = root.inodeMode = 0x4000;
    namedEmpty_.insert_or_assign(kExtRootKey, std::move(root));
    const std::ptrdiff_t collected = static_cast<std::ptrdiff_t>(inodeEntries_.size());
    for (auto& [key, e] : namedEmpty_)
        if (e.hasName) inodeEntries_.push_back(std::move(e));
    namedEmpty_.clear();
    std::inplace_merge(inodeEntries_.begin(), inodeEntries_.begin() + collected, inodeEntries_.end(),
                       [](const ExtEntry& a, const ExtEntry& b) { return a.inodeIndex < b.inodeIndex; });
    entryMap_ = std::move(inodeEntries_);
    slotOfKey_.clear();
    const std::uint64_t keys = entryMap_.empty() ? 0 : std::uint64_t{entryMap_.back().inodeIndex} + 1;
    if (keys <= std::max<std::uint64_t>(4 * entryMap_.size(), 1 << 16) && entryMap_.size() < (1u << 31)) {
        slotOfKey_.assign(keys, -1);
        for (std::size_t i = 0; i < entryMap_.size(); ++i) slotOfKey_[entryMap_[i].inodeIndex] = static_cast<std::int32_t>(i);
    }
    inodeEntries_ = {};
    directories_ = {};
}

void ext2Class::linkParentChild() {
    reporting.setStatus("Maintaining Parent Child....");
    const std::uint64_t size = entryMap_.size();
    reporting.setRange(0, static_cast<std::uint32_t>(size));
    // The last child of each parent so far: children stay in key order without walking the chains.
    std::vector<std::int64_t> lastChild(entryMap_.size(), -1);
    for (std::uint64_t k = 0; k < size; ++k) {
        if (!stopCleared_ && stop.stopNow()) break;
        if (k % kReportEvery == 0 || k + 1 == size) {
            reporting.setStatus(formatted("Maintaining Parent Child for record %d of %d....", k + 1, size));
            reporting.setPosition(static_cast<std::uint32_t>(k + 1));
        }
        ExtEntry& e = entryMap_[k];
        const ExtEntry* parent = entry(e.parentKey);
        if (e.parentKey < 1 || !parent || parent == &e) continue;
        const std::size_t p = static_cast<std::size_t>(parent - entryMap_.data());
        if (lastChild[p] < 0)
            entryMap_[p].firstChild = e.inodeIndex;
        else
            entryMap_[static_cast<std::size_t>(lastChild[p])].nextSibling = e.inodeIndex;
        lastChild[p] = static_cast<std::int64_t>(k);
    }
}

void ext2Class::fillRootEntries() {
    reporting.setStatus("filling root entries in  tree....");
    if (!treeControl) return;
    rootItem_ = treeControl->insertItem(kNoTreeItem, rootName, TreeIcon::Root);
    for (std::uint32_t key : childKeys(kExtRootKey)) {
        const ExtEntry& e = *entry(key);
        treeControl->insertItem(rootItem_, e.name, e.isFolder() ? TreeIcon::Folder : TreeIcon::File,
                                TreeColour::Normal, key);
    }
    treeControl->expandItem(rootItem_);
}

const ExtEntry* ext2Class::entry(std::int64_t key) const {
    if (key < 0 || key > 0xFFFFFFFFLL) return nullptr;
    if (!slotOfKey_.empty()) {
        if (static_cast<std::uint64_t>(key) >= slotOfKey_.size()) return nullptr;
        const std::int32_t slot = slotOfKey_[static_cast<std::size_t>(key)];
        return slot >= 0 ? &entryMap_[static_cast<std::size_t>(slot)] : nullptr;
    }
    const auto it = std::lower_bound(entryMap_.begin(), entryMap_.end(), static_cast<std::uint32_t>(key),
                                     [](const ExtEntry& e, std::uint32_t k) { return e.inodeIndex < k; });
    return it != entryMap_.end() && it->inodeIndex == key ? &*it : nullptr;
}

std::vector<std::uint32_t> ext2Class::childKeys(std::int64_t key) const {
    std::vector<std::uint32_t> keys;
    const ExtEntry* parent = entry(key);
    if (!parent) return keys;
    // A damaged volume can chain siblings into a loop; no chain is longer than the map.
    std::uint64_t steps = 0;
    for (std::int64_t k = parent->firstChild; k > 0 && steps < entryMap_.size(); ++steps) {
        const ExtEntry* child = entry(k);
        if (!child) break;
        if (child->hasName && (child->isFolder() || child->isFile())) keys.push_back(static_cast<std::uint32_t>(k));
        k = child->nextSibling;
    }
    return keys;
}

std::string ext2Class::permissionText(std::uint16_t mode) {
    static const std::vector<AttributeCode> codes = {
        {0x0001, "-OE"}, {0x0002, "-OW"}, {0x0004, "-OR"}, {0x0008, "-GE"}, {0x0010, "-GW"},
        {0x0020, "-GR"}, {0x0040, "-UE"}, {0x0080, "-UW"}, {0x0100, "-UR"}};
    return attributeText(mode, codes);
}

bool ext2Class::readInode(const ExtEntry& e, Inode& inode) const {
    std::vector<std::uint8_t> buffer(inodeSize_, 0);
    if (inodeSize_ == 0 || !blockInVolume(e.tableBlock)) return false;
    const bool ok = readBytes(shift_ + e.tableBlock * blockSize_ + std::uint64_t{e.indexInGroup} * inodeSize_, buffer);
    inode = Inode::read(buffer);
    return ok;
}

SaveOutcome ext2Class::saveExtFile(const std::string& hostPath, std::uint32_t key) const {
    SaveOutcome result;
    const ExtEntry* e = entry(key);
    Inode inode;
    if (!e || !readInode(*e, inode)) {
        result.error = "inode not readable";
        return result;
    }
    // The change time cannot be set on a host file; access and modification times are.
    const std::int64_t accessTime = e->accessTime, modifyTime = e->modifyTime;
    if (inode.isFastSymlink())
        return writeSmallFile(std::string(inode.blocks.begin(), inode.blocks.begin() + inode.size), hostPath,
                              accessTime, modifyTime);
    BlockFile file;
    file.blockSize = blockSize_;
    file.firstBlockOffset = shift_;
    file.size = e->size;
    file.volumeBlocks = super_.blockCount;
    file.accessTime = accessTime;
    file.modifyTime = modifyTime;
    const std::uint64_t wantBlocks = e->size / blockSize_ + (e->size % blockSize_ != 0);
    file.runs = blocksOfInode(inode, blockSize_, wantBlocks,
                              [this](std::uint64_t b, std::vector<std::uint8_t>& buf) { return readBlock(b, buf); });
    return writeBlockFile(reader_, file, hostPath);
}

}  // namespace halvard
