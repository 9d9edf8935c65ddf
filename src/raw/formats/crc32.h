#pragma once
// CRC-32 (the ZIP and PNG polynomial), over a candidate's bytes in views.
#include <cstdint>

#include "raw/candidate_bytes.h"

namespace halvard::formats {

std::uint32_t crc32(Bytes data, std::uint32_t crc = 0);

// The CRC-32 of [offset, offset + length) of the candidate; nullopt when the candidate ends before.
std::optional<std::uint32_t> crc32Of(CandidateBytes& bytes, std::uint64_t offset, std::uint64_t length);

}  // namespace halvard::formats
