#pragma once
// Field readers over byte spans. Every offset and length that comes from a disk is untrusted, so a read that
// does not fit in the span yields 0 instead of touching memory past it; callers that must tell a zero field from
// a short buffer test `fits` first.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace halvard {

using Bytes = std::span<const std::uint8_t>;

inline bool fits(Bytes data, std::uint64_t offset, std::uint64_t length) {
    return offset <= data.size() && length <= data.size() - offset;
}

// Sub-span [offset, offset + length), or an empty span when it does not fit.
inline Bytes slice(Bytes data, std::uint64_t offset, std::uint64_t length) {
    if (!fits(data, offset, length)) return {};
    return data.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

template <typename T>
T readLittle(Bytes data, std::uint64_t offset) {
    if (!fits(data, offset, sizeof(T))) return 0;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<T>(data[offset + i]) << (8 * i));
    return value;
}

template <typename T>
T readBig(Bytes data, std::uint64_t offset) {
    if (!fits(data, offset, sizeof(T))) return 0;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value = static_cast<T>((value << 8) | data[offset + i]);
    return value;
}

inline std::uint8_t u8(Bytes d, std::uint64_t o) { return readLittle<std::uint8_t>(d, o); }
inline std::uint16_t le16(Bytes d, std::uint64_t o) { return readLittle<std::uint16_t>(d, o); }
inline std::uint32_t le32(Bytes d, std::uint64_t o) { return readLittle<std::uint32_t>(d, o); }
inline std::uint64_t le64(Bytes d, std::uint64_t o) { return readLittle<std::uint64_t>(d, o); }
inline std::uint16_t be16(Bytes d, std::uint64_t o) { return readBig<std::uint16_t>(d, o); }
inline std::uint32_t be32(Bytes d, std::uint64_t o) { return readBig<std::uint32_t>(d, o); }
inline std::uint64_t be64(Bytes d, std::uint64_t o) { return readBig<std::uint64_t>(d, o); }

// True when the span holds `text` at `offset` (signatures such as "vhdxfile" or "FILE").
inline bool hasSignature(Bytes data, std::uint64_t offset, std::string_view text) {
    if (!fits(data, offset, text.size())) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (data[offset + i] != static_cast<std::uint8_t>(text[i])) return false;
    return true;
}

// Compares the span with itself shifted by one byte, which the library's memcmp does at memory speed.
inline bool allZero(Bytes data) {
    if (data.empty()) return true;
    return data[0] == 0 && std::memcmp(data.data(), data.data() + 1, data.size() - 1) == 0;
}

}  // namespace halvard
