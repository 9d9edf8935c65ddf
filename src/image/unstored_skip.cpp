#include "image/unstored_skip.h"

#include <algorithm>
#include <cstdint>

#include "common/texts.h"

namespace halvard {

std::uint64_t UnstoredSkip::next(std::uint64_t offset, std::uint64_t step) {
    if (offset >= end_ || step == 0) return offset;
    if (offset >= storedFrom_ && offset < storedUntil_) return offset;
    std::uint64_t at = offset;
    // An unreadable stretch may be followed by an unstored one and so on: each answer is one jump.
    while (at < end_) {
        const StoredRun run = query_(at, end_ - at);
        const bool jumpable = !run.stored || run.unreadable;
        // Only whole steps are jumped: a step that is partly stored is read.
        const std::uint64_t jump = run.length >= end_ - at ? end_ - at : run.length / step * step;
        if (!jumpable) {
            storedFrom_ = at;
            storedUntil_ = at + std::max<std::uint64_t>(run.length, 1);
            return at;
        }
        if (jump == 0) return at;
        (run.stored ? unreadable_ : skipped_) += jump;
        at += jump;
    }
    return end_;
}

std::string unstoredSkipText(std::uint64_t skippedBytes) {
    if (skippedBytes == 0) return {};
    const auto bytes = static_cast<std::int64_t>(std::min<std::uint64_t>(skippedBytes, INT64_MAX));
    return "Skipped " + sizeText(bytes) + " the image does not store (they read as zeros)";
}

}  // namespace halvard
