#pragma once
// GUIDs as stored on disk: the first three fields little-endian, the last eight bytes as they are.
#include <array>
#include <cstdint>
#include <string>

#include "common/bytes.h"

namespace halvard {

struct Guid {
    std::array<std::uint8_t, 16> bytes{};

    static Guid fromBytes(Bytes data, std::uint64_t offset);
    // Parses "2DC27766-F623-4200-9D64-115E9BFD4A08"; invalid text gives the zero GUID.
    static Guid fromText(std::string_view text);
    std::string text() const;
    bool isZero() const;
    bool operator==(const Guid&) const = default;
};

}  // namespace halvard
