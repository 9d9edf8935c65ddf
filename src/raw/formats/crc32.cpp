#include "raw/formats/crc32.h"

#include <algorithm>
#include <zlib.h>

namespace halvard::formats {

std::uint32_t crc32(Bytes data, std::uint32_t crc) {
    // zlib's CRC-32 is the ZIP and PNG one; it takes at most 4 GiB a call.
    while (!data.empty()) {
        const std::size_t part = std::min<std::size_t>(data.size(), 1u << 30);
        crc = static_cast<std::uint32_t>(::crc32(crc, data.data(), static_cast<uInt>(part)));
        data = data.subspan(part);
    }
    return crc;
}

std::optional<std::uint32_t> crc32Of(CandidateBytes& bytes, std::uint64_t offset, std::uint64_t length) {
    std::uint32_t crc = 0;
    while (length > 0) {
        const Bytes part = bytes.view(offset, static_cast<std::size_t>(std::min<std::uint64_t>(length, CandidateBytes::kMaxView)));
        if (part.empty()) return std::nullopt;
        crc = crc32(part, crc);
        offset += part.size();
        length -= part.size();
    }
    return crc;
}

}  // namespace halvard::formats
