#pragma once
// UTF-16 names as file systems store them, converted to the UTF-8 the rest of the program uses.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace halvard {

// Decodes UTF-16 code units; an unpaired surrogate becomes U+FFFD so that a damaged name still shows.
std::string utf16ToUtf8(const std::vector<std::uint16_t>& units);

// Decodes `units` little-endian code units starting at `offset` (fewer when the span is shorter);
// with `stopAtNul` the text ends at the first zero unit.
std::string utf16leToUtf8(Bytes data, std::uint64_t offset, std::uint64_t units, bool stopAtNul = false);

// Same for big-endian code units (HFS+).
std::string utf16beToUtf8(Bytes data, std::uint64_t offset, std::uint64_t units, bool stopAtNul = false);

// Encodes UTF-8 as UTF-16 code units; invalid bytes become U+FFFD.
std::vector<std::uint16_t> utf8ToUtf16(std::string_view text);

// Appends one code point to a UTF-8 string.
void appendUtf8(std::string& out, char32_t codePoint);

}  // namespace halvard
