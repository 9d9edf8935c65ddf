#pragma once
// LZNT1, the compression of NTFS compressed files, one compression unit at a time.
//
// A unit (normally 16 clusters) holds chunks of up to 4096 output bytes. Each chunk starts with a 16-bit header:
// the low 12 bits are the chunk's stored length minus 3 (header included), bit 15 says compressed. A compressed
// chunk is a series of flag bytes, each followed by eight items: a clear bit is one literal byte, a set bit a
// 16-bit back reference whose split between displacement and length depends on how far into the chunk it is.
#include <cstddef>
#include <cstdint>

namespace halvard {

inline constexpr std::size_t kLznt1ChunkSize = 4096;

struct UncompressContext {
    std::uint8_t* output = nullptr;
    const std::uint8_t* input = nullptr;
    std::size_t inputLength = 0;     // bytes of input to decode
    std::size_t outputCount = 0;     // bytes produced
    std::size_t outputCapacity = 0;  // bytes the output holds
};

// Prepares a context for one unit of `capacity` output bytes. Returns false (capacity 0) without buffers.
bool ntfs_uncompress_setup(UncompressContext& context, const std::uint8_t* input, std::uint8_t* output,
                           std::size_t capacity);
// Zeroes the output and the counts before the next unit.
void ntfs_uncompress_reset(UncompressContext& context);
// Decodes the unit. Returns 0 on success, 1 on a malformed unit; in both cases `outputCount` bytes are good.
// A chunk that decodes to fewer than 4096 bytes is followed by zeros up to the chunk's end when another chunk
// comes after it, so every chunk starts at its own 4096-byte boundary.
int ntfs_uncompress_compunit(UncompressContext& context);

}  // namespace halvard
