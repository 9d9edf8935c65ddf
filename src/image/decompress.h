#pragma once
// Decompression of the compressed grains and clusters of VMDK stream images and qcow2 images, through zlib and
// libzstd.
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/bytes.h"

namespace halvard {

struct DecompressResult {
    bool ok = false;           // see each function
    std::size_t produced = 0;  // bytes written to the output, also when !ok
};

// Decompresses a zlib stream, or a raw deflate stream when the input carries no zlib header, into `out`. ok: the
// stream ended (with a zlib wrapper, with a matching checksum) and fitted in `out`. Never reads outside `in` and
// never writes outside `out`.
DecompressResult inflateStream(Bytes in, std::span<std::uint8_t> out);

// qcow2's compressed clusters: a raw deflate stream (format 0) or a zstd frame (format 1) whose stored length is
// rounded up to whole sectors, so bytes may follow the data. ok: `out` was filled completely.
enum class ClusterCompression { Deflate, Zstd };
DecompressResult decompressCluster(ClusterCompression type, Bytes in, std::span<std::uint8_t> out);

}  // namespace halvard
