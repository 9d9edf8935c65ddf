#include "raw/candidate_bytes.h"

#include <algorithm>
#include <cstring>

namespace halvard {

namespace {

constexpr std::uint64_t kSector = 512;
constexpr std::size_t kWindow = 4 * CandidateBytes::kMaxView;

}  // namespace

CandidateBytes::CandidateBytes(Bytes memory) : memory_(memory), limit_(memory.size()) {}

CandidateBytes::CandidateBytes(const Device& reader, std::uint64_t start, std::uint64_t limit)
    : reader_(&reader), start_(start), limit_(limit), window_(kWindow) {}

Bytes CandidateBytes::view(std::uint64_t offset, std::size_t length) {
    if (offset >= limit_) return {};
    length = static_cast<std::size_t>(std::min<std::uint64_t>({length, kMaxView, limit_ - offset}));
    if (!reader_) return memory_.subspan(static_cast<std::size_t>(offset), length);
    if (offset < windowOffset_ || offset + length > windowOffset_ + windowLength_) {
        // Reads from sector starts (candidates begin at one): every reader serves them without a partial copy.
        const std::uint64_t from = offset / kSector * kSector;
        const std::uint64_t end = std::min(limit_, from + kWindow);
        const std::size_t wanted = static_cast<std::size_t>((end - from + kSector - 1) / kSector * kSector);
        std::fill(window_.begin(), window_.end(), 0);
        reader_->readAt(start_ + from, window_.data(), wanted);
        bytesRead_ += wanted;
        windowOffset_ = from;
        windowLength_ = static_cast<std::size_t>(end - from);
    }
    return Bytes(window_.data() + (offset - windowOffset_), length);
}

std::optional<std::uint64_t> CandidateBytes::find(std::string_view pattern, std::uint64_t from, std::uint64_t to) {
    if (pattern.empty() || pattern.size() > kMaxView / 2) return std::nullopt;
    to = std::min(to, limit_);
    const auto first = static_cast<unsigned char>(pattern[0]);
    while (from < to && from + pattern.size() <= limit_) {
        const Bytes chunk = view(from, kMaxView);
        const std::size_t searchable =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size() - pattern.size() + 1, to - from));
        if (chunk.size() < pattern.size()) return std::nullopt;
        const std::uint8_t* data = chunk.data();
        for (std::size_t p = 0; p < searchable;) {
            const void* hit = std::memchr(data + p, first, searchable - p);
            if (!hit) break;
            p = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
            if (std::memcmp(data + p, pattern.data(), pattern.size()) == 0) return from + p;
            ++p;
        }
        from += searchable;
    }
    return std::nullopt;
}

}  // namespace halvard
