#include "fs/ext/ext_format.h"

#include <algorithm>
#include <bit>

namespace halvard::ext_format {

namespace {

// The kernel builds trees of at most 5 levels, but other tools leave deeper ones that still read well; the walk
// follows what the tree holds up to a depth no volume needs (2^32 blocks take 6 levels of 1 KiB nodes), which
// also bounds the recursion a hostile depth field could ask for.
constexpr std::uint64_t kMaxExtentDepth = 32;

// Joins blocks that continue the previous run.
class RunBuilder {
public:
    void add(std::uint64_t logical, std::uint64_t physical, std::uint64_t count, bool unwritten = false) {
        if (count == 0) return;
        if (!list.empty()) {
            BlockRun& last = list.back();
            if (!last.unwritten && !unwritten && last.logical + last.count == logical &&
                last.physical + last.count == physical) {
                last.count += count;
                return;
            }
        }
        list.push_back({logical, physical, count, unwritten});
    }
    BlockList list;
};

// Walks one pointer of the indirect scheme: `level` 0 names a data block, 1 a block of data-block numbers, ...
void walkPointer(std::uint32_t pointer, int level, std::uint64_t logical, std::uint64_t perBlock,
                 std::uint64_t wantBlocks, const ReadBlock& readBlock, std::vector<std::uint8_t>& scratch,
                 RunBuilder& runs) {
    if (pointer == 0 || logical >= wantBlocks) return;
    if (level == 0) {
        runs.add(logical, pointer, 1);
        return;
    }
    std::uint64_t span = 1;  // logical blocks under one number of this block
    for (int i = 1; i < level; ++i) span *= perBlock;
    if (!readBlock(pointer, scratch)) return;
    // The child walks reuse the scratch buffer, so the numbers are taken out first.
    std::vector<std::uint32_t> numbers(perBlock);
    for (std::uint64_t i = 0; i < perBlock; ++i) numbers[i] = le32(scratch, i * 4);
    for (std::uint64_t i = 0; i < perBlock; ++i) {
        const std::uint64_t childLogical = logical + i * span;
        if (childLogical >= wantBlocks) break;
        walkPointer(numbers[i], level - 1, childLogical, perBlock, wantBlocks, readBlock, scratch, runs);
    }
}

// `nodeBudget` counts the tree blocks still to be read: a damaged tree whose index entries point at one block
// over and over would otherwise be walked an exponential number of times. `incomplete` is set where a part of the
// tree that maps blocks of the file could not be walked.
void walkExtentNode(Bytes node, std::uint64_t depthBudget, std::uint64_t wantBlocks, const ReadBlock& readBlock,
                    RunBuilder& runs, std::uint64_t& nodeBudget, bool& incomplete) {
    if (le16(node, 0) != kExtentMagic || node.size() < 12) {
        incomplete = true;
        return;
    }
    const std::uint64_t depth = le16(node, 6);
    const std::uint64_t count = std::min<std::uint64_t>(le16(node, 2), (node.size() - 12) / 12);
    for (std::uint64_t i = 0; i < count; ++i) {
        const Bytes entry = slice(node, 12 + i * 12, 12);
        if (depth == 0) {
            const std::uint64_t logical = le32(entry, 0);
            std::uint64_t length = le16(entry, 4);
            const bool unwritten = length > 32768;
            if (unwritten) length -= 32768;
            const std::uint64_t physical = (static_cast<std::uint64_t>(le16(entry, 6)) << 32) | le32(entry, 8);
            if (logical >= wantBlocks) continue;
            runs.add(logical, physical, std::min(length, wantBlocks - logical), unwritten);
        } else {
            if (le32(entry, 0) >= wantBlocks) continue;  // maps only blocks past the file's end
            // A tree deeper than any volume needs, or one with more nodes than the file has blocks, is damaged.
            if (depthBudget == 0 || nodeBudget == 0) {
                incomplete = true;
                return;
            }
            const std::uint64_t child = (static_cast<std::uint64_t>(le16(entry, 8)) << 32) | le32(entry, 4);
            std::vector<std::uint8_t> block;
            --nodeBudget;
            // An unreadable child, or one that is not one level down, leaves its blocks unknown.
            if (!readBlock(child, block) || std::uint64_t{le16(block, 6)} + 1 != depth) {
                incomplete = true;
                continue;
            }
            walkExtentNode(block, depthBudget - 1, wantBlocks, readBlock, runs, nodeBudget, incomplete);
        }
    }
}

}  // namespace

Superblock Superblock::read(Bytes d) {
    Superblock s;
    s.inodeCount = le32(d, 0x00);
    s.blockCount = le32(d, 0x04);
    s.freeInodeCount = le32(d, 0x10);
    s.firstDataBlock = le32(d, 0x14);
    s.logBlockSize = le32(d, 0x18);
    s.blocksPerGroup = le32(d, 0x20);
    s.inodesPerGroup = le32(d, 0x28);
    s.magic = le16(d, 0x38);
    s.revision = le32(d, 0x4C);
    s.inodeSizeField = le16(d, 0x58);
    s.blockGroupNumber = le16(d, 0x5A);
    s.compatible = le32(d, 0x5C);
    s.incompatible = le32(d, 0x60);
    s.readOnlyCompatible = le32(d, 0x64);
    s.journalInode = le32(d, 0xE0);
    s.descriptorSizeField = le16(d, 0xFE);
    s.firstMetaGroup = le32(d, 0x104);
    if (s.incompatible & kIncompat64Bit) s.blockCount |= static_cast<std::uint64_t>(le32(d, 0x150)) << 32;
    return s;
}

std::uint64_t Superblock::blockSize() const {
    if (logBlockSize > 6) return 0;
    return 1024ULL << logBlockSize;
}

std::uint64_t Superblock::inodeSize() const {
    if (revision == 0) return 128;
    const std::uint64_t size = inodeSizeField;
    return size >= 128 && std::has_single_bit(size) && size <= blockSize() ? size : 0;
}

std::uint64_t Superblock::descriptorSize() const {
    if (!(incompatible & kIncompat64Bit)) return 32;
    const std::uint64_t size = descriptorSizeField;
    return size >= 32 && std::has_single_bit(size) && size <= 1024 ? size : 0;
}

std::uint64_t Superblock::groupCount() const {
    if (blocksPerGroup == 0 || blockCount <= firstDataBlock) return 0;
    return (blockCount - firstDataBlock + blocksPerGroup - 1) / blocksPerGroup;
}

bool Superblock::usable() const {
    const std::uint64_t bs = blockSize();
    return hasMagic() && bs != 0 && inodeSize() != 0 && descriptorSize() != 0 && blocksPerGroup != 0 &&
           blocksPerGroup <= bs * 8 && inodesPerGroup != 0 && inodesPerGroup <= bs * 8 && inodeCount != 0 &&
           groupCount() != 0;
}

bool Superblock::groupHasSuperblock(std::uint64_t g) const {
    if (!(readOnlyCompatible & kRoCompatSparseSuper) || g <= 1) return true;
    for (const std::uint64_t base : {3, 5, 7}) {
        std::uint64_t power = base;
        while (power < g) power *= base;
        if (power == g) return true;
    }
    return false;
}

std::uint64_t Superblock::expectedOffset() const {
    if (blockGroupNumber == 0) return kSuperblockOffset;
    return (static_cast<std::uint64_t>(blockGroupNumber) * blocksPerGroup + firstDataBlock) * blockSize();
}

GroupDescriptor GroupDescriptor::read(Bytes d, std::uint64_t descriptorSize) {
    GroupDescriptor g;
    g.blockBitmap = le32(d, 0x00);
    g.inodeTable = le32(d, 0x08);
    g.flags = le16(d, 0x12);
    g.unusedInodes = le16(d, 0x1C);
    if (descriptorSize >= 64) {
        g.blockBitmap |= static_cast<std::uint64_t>(le32(d, 0x20)) << 32;
        g.inodeTable |= static_cast<std::uint64_t>(le32(d, 0x28)) << 32;
        g.unusedInodes |= static_cast<std::uint32_t>(le16(d, 0x32)) << 16;
    }
    return g;
}

std::uint64_t GroupDescriptor::usableSlots(std::uint64_t inodesPerGroup, bool groupChecksums) const {
    if (!groupChecksums) return inodesPerGroup;
    if (flags & kGroupInodesUninitialised) return 0;
    return inodesPerGroup - std::min<std::uint64_t>(unusedInodes, inodesPerGroup);
}

Inode Inode::read(Bytes d) {
    Inode i;
    i.mode = le16(d, 0x00);
    i.size = le32(d, 0x04) | (static_cast<std::uint64_t>(le32(d, 0x6C)) << 32);
    i.accessTime = le32(d, 0x08);
    i.changeTime = le32(d, 0x0C);
    i.modifyTime = le32(d, 0x10);
    i.deletionTime = le32(d, 0x14);
    i.linkCount = le16(d, 0x1A);
    i.sectors = le32(d, 0x1C);
    i.flags = le32(d, 0x20);
    const Bytes area = slice(d, 0x28, kBlockArea);
    std::copy(area.begin(), area.end(), i.blocks.begin());
    i.generation = le32(d, 0x64);
    i.attributeBlock = le32(d, 0x68) | (static_cast<std::uint64_t>(le16(d, 0x76)) << 32);
    if (i.hasInlineData()) {
        const Bytes tail = inlineDataAttribute(d);
        i.inlineData.assign(i.blocks.begin(), i.blocks.end());
        i.inlineData.insert(i.inlineData.end(), tail.begin(), tail.end());
    }
    return i;
}

Bytes inlineDataAttribute(Bytes inode) {
    constexpr std::uint32_t kAttributesMagic = 0xEA020000;
    constexpr std::uint8_t kSystemNames = 7;  // the name index of "system." attributes
    const std::uint64_t start = 128 + std::uint64_t{le16(inode, 0x80)};
    if (inode.size() <= 128 || le32(inode, start) != kAttributesMagic) return {};
    // Entries follow the magic; their values are placed relative to the first entry.
    const std::uint64_t entries = start + 4;
    for (std::uint64_t at = entries; fits(inode, at, 16) && le32(inode, at) != 0;) {
        const std::uint64_t nameLength = u8(inode, at);
        const Bytes name = slice(inode, at + 16, nameLength);
        if (name.size() != nameLength) return {};
        if (u8(inode, at + 1) == kSystemNames && hasSignature(name, 0, "data") && nameLength == 4 &&
            le32(inode, at + 4) == 0)
            return slice(inode, entries + le16(inode, at + 2), le32(inode, at + 8));
        at += (16 + nameLength + 3) & ~3ULL;
    }
    return {};
}

std::uint64_t Inode::dataSectors(std::uint64_t blockSize) const {
    const std::uint64_t perBlock = blockSize / 512;
    const std::uint64_t all = (flags & kInodeFlagHugeFile) ? std::uint64_t{sectors} * perBlock : sectors;
    const std::uint64_t attribute = attributeBlock != 0 ? perBlock : 0;
    return all - std::min(all, attribute);
}

bool Inode::mapsBlocks(std::uint64_t blockSize) const {
    if (isFastSymlink(blockSize) || hasInlineData()) return false;
    if (usesExtents()) return le16(blocks, 2) != 0;
    return !allZero(blocks);
}

BlockList blockMapRuns(const Inode& inode, std::uint64_t blockSize, std::uint64_t wantBlocks,
                            const ReadBlock& readBlock) {
    RunBuilder runs;
    const std::uint64_t perBlock = blockSize / 4;
    if (perBlock == 0) return {};
    std::vector<std::uint8_t> scratch;
    for (std::uint64_t i = 0; i < 12; ++i) walkPointer(le32(inode.blocks, i * 4), 0, i, perBlock, wantBlocks, readBlock, scratch, runs);
    std::uint64_t logical = 12;
    std::uint64_t span = perBlock;
    for (int level = 1; level <= 3; ++level) {
        walkPointer(le32(inode.blocks, (11 + level) * 4), level, logical, perBlock, wantBlocks, readBlock, scratch,
                    runs);
        logical += span;
        span *= perBlock;
    }
    return std::move(runs.list);
}

BlockList extentBlocks(const Inode& inode, std::uint64_t, std::uint64_t wantBlocks, const ReadBlock& readBlock,
                       bool* incomplete) {
    RunBuilder runs;
    // A sound tree has fewer leaves than the file has blocks (every leaf maps at least one), and fewer index
    // blocks than leaves.
    std::uint64_t nodeBudget = 2 * std::min<std::uint64_t>(wantBlocks, std::uint64_t{1} << 20) + 8;
    bool cut = false;
    walkExtentNode(inode.blocks, kMaxExtentDepth, wantBlocks, readBlock, runs, nodeBudget, cut);
    if (incomplete) *incomplete = cut;
    BlockList list = std::move(runs.list);
    std::stable_sort(list.begin(), list.end(), [](const BlockRun& a, const BlockRun& b) { return a.logical < b.logical; });
    return list;
}

BlockList blocksOfInode(const Inode& inode, std::uint64_t blockSize, std::uint64_t wantBlocks,
                        const ReadBlock& readBlock, bool* incomplete) {
    if (incomplete) *incomplete = false;
    // Inline content sits in the inode: its block area holds no block numbers.
    if (inode.hasInlineData()) return {};
    if (inode.usesExtents()) return extentBlocks(inode, blockSize, wantBlocks, readBlock, incomplete);
    return blockMapRuns(inode, blockSize, wantBlocks, readBlock);
}

namespace {

std::uint64_t recordNeeds(std::uint64_t nameLength) { return (8 + nameLength + 3) & ~3ULL; }

// The removed records in block[from, to): each candidate checked in full, the search going on 4 bytes later when
// one fails.
void walkSlack(Bytes block, std::uint64_t from, std::uint64_t to, bool fileType, std::uint64_t inodeCount,
               const std::function<void(const DirectoryRecord&)>& visit) {
    DirectoryRecord record;
    record.removed = true;
    for (std::uint64_t at = (from + 3) & ~3ULL; at + 8 < to;) {
        const std::uint32_t inode = le32(block, at);
        const std::uint64_t recordLength = le16(block, at + 4);
        const std::uint64_t nameLength = fileType ? u8(block, at + 6) : le16(block, at + 6);
        const std::uint8_t type = fileType ? u8(block, at + 7) : 0;
        bool sane = inode >= 1 && inode <= inodeCount && nameLength >= 1 && at + 8 + nameLength <= to &&
                    recordLength % 4 == 0 && recordLength >= recordNeeds(nameLength) &&
                    recordLength <= block.size() - at && (!fileType || (type >= 1 && type <= 7));
        if (sane) {
            const Bytes name = slice(block, at + 8, nameLength);
            record.name = std::string_view(reinterpret_cast<const char*>(name.data()), name.size());
            sane = record.name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos &&
                   record.name != "." && record.name != "..";
        }
        if (!sane) {
            at += 4;
            continue;
        }
        record.inode = inode;
        record.fileType = type;
        visit(record);
        at += recordNeeds(nameLength);
    }
}

}  // namespace

void walkDirectoryBlock(Bytes block, bool fileType, std::uint64_t inodeCount,
                        const std::function<void(const DirectoryRecord&)>& visit, bool withRemoved,
                        bool skipFirstSlack) {
    std::uint64_t offset = 0;
    std::uint64_t index = 0;
    DirectoryRecord record;
    while (offset + 8 <= block.size()) {
        const std::uint64_t recordLength = le16(block, offset + 4);
        const std::uint64_t nameLength = fileType ? u8(block, offset + 6) : le16(block, offset + 6);
        if (recordLength == 0 || (!fileType && nameLength > 1024)) break;
        if (recordLength < 8 || recordLength > block.size() - offset) break;
        if (8 + nameLength > block.size() - offset) break;
        record.inode = le32(block, offset);
        if (nameLength == 0) {
            // The driver blanks the first record of a block when it removes it (inode 0, no name) and the walk
            // goes on after it; any other nameless record (an index node, the checksum tail) ends the block.
            if (record.inode != 0 || recordLength < 12 || recordLength % 4 != 0 || recordLength == block.size())
                break;
            if (withRemoved) walkSlack(block, offset + 8, offset + recordLength, fileType, inodeCount, visit);
            offset += recordLength;
            ++index;
            continue;
        }
        if (fileType && record.inode > inodeCount) break;
        record.fileType = fileType ? u8(block, offset + 7) : 0;
        const Bytes name = slice(block, offset + 8, nameLength);
        record.name = std::string_view(reinterpret_cast<const char*>(name.data()), name.size());
        // A named record with inode 0 is one the driver removed in place (the first of its block).
        record.removed = record.inode == 0;
        if (withRemoved || !record.removed) visit(record);
        // A record longer than its name by at least 4 bytes holds slack (a removed entry's remains): the next
        // record starts after the whole record, not after the name.
        const std::uint64_t rounded = recordNeeds(nameLength);
        const std::uint64_t step = fileType && recordLength < rounded + 4 ? rounded : recordLength;
        if (withRemoved && step > rounded && !(skipFirstSlack && index < 2))
            walkSlack(block, offset + rounded, offset + step, fileType, inodeCount, visit);
        offset += step;
        ++index;
    }
}

}  // namespace halvard::ext_format
