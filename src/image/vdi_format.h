#pragma once
// The VDI header (little-endian), parsed from a byte span, and the checks that make its geometry safe to use.
//
// Layout of a VDI file: a 64-byte text line, the signature and version, the header proper, the block map (one
// 32-bit entry per block of the disk: the block's index in the data area) and the data area. A block's data lies
// at data offset + index x (block size + extra size) + extra size.
#include <cstdint>
#include <string>

#include "common/bytes.h"
#include "image/guid.h"

namespace halvard::vdi {

inline constexpr std::uint32_t kSignature = 0xBEDA107F;
inline constexpr std::size_t kHeaderSize = 472;            // what the reader takes from the file's start
inline constexpr std::uint32_t kUnallocated = 0xFFFFFFFF;  // block map: the block is not in the file
inline constexpr std::uint32_t kZeroBlock = 0xFFFFFFFE;    // block map: the block is known to hold zeros
inline constexpr std::uint32_t kMaxBlockSize = 1U << 28;
inline constexpr std::uint32_t kMaxBlockExtra = 1U << 20;

enum ImageType : std::uint32_t { kDynamic = 1, kStatic = 2, kUndo = 3, kDifferencing = 4 };

struct Header {
    std::string text;                // "<<< ... >>>" line at 0
    bool signatureOk = false;        // 0xBEDA107F at 64
    std::uint32_t version = 0;       // 68: major << 16 | minor
    std::uint32_t headerSize = 0;    // 72
    std::uint32_t imageType = 0;     // 76
    std::uint32_t imageFlags = 0;    // 80
    std::string description;         // 84, 256 bytes
    std::uint32_t blockMapOffset = 0;  // 340
    std::uint32_t dataOffset = 0;      // 344
    std::uint32_t cylinders = 0, heads = 0, sectors = 0;  // 348, 352, 356
    std::uint32_t sectorSize = 0;    // 360
    std::uint64_t diskSize = 0;      // 368, bytes
    std::uint32_t blockSize = 0;     // 376, bytes
    std::uint32_t blockExtra = 0;    // 380, bytes in front of each block's data
    std::uint32_t blocks = 0;        // 384
    std::uint32_t allocatedBlocks = 0;  // 388
    Guid uuid;                       // 392
    Guid snapshotUuid;               // 408
    Guid parentUuid;                 // 424 (differencing images)
    Guid parentModificationUuid;     // 440
};
Header parseHeader(Bytes data);

// "1.1" for 0x00010001.
std::string versionText(std::uint32_t version);

// Empty when the header can be read with, else the user's message.
std::string checkHeader(const Header& header);

}  // namespace halvard::vdi
