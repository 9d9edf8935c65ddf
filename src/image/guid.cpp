#include "image/guid.h"

#include <cstdio>

namespace halvard {

Guid Guid::fromBytes(Bytes data, std::uint64_t offset) {
    Guid guid;
    if (!fits(data, offset, 16)) return guid;
    for (std::size_t i = 0; i < 16; ++i) guid.bytes[i] = data[offset + i];
    return guid;
}

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

Guid Guid::fromText(std::string_view text) {
    // Canonical text order of the 16 bytes; the first three groups are stored byte-reversed.
    static constexpr int kStoredIndex[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::uint8_t canonical[16];
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '-' || text[i] == '{' || text[i] == '}') continue;
        if (i + 1 >= text.size() || n >= 16) return {};
        const int hi = hexValue(text[i]);
        const int lo = hexValue(text[i + 1]);
        if (hi < 0 || lo < 0) return {};
        canonical[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
        ++i;
    }
    if (n != 16) return {};
    Guid guid;
    for (int i = 0; i < 16; ++i) guid.bytes[kStoredIndex[i]] = canonical[i];
    return guid;
}

std::string Guid::text() const {
    char buffer[40];
    const auto& b = bytes;
    std::snprintf(buffer, sizeof buffer, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[3],
                  b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return buffer;
}

bool Guid::isZero() const {
    for (auto b : bytes)
        if (b) return false;
    return true;
}

}  // namespace halvard
