#pragma once
// Decompression of the deflate streams that hold the grains of compressed (stream-optimised) VMDK images. The
// program keeps to the standard library, so this is a small decoder of its own.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/bytes.h"

namespace halvard::vmdk {

struct InflateResult {
    bool ok = false;          // a complete stream, and with a zlib wrapper a matching checksum
    std::size_t produced = 0;  // bytes written to the output, also when !ok
};

// Decompresses a zlib stream, or a raw deflate stream when the input carries no zlib header, into `out`. Never
// reads outside `in` and never writes outside `out`: a stream that would produce more than `out` holds fails.
InflateResult inflate(Bytes in, std::span<std::uint8_t> out);

}  // namespace halvard::vmdk
