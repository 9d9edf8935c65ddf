#pragma once
// A signature definition as the carving engine uses it, made from one record of a signature file.
#include <cstdint>
#include <string>
#include <vector>

#include "common/tree_control.h"
#include "raw/format_check.h"

namespace halvard {

struct SignatureDefinition {
    std::string extension;                     // up to 4 characters, UTF-8
    std::uint8_t extensionLength = 0;
    std::vector<std::uint8_t> startSignature;  // 2..10 bytes to ever match; 0x2A matches any byte
    std::vector<std::uint8_t> endSignature;    // empty: no end signature
    std::int32_t startSignatureOffset = 0;     // where the start signature stands in the first sector
    std::int32_t sizeFieldOffset = -1;         // -1: none
    std::int32_t sizeFieldLength = 0;
    std::int32_t headerSize = 0;
    bool sizeIncludesHeader = false;
    std::int32_t endTrailerLength = 0;         // bytes after the end signature that belong to the file
    std::int64_t approxFileSize = 0;
    std::int64_t skipSize = 0;
    std::string category;                      // UTF-8

    // Set for the default file's own definitions of the formats the product knows; every other definition keeps
    // None and is carved by its signatures alone.
    FormatCheck formatCheck = FormatCheck::None;

    std::uint8_t definitionId = 0;             // position in the engine's list (set by the engine)
    TreeItemId categoryItem = kNoTreeItem;     // set by the scan

    bool hasEndSignature() const { return !endSignature.empty(); }
    // Without an end signature a definition is carved either by its size field or by its approximate size.
    bool usesSizeField() const { return !hasEndSignature() && sizeFieldLength >= 1; }
};

}  // namespace halvard
