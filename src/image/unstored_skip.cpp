#include "image/unstored_skip.h"

#include <algorithm>
#include <cstdint>

#include "common/texts.h"

namespace halvard {

std::uint64_t UnstoredSkip::next(std::uint64_t offset, std::uint64_t step) {
    if (offset >= end_ || step == 0) return offset;
    if (offset >= storedFrom_ && offset < storedUntil_) return offset;
    const StoredRun run = query_(offset, end_ - offset);
    if (run.stored || run.length == 0) {
        storedFrom_ = offset;
        storedUntil_ = offset + std::max<std::uint64_t>(run.length, 1);
        return offset;
    }
    // Only whole steps are jumped: a step that is partly stored is read.
    const std::uint64_t jump = run.length >= end_ - offset ? end_ - offset : run.length / step * step;
    skipped_ += jump;
    return offset + jump;
}

std::string unstoredSkipText(std::uint64_t skippedBytes) {
    if (skippedBytes == 0) return {};
    const auto bytes = static_cast<std::int64_t>(std::min<std::uint64_t>(skippedBytes, INT64_MAX));
    return "Skipped " + sizeText(bytes) + " the image does not store (they read as zeros)";
}

}  // namespace halvard
