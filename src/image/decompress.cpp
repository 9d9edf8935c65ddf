#include "image/decompress.h"

#include <zlib.h>
#include <zstd.h>

#include <limits>
#include <memory>

namespace halvard {

namespace {

// A zlib header: deflate method, a window of at most 32 KiB, and the header check.
bool hasZlibHeader(Bytes in) {
    return in.size() >= 2 && (in[0] & 0x0F) == 8 && (in[0] >> 4) <= 7 && (in[0] * 256 + in[1]) % 31 == 0;
}

struct Inflater {
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream stream{};
    bool ready = false;
    explicit Inflater(int windowBits) { ready = inflateInit2(&stream, windowBits) == Z_OK; }
    ~Inflater() {
        if (ready) inflateEnd(&stream);
    }
};

// One inflate call over all of `in` into all of `out` (both fit in zlib's 32-bit counts: callers hold grains and
// clusters of at most a few MiB). Returns zlib's status.
int inflateOnce(Inflater& inflater, Bytes in, std::span<std::uint8_t> out, std::size_t& produced) {
    produced = 0;
    if (!inflater.ready || in.size() > std::numeric_limits<uInt>::max() ||
        out.size() > std::numeric_limits<uInt>::max())
        return Z_STREAM_ERROR;
    z_stream& s = inflater.stream;
    s.next_in = const_cast<Bytef*>(in.data());  // zlib's API is not const-correct; it never writes the input
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&s, Z_FINISH);
    produced = out.size() - s.avail_out;
    return status;
}

}  // namespace

DecompressResult inflateStream(Bytes in, std::span<std::uint8_t> out) {
    DecompressResult result;
    Inflater inflater(hasZlibHeader(in) ? 15 : -15);
    result.ok = inflateOnce(inflater, in, out, result.produced) == Z_STREAM_END;
    return result;
}

DecompressResult decompressCluster(ClusterCompression type, Bytes in, std::span<std::uint8_t> out) {
    DecompressResult result;
    if (type == ClusterCompression::Deflate) {
        // One inflater per thread, reset for each cluster: setting one up costs more than a small cluster's data.
        // qcow2 writes raw deflate with a 4 KiB window; the largest one reads it too.
        thread_local Inflater inflater(-15);
        if (inflater.ready && inflateReset(&inflater.stream) != Z_OK) return result;
        const int status = inflateOnce(inflater, in, out, result.produced);
        result.ok = (status == Z_STREAM_END || status == Z_BUF_ERROR || status == Z_OK) &&
                    result.produced == out.size();
        return result;
    }
    thread_local std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    if (!context || ZSTD_isError(ZSTD_DCtx_reset(context.get(), ZSTD_reset_session_only))) return result;
    ZSTD_inBuffer input{in.data(), in.size(), 0};
    ZSTD_outBuffer output{out.data(), out.size(), 0};
    // Frames follow each other until the cluster is full; what follows it is padding.
    while (output.pos < output.size && input.pos < input.size) {
        const std::size_t status = ZSTD_decompressStream(context.get(), &output, &input);
        if (ZSTD_isError(status)) break;
        if (status != 0 && input.pos == input.size) break;  // the frame needs more than the cluster holds
    }
    result.produced = output.pos;
    result.ok = output.pos == output.size;
    return result;
}

}  // namespace halvard
