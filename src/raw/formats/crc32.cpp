#include "raw/formats/crc32.h"

#include <algorithm>
#include <array>

namespace halvard::formats {

namespace {

constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t value = n;
        for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ (0xEDB88320u & (0u - (value & 1u)));
        table[n] = value;
    }
    return table;
}();

}  // namespace

std::uint32_t crc32(Bytes data, std::uint32_t crc) {
    crc = ~crc;
    for (const std::uint8_t byte : data) crc = kCrcTable[(crc ^ byte) & 0xFFu] ^ (crc >> 8);
    return ~crc;
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
