#pragma once
// The on-disk structures of HFS+ (and HFSX), each read from a byte span. Big-endian throughout; names are
// UTF-16 big-endian. Every offset and length taken from a node is checked against the node.
#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace halvard::hfs_format {

inline constexpr std::uint64_t kVolumeHeaderOffset = 1024;
inline constexpr std::uint64_t kVolumeHeaderSize = 512;
inline constexpr std::uint64_t kNodeDescriptorSize = 14;
inline constexpr std::int8_t kLeafNode = -1, kIndexNode = 0, kHeaderNode = 1, kMapNode = 2;
inline constexpr std::uint16_t kFolderRecord = 1, kFileRecord = 2;
inline constexpr std::uint32_t kRootParentId = 1, kRootFolderId = 2;
inline constexpr std::uint32_t kExtentsFileId = 3, kCatalogFileId = 4;
// The folder at the root that holds the files hard links point to (its name begins with four NULs).
inline constexpr std::string_view kPrivateDataFolder{"\0\0\0\0HFS+ Private Data", 21};
// Seconds from 1904-01-01 (HFS+ dates) to 1970-01-01.
inline constexpr std::int64_t kHfsEpochOffset = 2082844800;

struct Extent {
    std::uint32_t startBlock = 0;
    std::uint32_t blockCount = 0;
};
using ExtentRecord = std::array<Extent, 8>;

ExtentRecord readExtentRecord(Bytes data, std::uint64_t offset);

struct ForkData {
    std::uint64_t logicalSize = 0;
    std::uint32_t totalBlocks = 0;
    ExtentRecord extents{};

    static ForkData read(Bytes data, std::uint64_t offset);
};

struct VolumeHeader {
    std::uint16_t signature = 0;  // "H+" or "HX"; not required
    std::uint32_t blockSize = 0;    // 0x28
    std::uint32_t totalBlocks = 0;  // 0x2C
    ForkData extentsFile;           // 0xC0
    ForkData catalogFile;           // 0x110

    static VolumeHeader read(Bytes data);
    // A power of two from 512 bytes on (the format allows no other).
    bool blockSizeValid() const;
};

struct NodeDescriptor {
    std::uint32_t forwardLink = 0;
    std::uint32_t backwardLink = 0;
    std::int8_t kind = 0;
    std::uint8_t height = 0;
    std::uint16_t records = 0;

    static NodeDescriptor read(Bytes node);
    bool knownKind() const { return kind >= kLeafNode && kind <= kMapNode; }
};

// The header record of a B-tree (node 0, after its descriptor).
struct HeaderRecord {
    std::uint32_t firstLeafNode = 0;
    std::uint16_t nodeSize = 0;
    std::uint32_t totalNodes = 0;

    static HeaderRecord read(Bytes node);
    bool nodeSizeValid() const { return nodeSize >= 512 && std::has_single_bit(nodeSize); }
};

// The offsets of a node's records (from the table at its end), each inside the node's record area. Offsets that
// point outside it end the list there.
std::vector<std::uint16_t> recordOffsets(Bytes node, std::uint16_t records);

// A catalog leaf record: the key and the fields of a folder or file record that the engine uses.
struct CatalogRecord {
    std::uint32_t parentId = 0;
    std::string name;  // UTF-8; empty when the key holds no name of 1..255 characters
    std::uint16_t type = 0;
    std::uint32_t id = 0;  // folder or file ID
    std::uint32_t createDate = 0, contentModDate = 0, attributeModDate = 0, accessDate = 0;
    std::uint16_t fileMode = 0;
    std::uint32_t special = 0;  // a hard link's inode number
    std::uint32_t fileType = 0, creator = 0;  // Finder type and creator codes (files)
    ForkData dataFork;  // files only

    // A hard link: its content is the file "iNode<special>" in the private data folder.
    bool isHardLink() const { return type == kFileRecord && fileType == 0x686C6E6B && creator == 0x6866732B; }
};

// Reads the record at `offset`; nullopt when its key or data do not fit in the node, the key is not a catalog
// key, or the record is neither a folder nor a file.
std::optional<CatalogRecord> readCatalogRecord(Bytes node, std::uint64_t offset);

// An extents-overflow leaf record.
struct ExtentsRecord {
    std::uint8_t forkType = 0;  // 0 data, 0xFF resource
    std::uint32_t fileId = 0;
    std::uint32_t startBlock = 0;  // the first file block the record covers
    ExtentRecord extents{};
};
std::optional<ExtentsRecord> readExtentsRecord(Bytes node, std::uint64_t offset);

// Whether a node-sized slice looks like a catalog leaf node found by scanning: a leaf above height 0 whose first
// record starts right after the descriptor and that holds 1 to 999 records.
bool looksLikeLeafNode(Bytes node);

}  // namespace halvard::hfs_format
