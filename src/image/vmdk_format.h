#pragma once
// The VMDK structures, each parsed from a byte span: the hosted sparse extent header (little-endian), the text
// descriptor, and the marker in front of each compressed grain.
//
// A hosted sparse extent holds the header, usually an embedded descriptor, a grain directory (one entry per grain
// table: the table's sector, 0 = none) and grain tables (one entry per grain: the grain's sector, 0 = not
// allocated, 1 = a zero grain). Stream-optimised images compress each grain and put a marker in front of it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace halvard::vmdk {

inline constexpr std::uint32_t kMagic = 0x564D444B;  // "KDMV"
inline constexpr std::uint64_t kGrainDirectoryAtEnd = ~0ULL;  // the footer holds the real offsets
inline constexpr std::uint32_t kFlagRedundantGrainTable = 1U << 1;
inline constexpr std::uint32_t kFlagZeroGrainEntries = 1U << 2;
inline constexpr std::uint32_t kFlagCompressed = 1U << 16;
inline constexpr std::uint32_t kFlagMarkers = 1U << 17;
inline constexpr std::uint16_t kCompressionDeflate = 1;
inline constexpr std::uint64_t kMaxGrainSize = 1ULL << 21;            // sectors (1 GiB)
inline constexpr std::uint64_t kMaxCompressedGrainSize = 1ULL << 14;  // sectors (8 MiB), held in memory whole
inline constexpr std::uint32_t kMaxGrainTableEntries = 1U << 24;
inline constexpr std::uint64_t kMaxDescriptorBytes = 1024 * 1024;
inline constexpr std::size_t kMarkerSize = 12;  // grain marker: LBA (8), compressed size (4)

struct SparseHeader {  // 512 bytes
    bool magicOk = false;
    std::uint32_t version = 0;
    std::uint32_t flags = 0;
    std::uint64_t capacity = 0;          // sectors
    std::uint64_t grainSize = 0;         // sectors
    std::uint64_t descriptorOffset = 0;  // sectors
    std::uint64_t descriptorSize = 0;    // sectors
    std::uint32_t numGTEsPerGT = 0;
    std::uint64_t rgdOffset = 0;         // redundant grain directory, sectors
    std::uint64_t gdOffset = 0;          // grain directory, sectors
    std::uint64_t overHead = 0;          // sectors of metadata before the first grain
    std::uint8_t uncleanShutdown = 0;
    std::uint16_t compressAlgorithm = 0;
    bool compressed() const { return (flags & kFlagCompressed) != 0; }
};
SparseHeader parseSparseHeader(Bytes data);

struct Extent {  // one line of the extent description
    std::string access;    // RW, RDONLY, NOACCESS
    std::uint64_t sectors = 0;
    std::string type;      // SPARSE, FLAT, ZERO, VMFS, ...
    std::string fileName;
    std::uint64_t offset = 0;  // sectors into the file (FLAT)
};

struct Descriptor {
    bool hasCreateType = false;
    std::string version, CID, parentCID, createType, parentFileNameHint;
    std::vector<Extent> extents;
    std::string virtualHWVersion, cylinders, heads, sectors, adapterType, toolsVersion;
    // A parent CID other than ffffffff links the disk to a parent.
    bool hasParent() const;
};
// Reads the descriptor line by line ("key = value", quotes optional; extent lines; "#" comments).
Descriptor parseDescriptor(std::string_view text);

// A text descriptor at the start of a file (a descriptor file rather than a sparse extent).
bool looksLikeDescriptor(Bytes firstBytes);

struct GrainMarker {
    std::uint64_t lba = 0;   // first sector of the grain on the virtual disk
    std::uint32_t size = 0;  // bytes of compressed data that follow; 0 marks a metadata marker, not a grain
};
GrainMarker parseGrainMarker(Bytes data);

}  // namespace halvard::vmdk
