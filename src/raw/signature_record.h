#pragma once
// One record of a signature definition file. Despite the ".txt" name these files are binary: records of exactly
// 173 bytes back to back, little-endian, no header and no trailer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/bytes.h"

namespace halvard {

inline constexpr std::size_t kSignatureRecordSize = 173;
inline constexpr std::size_t kMaxSignatureLength = 10;
inline constexpr std::size_t kExtensionUnits = 4;
inline constexpr std::size_t kCategoryUnits = 50;
// The record index and the engine's definition ids are one byte.
inline constexpr std::size_t kMaxDefinitions = 256;
// A size field is read from the file's first sector only.
inline constexpr std::int64_t kHeaderSectorSize = 512;

struct SignatureRecord {
    std::vector<std::uint16_t> extension;        // up to 4 UTF-16 units, no dot
    std::int16_t startSignatureOffset = 0;       // from the start of the file's first sector
    std::uint8_t extensionLength = 0;            // characters as typed, modulo 256
    std::vector<std::uint8_t> startSignature;    // up to 10 bytes; 0x2A matches any byte
    std::vector<std::uint8_t> endSignature;      // up to 10 bytes; empty: no end signature
    std::uint8_t recordIndex = 0xFF;             // position in its file
    std::int32_t sizeFieldOffset = -1;           // -1: no size field
    std::int32_t sizeFieldLength = 0;
    std::int32_t headerSize = 0;
    bool sizeIncludesHeader = false;
    // Bytes that follow the end signature and still belong to the file (a ZIP's end record carries 18 after its
    // signature). Kept in the first reserved field, so files that leave it 0 read as before.
    std::int32_t endTrailerLength = 0;
    std::int64_t approxFileSize = 0;             // largest expected size
    std::int64_t skipSize = 0;                   // bytes the scan may skip after a find
    std::vector<std::uint16_t> category;         // up to 50 UTF-16 units
};

using SignatureRecordBytes = std::array<std::uint8_t, kSignatureRecordSize>;

SignatureRecordBytes encodeSignatureRecord(const SignatureRecord& record);

// Reads one record from `bytes` (fields that do not fit read as 0); signature lengths above 10 are kept as
// stored in `startLengthStored`/`endLengthStored` so that the reader can refuse them.
struct DecodedSignatureRecord {
    SignatureRecord record;
    std::uint8_t startLengthStored = 0;
    std::uint8_t endLengthStored = 0;
};
DecodedSignatureRecord decodeSignatureRecord(Bytes bytes);

}  // namespace halvard
