#include "fs/ntfs/lznt1.h"

#include <cstring>

namespace halvard {

bool ntfs_uncompress_setup(UncompressContext& context, const std::uint8_t* input, std::uint8_t* output,
                           std::size_t capacity) {
    context.input = input;
    context.output = output;
    if (!input || !output) {
        context.outputCapacity = 0;
        return false;
    }
    context.outputCapacity = capacity;
    ntfs_uncompress_reset(context);
    return true;
}

void ntfs_uncompress_reset(UncompressContext& context) {
    if (context.output && context.outputCapacity) std::memset(context.output, 0, context.outputCapacity);
    context.outputCount = 0;
    context.inputLength = 0;
}

namespace {

// Decodes one compressed chunk's body [in, end) into out[chunkStart...]. Returns false when malformed.
bool decodeChunk(UncompressContext& c, std::size_t in, std::size_t end, std::size_t chunkStart) {
    const std::uint8_t* input = c.input;
    const std::size_t chunkLimit = chunkStart + kLznt1ChunkSize < c.outputCapacity ? chunkStart + kLznt1ChunkSize
                                                                                     : c.outputCapacity;
    while (in < end) {
        const std::uint8_t flags = input[in++];
        for (int bit = 0; bit < 8 && in < end; ++bit) {
            if (!(flags & (1u << bit))) {
                if (c.outputCount >= chunkLimit) return false;
                c.output[c.outputCount++] = input[in++];
                continue;
            }
            if (in + 1 >= end) return false;  // a token needs two bytes
            const std::uint16_t token = static_cast<std::uint16_t>(input[in] | (input[in + 1] << 8));
            in += 2;
            const std::size_t position = c.outputCount - chunkStart;
            if (position == 0) return false;  // nothing to refer back to
            unsigned split = 0;
            for (std::size_t p = position - 1; p >= 0x10; p >>= 1) ++split;
            const std::size_t length = (token & (0xFFFu >> split)) + 3;
            const std::size_t displacement = (static_cast<std::size_t>(token) >> (12 - split)) + 1;
            if (displacement > position) return false;
            if (length > chunkLimit - c.outputCount) return false;
            // Byte by byte: the source may overlap what this copy produces.
            std::size_t from = c.outputCount - displacement;
            for (std::size_t i = 0; i < length; ++i) c.output[c.outputCount++] = c.output[from++];
        }
    }
    return true;
}

}  // namespace

int ntfs_uncompress_compunit(UncompressContext& c) {
    c.outputCount = 0;
    if (!c.input || !c.output || c.inputLength <= 1) return 0;
    std::size_t i = 0;
    while (i + 1 < c.inputLength) {
        const std::uint16_t header = static_cast<std::uint16_t>(c.input[i] | (c.input[i + 1] << 8));
        const std::size_t stored = (header & 0x0FFFu) + 1;  // bytes after the header
        if (header == 0) return 0;                        // end of the unit
        if (i + 2 + stored > c.inputLength) return 1;
        // A chunk that came out short is padded so that the next one starts on its 4096-byte boundary.
        if (c.outputCount % kLznt1ChunkSize != 0) {
            const std::size_t next = (c.outputCount / kLznt1ChunkSize + 1) * kLznt1ChunkSize;
            if (next > c.outputCapacity) return 1;
            std::memset(c.output + c.outputCount, 0, next - c.outputCount);
            c.outputCount = next;
        }
        const std::size_t chunkStart = c.outputCount;
        if (!(header & 0x8000)) {
            // Stored chunk: its bytes as they are.
            if (stored > c.outputCapacity - c.outputCount || stored > kLznt1ChunkSize) return 1;
            std::memcpy(c.output + c.outputCount, c.input + i + 2, stored);
            c.outputCount += stored;
        } else if (!decodeChunk(c, i + 2, i + 2 + stored, chunkStart)) {
            return 1;
        }
        i += 2 + stored;
    }
    return 0;
}

}  // namespace halvard
