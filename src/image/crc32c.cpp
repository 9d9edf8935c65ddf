#include "image/crc32c.h"

#include <array>

namespace halvard {

namespace {

constexpr std::array<std::uint32_t, 256> makeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kTable = makeTable();

std::uint32_t update(std::uint32_t state, std::uint8_t byte) { return kTable[(state ^ byte) & 0xFF] ^ (state >> 8); }

}  // namespace

std::uint32_t crc32c(Bytes data, std::uint32_t crc) {
    std::uint32_t state = ~crc;
    for (std::uint8_t byte : data) state = update(state, byte);
    return ~state;
}

bool checksumMatches(Bytes data, std::uint64_t checksumOffset) {
    if (!fits(data, checksumOffset, 4)) return false;
    std::uint32_t state = ~0u;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const bool inField = i >= checksumOffset && i < checksumOffset + 4;
        state = update(state, inField ? 0 : data[i]);
    }
    return ~state == le32(data, checksumOffset);
}

}  // namespace halvard
