#pragma once
// CRC-32C (Castagnoli), the checksum of the VHDX headers, region tables and log entries.
#include <cstdint>

#include "common/bytes.h"

namespace halvard {

std::uint32_t crc32c(Bytes data, std::uint32_t crc = 0);

// True when the little-endian 32-bit checksum stored at `checksumOffset` equals the CRC-32C of `data` computed with
// that field taken as zero.
bool checksumMatches(Bytes data, std::uint64_t checksumOffset);

}  // namespace halvard
