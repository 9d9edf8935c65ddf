#pragma once
// Jumps of a scan over what the image does not store (it reads as zeros and holds nothing to find). The scan asks
// at each place it is about to read how far it may jump; a stored stretch's answer is kept until the scan has
// passed it, so a fully stored disk costs one question per stretch, not one per read.
#include <cstdint>
#include <functional>
#include <string>

#include "image/stored_run.h"

namespace halvard {

// The stored-run answer of a reader at `offset` of the scanned range, looking no further than `limit` bytes.
using StoredRunQuery = std::function<StoredRun(std::uint64_t offset, std::uint64_t limit)>;

class UnstoredSkip {
public:
    // The scan covers offsets below `end`.
    UnstoredSkip(StoredRunQuery query, std::uint64_t end) : query_(std::move(query)), end_(end) {}

    // The first offset from `offset` on, in whole steps of `step` bytes, that the image may store and read:
    // `offset` itself when it does, `end` when nothing further is. The jumped bytes are counted: those not stored
    // and those that cannot be read (they would read as zeros, with an error) apart.
    std::uint64_t next(std::uint64_t offset, std::uint64_t step);

    std::uint64_t skippedBytes() const { return skipped_; }
    std::uint64_t unreadableBytes() const { return unreadable_; }
    // The end of the stored stretch that holds the offset `next` last returned (when that was stored).
    std::uint64_t storedEnd() const { return storedUntil_; }

private:
    StoredRunQuery query_;
    std::uint64_t end_;
    std::uint64_t storedUntil_ = 0;  // offsets below it were answered "stored"
    std::uint64_t storedFrom_ = 0;
    std::uint64_t skipped_ = 0;
    std::uint64_t unreadable_ = 0;
};

// The status line a scan ends with when it jumped over unstored parts, e.g. "Skipped 2047.99 GB the image does
// not store (they read as zeros)"; empty when it jumped over nothing.
std::string unstoredSkipText(std::uint64_t skippedBytes);

}  // namespace halvard
