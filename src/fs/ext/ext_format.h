#pragma once
// The on-disk structures of ext2/ext3 (and the ext4 extents and 64-bit descriptors that such volumes may carry),
// each read from a byte span. Little-endian throughout; every field a caller trusts is bounded here.
#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "fs/block_file.h"

namespace halvard::ext_format {

inline constexpr std::uint16_t kMagic = 0xEF53;
inline constexpr std::uint64_t kSuperblockOffset = 1024;
inline constexpr std::uint64_t kSuperblockSize = 1024;
inline constexpr std::uint64_t kMaxBlockSize = 65536;
inline constexpr std::uint32_t kCompatJournal = 0x0004;
inline constexpr std::uint32_t kIncompatFileType = 0x0002;
inline constexpr std::uint32_t kIncompat64Bit = 0x0080;
inline constexpr std::uint32_t kIncompatMetaGroups = 0x0010;  // descriptor blocks spread over the groups
inline constexpr std::uint32_t kRoCompatSparseSuper = 0x0001;
inline constexpr std::uint32_t kInodeFlagExtents = 0x00080000;
inline constexpr std::uint32_t kInodeFlagIndexed = 0x00001000;  // an indexed folder: block 0 holds the index root
inline constexpr std::uint32_t kInodeFlagInlineData = 0x10000000;  // content kept in the inode, no blocks
inline constexpr std::uint32_t kInodeFlagHugeFile = 0x00040000;  // the block count is in blocks, not 512-byte units
inline constexpr std::uint16_t kGroupBlocksUninitialised = 0x0002;
inline constexpr std::uint32_t kRoCompatGroupChecksums = 0x0010 | 0x0400;  // group descriptor or metadata checksums
inline constexpr std::uint16_t kGroupInodesUninitialised = 0x0001;
inline constexpr std::uint16_t kExtentMagic = 0xF30A;
inline constexpr std::size_t kBlockArea = 60;  // the 15 block pointers, or an extent header and four entries

struct Superblock {
    std::uint32_t inodeCount = 0;         // 0x00
    std::uint64_t blockCount = 0;         // 0x04 (+ 0x150 high part on 64-bit volumes)
    std::uint32_t freeInodeCount = 0;     // 0x10
    std::uint32_t firstDataBlock = 0;     // 0x14: 1 with 1024-byte blocks, else 0
    std::uint32_t logBlockSize = 0;       // 0x18: block size = 1024 << value
    std::uint32_t blocksPerGroup = 0;     // 0x20
    std::uint32_t inodesPerGroup = 0;     // 0x28
    std::uint16_t magic = 0;              // 0x38
    std::uint32_t revision = 0;           // 0x4C: 0 = fixed 128-byte inodes
    std::uint16_t inodeSizeField = 0;     // 0x58
    std::uint16_t blockGroupNumber = 0;   // 0x5A: the group this copy sits in
    std::uint32_t compatible = 0;         // 0x5C
    std::uint32_t incompatible = 0;       // 0x60
    std::uint32_t readOnlyCompatible = 0;  // 0x64
    std::uint32_t journalInode = 0;       // 0xE0
    std::uint16_t descriptorSizeField = 0;  // 0xFE (64-bit volumes)
    std::uint32_t firstMetaGroup = 0;     // 0x104: descriptor blocks before this one follow the superblock

    static Superblock read(Bytes data);
    bool hasMagic() const { return magic == kMagic; }
    // 0 when the size field is out of range.
    std::uint64_t blockSize() const;
    std::uint64_t inodeSize() const;
    std::uint64_t descriptorSize() const;
    // Every group, the last partial one included.
    std::uint64_t groupCount() const;
    bool hasFileType() const { return (incompatible & kIncompatFileType) != 0; }
    bool hasMetaGroups() const { return (incompatible & kIncompatMetaGroups) != 0; }
    // Whether group `g` starts with a copy of the superblock (all groups, or 0, 1 and powers of 3, 5 and 7).
    bool groupHasSuperblock(std::uint64_t g) const;
    bool hasJournal() const { return (compatible & kCompatJournal) != 0 && journalInode != 0; }
    bool hasGroupChecksums() const { return (readOnlyCompatible & kRoCompatGroupChecksums) != 0; }
    // Magic and a geometry that can be walked without reading nonsense.
    bool usable() const;
    // Byte offset of this copy when it sits where the format puts it in its group.
    std::uint64_t expectedOffset() const;
};

struct GroupDescriptor {
    std::uint64_t blockBitmap = 0;   // 0x00 (+ 0x20 high part in 64-byte descriptors)
    std::uint64_t inodeTable = 0;    // 0x08 (+ 0x28 high part in 64-byte descriptors)
    std::uint16_t flags = 0;         // 0x12
    std::uint32_t unusedInodes = 0;  // 0x1C (+ 0x32 high part): slots at the table's end never used

    static GroupDescriptor read(Bytes descriptor, std::uint64_t descriptorSize);
    // The slots of the table that may hold inodes: where the volume keeps group checksums, a table that was never
    // initialised holds whatever the disk held before and is not read.
    std::uint64_t usableSlots(std::uint64_t inodesPerGroup, bool groupChecksums) const;
};

struct Inode {
    std::uint16_t mode = 0;        // 0x00
    std::uint64_t size = 0;        // 0x04 low, 0x6C high
    std::uint32_t accessTime = 0;  // 0x08
    std::uint32_t changeTime = 0;  // 0x0C
    std::uint32_t modifyTime = 0;  // 0x10
    std::uint32_t deletionTime = 0;  // 0x14
    std::uint16_t linkCount = 0;   // 0x1A
    std::uint32_t sectors = 0;     // 0x1C: 512-byte units allocated
    std::uint32_t flags = 0;       // 0x20
    std::array<std::uint8_t, kBlockArea> blocks{};  // 0x28
    std::uint32_t generation = 0;  // 0x64: differs between the files that use one inode in turn
    std::uint64_t attributeBlock = 0;  // 0x68 (+ 0x76 high part): the extended-attribute block; 0 when none
    // Inline data: the block area followed by the value of the inode's "system.data" attribute (kept in the
    // inode's extra space). Empty for other inodes.
    std::vector<std::uint8_t> inlineData;

    static Inode read(Bytes data);
    std::uint16_t type() const { return mode & 0xF000; }
    bool isDirectory() const { return type() == 0x4000; }
    bool isRegular() const { return type() == 0x8000; }
    bool isSymlink() const { return type() == 0xA000; }
    std::uint32_t firstBlockPointer() const { return le32(blocks, 0); }
    bool usesExtents() const { return (flags & kInodeFlagExtents) && le16(blocks, 0) == kExtentMagic; }
    bool hasInlineData() const { return (flags & kInodeFlagInlineData) != 0; }
    // The inline content up to the file's size (shorter when the inode holds less).
    std::string inlineContent() const {
        const auto length = static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(size, inlineData.size()));
        return std::string(inlineData.begin(), inlineData.begin() + length);
    }
    // The block area still names blocks (the kernel clears it when it removes a file).
    bool mapsBlocks(std::uint64_t blockSize) const;
    // The 512-byte units of content blocks: the attribute block is counted in `sectors` too.
    std::uint64_t dataSectors(std::uint64_t blockSize) const;
    // A short link keeps its target in the block area instead of a block: it has no content block (its
    // attribute block aside), as the kernel and e2fsprogs decide.
    bool isFastSymlink(std::uint64_t blockSize) const {
        return isSymlink() && !hasInlineData() && size < kBlockArea && dataSectors(blockSize) == 0;
    }
    // Removed: no name holds it any more (the kernel and e2fsprogs also set the deletion time).
    bool isRemoved() const { return mode != 0 && (linkCount == 0 || deletionTime != 0); }
};

// The value of the "system.data" attribute in the extra space of a whole inode (`inode` is inode-size bytes);
// empty when there is none or it does not fit.
Bytes inlineDataAttribute(Bytes inode);

// Reads one whole block; false when it lies outside the volume or cannot be read.
using ReadBlock = std::function<bool(std::uint64_t block, std::vector<std::uint8_t>& buffer)>;

// The runs of the 12 direct and the single, double and triple indirect pointers, up to `wantBlocks` logical
// blocks. Zero pointers are holes; an unreadable indirect block leaves its range as holes.
BlockList blockMapRuns(const Inode& inode, std::uint64_t blockSize, std::uint64_t wantBlocks,
                            const ReadBlock& readBlock);
// The runs of an extent tree, following index nodes to the leaves. `incomplete` (when given) is set when a node
// that maps blocks of the file could not be read or is damaged: those blocks are then missing from the list.
BlockList extentBlocks(const Inode& inode, std::uint64_t blockSize, std::uint64_t wantBlocks,
                       const ReadBlock& readBlock, bool* incomplete = nullptr);
// Whichever of the two the inode uses.
BlockList blocksOfInode(const Inode& inode, std::uint64_t blockSize, std::uint64_t wantBlocks,
                        const ReadBlock& readBlock, bool* incomplete = nullptr);

// One record of a directory block.
struct DirectoryRecord {
    std::uint32_t inode = 0;
    std::uint8_t fileType = 0;  // 1 regular file, 2 directory, 7 symbolic link, ... (file-type volumes only)
    std::string_view name;      // into the block
    bool removed = false;       // found in the slack after a live record, or a named record whose inode is 0
};

// Walks the records of one directory block from its start. The walk ends at a zero name length or record length,
// a record or name that would leave the block, or (file-type volumes) an inode number above `inodeCount`.
// With `withRemoved`, the slack after each live record is searched too, record by record, for removed records:
// each one must have an inode number in range, a name that fits the slack and holds no "/" or NUL, a record
// length that fits the block, and (file-type volumes) a known type. `skipFirstSlack` leaves the slack of the
// first two records alone (an indexed folder's first block keeps its index there).
void walkDirectoryBlock(Bytes block, bool fileType, std::uint64_t inodeCount,
                        const std::function<void(const DirectoryRecord&)>& visit, bool withRemoved = false,
                        bool skipFirstSlack = false);

}  // namespace halvard::ext_format
