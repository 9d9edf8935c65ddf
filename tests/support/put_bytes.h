#pragma once
// Writing fields into the byte buffers the test builders make, the counterpart of common/bytes.h's readers. The
// buffer must already be long enough.
#include <cstdint>
#include <cstring>
#include <vector>

namespace halvard::testing {

// The bytes of a structure, sector or volume a test builds.
using ByteVector = std::vector<std::uint8_t>;

inline void putLe(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void putBe(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
}
inline void putLe16(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint16_t v) { putLe(b, at, v, 2); }
inline void putLe32(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint32_t v) { putLe(b, at, v, 4); }
inline void putLe64(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t v) { putLe(b, at, v, 8); }
inline void putBe16(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint16_t v) { putBe(b, at, v, 2); }
inline void putBe32(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint32_t v) { putBe(b, at, v, 4); }
inline void putBe64(std::vector<std::uint8_t>& b, std::uint64_t at, std::uint64_t v) { putBe(b, at, v, 8); }
// The text's bytes, without its terminating zero.
inline void putText(std::vector<std::uint8_t>& b, std::uint64_t at, const char* text) {
    std::memcpy(b.data() + at, text, std::strlen(text));
}

}  // namespace halvard::testing
