#include "image/file_overlay.h"

#include <algorithm>
#include <cstring>

namespace halvard {

void FileOverlay::clear(std::uint64_t offset, std::uint64_t length) {
    const std::uint64_t last = offset + length;
    auto it = pieces_.lower_bound(offset);
    if (it != pieces_.begin()) {
        auto before = std::prev(it);
        if (before->first + before->second.length > offset) it = before;
    }
    while (it != pieces_.end() && it->first < last) {
        const std::uint64_t start = it->first;
        Piece piece = std::move(it->second);
        it = pieces_.erase(it);
        const std::uint64_t end = start + piece.length;
        if (start < offset) {
            Piece head{offset - start, {}};
            if (!piece.data.empty()) head.data.assign(piece.data.begin(), piece.data.begin() + (offset - start));
            pieces_.emplace(start, std::move(head));
        }
        if (end > last) {
            Piece tail{end - last, {}};
            if (!piece.data.empty()) tail.data.assign(piece.data.begin() + (last - start), piece.data.end());
            it = pieces_.emplace(last, std::move(tail)).first;
            break;
        }
    }
}

void FileOverlay::write(std::uint64_t offset, Bytes data) {
    if (data.empty() || offset + data.size() < offset) return;
    clear(offset, data.size());
    pieces_.emplace(offset, Piece{data.size(), std::vector<std::uint8_t>(data.begin(), data.end())});
}

void FileOverlay::zero(std::uint64_t offset, std::uint64_t length) {
    if (length == 0 || offset + length < offset) return;
    clear(offset, length);
    pieces_.emplace(offset, Piece{length, {}});
}

std::uint64_t FileOverlay::end() const {
    if (pieces_.empty()) return 0;
    const auto& [start, piece] = *pieces_.rbegin();
    return start + piece.length;
}

void FileOverlay::applyTo(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) const {
    const std::uint64_t last = offset + length;
    auto it = pieces_.upper_bound(offset);
    if (it != pieces_.begin()) --it;
    for (; it != pieces_.end() && it->first < last; ++it) {
        const std::uint64_t start = std::max(it->first, offset);
        const std::uint64_t end = std::min(it->first + it->second.length, last);
        if (start >= end) continue;
        std::uint8_t* out = buffer + (start - offset);
        if (it->second.data.empty())
            std::memset(out, 0, end - start);
        else
            std::memcpy(out, it->second.data.data() + (start - it->first), end - start);
    }
}

}  // namespace halvard
