// Removed files of the ext engine: where their content is still described (their own inode, or an earlier copy of
// it in the journal), which of its blocks are free again, and the earlier versions of folder blocks.
#include <algorithm>

#include "fs/ext/ext_engine.h"

namespace halvard {

using namespace ext_format;

namespace {

// Far above the largest journal mke2fs makes (a damaged size must not cost memory for every block it claims).
constexpr std::uint64_t kMaxJournalBlocks = 1ULL << 22;

// A map block that still names blocks: an extent node with entries, or indirect pointers that are not all zero
// (the driver clears both when it removes a file).
bool holdsMap(Bytes block) {
    if (le16(block, 0) == kExtentMagic) return le16(block, 2) != 0;
    return !allZero(block);
}

}  // namespace

void ExtEngine::readJournal() {
    journal_ = Journal{};
    if (!super_.hasJournal() || pollStop()) return;
    if (std::none_of(inodes_.begin(), inodes_.end(), [](const InodeSummary& s) { return s.removed; })) return;
    reporting.setStatus("reading the journal");
    Inode inode;
    if (!readInode(super_.journalInode, inode) || !inode.isRegular()) return;
    const BlockList runs = blocksOf(inode, inode.size);
    // The journal file's blocks, by their index in it.
    journal_.load(
        [this, runs](std::uint64_t index, std::uint64_t offset, std::vector<std::uint8_t>& buffer) {
            const auto it = std::upper_bound(runs.begin(), runs.end(), index,
                                             [](std::uint64_t i, const BlockRun& r) { return i < r.logical; });
            if (it == runs.begin() || std::prev(it)->unwritten ||
                index - std::prev(it)->logical >= std::prev(it)->count || offset + buffer.size() > blockSize_)
                return false;
            const std::uint64_t block = std::prev(it)->physical + (index - std::prev(it)->logical);
            return block != 0 && blockInVolume(block) && readBytes(shift_ + block * blockSize_ + offset, buffer);
        },
        std::min({inode.size / blockSize_, super_.blockCount, kMaxJournalBlocks}), blockSize_);
}

std::optional<ExtEngine::RemovedInode> ExtEngine::journalInode(std::uint32_t number, const Inode& now) const {
    if (inodesPerGroup_ == 0 || blockSize_ == 0) return std::nullopt;
    const std::uint64_t group = (number - 1) / inodesPerGroup_, index = (number - 1) % inodesPerGroup_;
    if (group >= groupCount_) return std::nullopt;
    const GroupDescriptor descriptor =
        GroupDescriptor::read(slice(descriptors_, group * descriptorSize_, descriptorSize_), descriptorSize_);
    const std::uint64_t tableBlock = descriptor.inodeTable + index * inodeSize_ / blockSize_;
    const std::uint64_t inBlock = index * inodeSize_ % blockSize_;
    const std::span<const JournalCopy> copies = journal_.copies(tableBlock);
    std::vector<std::uint8_t> buffer;
    for (auto it = copies.rbegin(); it != copies.rend(); ++it) {
        if (!journal_.readCopy(*it, buffer)) continue;
        const Inode copy = Inode::read(slice(buffer, inBlock, inodeSize_));
        // The same file (one inode serves many files in turn, each with its own generation) ...
        if (copy.type() != now.type() || copy.generation != now.generation) continue;
        // ... while it still had its map and size: before the removal began, or an empty file.
        const bool whole = copy.linkCount > 0 || copy.deletionTime == 0;
        if (!whole) continue;
        if (copy.size > 0 ? copy.mapsBlocks(blockSize_) : copy.sectors == 0)
            return RemovedInode{copy, it->order};
    }
    return std::nullopt;
}

std::optional<ExtEngine::RemovedInode> ExtEngine::removedInode(std::uint32_t number) const {
    Inode now;
    if (!readInode(number, now) || !now.isRemoved()) return std::nullopt;
    // Removed by a tool that keeps the map (e2fsprogs, older drivers): the inode itself says it all.
    if (now.size > 0 && now.mapsBlocks(blockSize_)) return RemovedInode{now, std::nullopt};
    return journalInode(number, now);
}

ReadBlock ExtEngine::mapReader(std::optional<std::uint32_t> journalOrder) const {
    if (!journalOrder) return [this](std::uint64_t b, std::vector<std::uint8_t>& buf) { return readBlock(b, buf); };
    const std::uint32_t order = *journalOrder;
    return [this, order](std::uint64_t b, std::vector<std::uint8_t>& buf) {
        const std::span<const JournalCopy> copies = journal_.copies(b);
        // The newest copy logged by the inode's transaction or before it: the map as the inode knew it.
        for (auto it = copies.rbegin(); it != copies.rend(); ++it)
            if (it->order <= order && journal_.readCopy(*it, buf) && holdsMap(buf)) return true;
        // A map block logged no earlier still holds it on the volume, unless the removal cleared it there.
        if (readBlock(b, buf) && holdsMap(buf)) return true;
        // The removal's own copies, oldest first: part of the map may still be in the first of them.
        for (const JournalCopy& c : copies)
            if (c.order > order && journal_.readCopy(c, buf) && holdsMap(buf)) return true;
        buf.assign(blockSize_, 0);
        return false;
    };
}

BlockList ExtEngine::removedRuns(const RemovedInode& removed, std::uint64_t size, bool* incomplete) const {
    const std::uint64_t wantBlocks = size / blockSize_ + (size % blockSize_ != 0);
    return blocksOfInode(removed.inode, blockSize_, wantBlocks, mapReader(removed.journalOrder), incomplete);
}

bool ExtEngine::blockIsFree(std::uint64_t block, std::map<std::uint64_t, std::vector<std::uint8_t>>& bitmaps) const {
    if (block < super_.firstDataBlock || !blockInVolume(block)) return false;
    const std::uint64_t group = (block - super_.firstDataBlock) / super_.blocksPerGroup;
    const std::uint64_t bit = (block - super_.firstDataBlock) % super_.blocksPerGroup;
    if (group >= groupCount_) return false;
    auto it = bitmaps.find(group);
    if (it == bitmaps.end()) {
        const GroupDescriptor d =
            GroupDescriptor::read(slice(descriptors_, group * descriptorSize_, descriptorSize_), descriptorSize_);
        std::vector<std::uint8_t> bitmap;
        // A group whose bitmap was never written has every block free; an unreadable bitmap frees nothing.
        if (super_.hasGroupChecksums() && (d.flags & kGroupBlocksUninitialised))
            bitmap.assign(blockSize_, 0);
        else if (!readBlock(d.blockBitmap, bitmap))
            bitmap.assign(blockSize_, 0xFF);
        it = bitmaps.emplace(group, std::move(bitmap)).first;
    }
    return (u8(it->second, bit / 8) & (1u << (bit % 8))) == 0;
}

ExtEngine::RemovedBlocks ExtEngine::removedBlocks(const ExtEntry& e) const {
    RemovedBlocks result;
    if (!e.inodeDescribes) return result;
    const std::optional<RemovedInode> removed = removedInode(e.inode);
    if (!removed) return result;
    // The block bitmap of each group met, read once.
    std::map<std::uint64_t, std::vector<std::uint8_t>> bitmaps;
    bool walkIncomplete = false;
    const BlockList runs = removedRuns(*removed, e.size, &walkIncomplete);
    // A map read in part (a block of it cleared in every copy) names fewer blocks than the inode counts, beyond
    // what the map's own blocks and an attribute block explain.
    std::uint64_t mapped = 0;
    for (const BlockRun& run : runs) mapped += run.count;
    const Inode& inode = removed->inode;
    const std::uint64_t allocated =
        (inode.flags & kInodeFlagHugeFile) ? inode.sectors : std::uint64_t{inode.sectors} * 512 / blockSize_;
    // Indirect blocks hold a block number each, extent leaves a run each; a few more for the upper levels.
    const std::uint64_t perBlock = blockSize_ / 4, perLeaf = (blockSize_ - 12) / 12;
    const std::uint64_t mapOwnBlocks = mapped / perBlock + mapped / (perBlock * perBlock) + runs.size() / perLeaf + 6;
    // An extent tree whose walk stopped short is incomplete whatever the counts say.
    result.mapIncomplete = walkIncomplete || allocated > mapped + mapOwnBlocks;
    for (const BlockRun& run : runs) {
        for (std::uint64_t k = 0; k < run.count; ++k) {
            if (!run.unwritten && !blockIsFree(run.physical + k, bitmaps)) {
                result.someInUse = true;
                continue;
            }
            BlockList& list = result.free;
            if (!list.empty() && list.back().unwritten == run.unwritten &&
                list.back().logical + list.back().count == run.logical + k &&
                list.back().physical + list.back().count == run.physical + k)
                ++list.back().count;
            else
                list.push_back({run.logical + k, run.physical + k, 1, run.unwritten});
        }
    }
    return result;
}

ExtRecoverable ExtEngine::recoverable(std::uint32_t key) const {
    const ExtEntry* e = entry(key);
    if (!e || !e->inodeDescribes) return ExtRecoverable::No;
    if (e->isFolder()) return e->children.empty() ? ExtRecoverable::No : ExtRecoverable::Yes;
    if (!e->sizeKnown) return ExtRecoverable::No;
    if (e->size == 0) return ExtRecoverable::Yes;
    const RemovedBlocks blocks = removedBlocks(*e);
    if (blocks.free.empty()) return ExtRecoverable::No;
    return blocks.whole() ? ExtRecoverable::Yes : ExtRecoverable::Partly;
}

void ExtEngine::forEachVersion(std::uint64_t block, const std::function<bool(Bytes, bool)>& visit) const {
    std::vector<std::uint8_t> buffer;
    if (readBlock(block, buffer) && !visit(buffer, false)) return;
    const std::span<const JournalCopy> copies = journal_.copies(block);
    for (auto it = copies.rbegin(); it != copies.rend(); ++it)
        if (journal_.readCopy(*it, buffer) && !visit(buffer, true)) return;
}

}  // namespace halvard
