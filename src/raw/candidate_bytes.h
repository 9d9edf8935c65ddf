#pragma once
// The bytes of one carving candidate, as a format check reads them: from the candidate's first byte up to a limit
// (its largest expected size, or the volume's end). Reads go through a small window so that a check can walk
// a file of any size in views of a few KiB, and search it for a marker.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "image/device.h"

namespace halvard {

class CandidateBytes {
public:
    static constexpr std::size_t kMaxView = 65536;

    // The whole candidate in memory (tests, fuzzing); the limit is the span's size.
    explicit CandidateBytes(Bytes memory);
    // `start` is a byte offset on `device`. Unreadable sectors read as zeros.
    CandidateBytes(const Device& device, std::uint64_t start, std::uint64_t limit);

    std::uint64_t limit() const { return limit_; }
    // Bytes read from the reader so far.
    std::uint64_t bytesRead() const { return bytesRead_; }

    // Up to `length` (at most kMaxView) bytes from `offset`: fewer at the limit, none past it. Valid until the
    // next call.
    Bytes view(std::uint64_t offset, std::size_t length);

    // The first offset in [from, to) where `pattern` begins (the pattern ends before the limit); nullopt when
    // there is none.
    std::optional<std::uint64_t> find(std::string_view pattern, std::uint64_t from, std::uint64_t to);

private:
    Bytes memory_;
    const Device* reader_ = nullptr;
    std::uint64_t start_ = 0;
    std::uint64_t limit_ = 0;
    std::vector<std::uint8_t> window_;
    std::uint64_t windowOffset_ = 0;
    std::size_t windowLength_ = 0;
    std::uint64_t bytesRead_ = 0;
};

}  // namespace halvard
