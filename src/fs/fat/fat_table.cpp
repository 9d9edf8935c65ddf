#include "fs/fat/fat_table.h"

#include <algorithm>
#include <cstring>

namespace halvard {

namespace {
constexpr std::uint64_t kBlockBytes = 256 * 1024;
// Past this many blocks (64 MiB) the cache starts afresh: a chain walk touches few blocks at a time.
constexpr std::size_t kMaxBlocks = 256;
}  // namespace

void FatTable::reset(ReadFn read, std::uint64_t fatStart, std::uint64_t fatBytes, unsigned bits,
                     std::uint32_t clusterLimit, bool exfat) {
    std::lock_guard lock(mutex_);
    read_ = std::move(read);
    fatStart_ = fatStart;
    fatBytes_ = fatBytes;
    bits_ = bits;
    clusterLimit_ = clusterLimit;
    mask_ = bits == 32 && !exfat ? 0x0FFFFFFF : 0xFFFFFFFF;
    blocks_.clear();
}

void FatTable::bytesAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const {
    std::memset(out, 0, n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t at = offset + i;
        if (at >= fatBytes_) return;
        const std::uint64_t block = at / kBlockBytes;
        auto found = blocks_.find(block);
        if (found == blocks_.end()) {
            if (blocks_.size() >= kMaxBlocks) blocks_.clear();
            const std::uint64_t begin = block * kBlockBytes;
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(kBlockBytes, fatBytes_ - begin)), 0);
            if (read_) read_(fatStart_ + begin, bytes.data(), bytes.size());
            found = blocks_.emplace(block, std::move(bytes)).first;
        }
        out[i] = found->second[static_cast<std::size_t>(at - block * kBlockBytes)];
    }
}

std::uint32_t FatTable::entry(std::uint32_t cluster) const {
    std::lock_guard lock(mutex_);
    std::uint8_t b[4];
    switch (bits_) {
        case 12: {
            // Two entries share three bytes: the even one takes the low 12 bits, the odd one the high 12.
            bytesAt(static_cast<std::uint64_t>(cluster) + cluster / 2, b, 2);
            const std::uint32_t pair = b[0] | (static_cast<std::uint32_t>(b[1]) << 8);
            const std::uint32_t v = (cluster & 1) ? pair >> 4 : pair & 0x0FFF;
            return v >= 0xFF7 ? 0xFFFFFFFF : v;
        }
        case 16: {
            bytesAt(static_cast<std::uint64_t>(cluster) * 2, b, 2);
            const std::uint32_t v = b[0] | (static_cast<std::uint32_t>(b[1]) << 8);
            return v >= 0xFFF7 ? 0xFFFFFFFF : v;
        }
        default: {
            bytesAt(static_cast<std::uint64_t>(cluster) * 4, b, 4);
            const std::uint32_t v = (b[0] | (static_cast<std::uint32_t>(b[1]) << 8) |
                                     (static_cast<std::uint32_t>(b[2]) << 16) |
                                     (static_cast<std::uint32_t>(b[3]) << 24)) & mask_;
            return v >= (mask_ & 0xFFFFFFF7) ? 0xFFFFFFFF : v;
        }
    }
}

ClusterChain::ClusterChain(const FatTable& fat, std::uint32_t first, Way way, std::uint64_t maxClusters)
    : fat_(fat), first_(first), way_(way), remaining_(maxClusters) {}

bool ClusterChain::next(std::uint32_t& cluster) {
    if (done_ || remaining_ == 0) return false;
    if (!started_) {
        started_ = true;
        if (!fat_.namesCluster(first_)) {
            done_ = true;
            return false;
        }
        current_ = first_;
    } else if (way_ == Way::FirstOnly) {
        done_ = true;
        return false;
    } else if (way_ == Way::Contiguous) {
        if (!fat_.namesCluster(current_ + 1)) {
            done_ = true;
            return false;
        }
        ++current_;
    } else {
        if (power_ == lambda_) {
            tortoise_ = current_;
            power_ *= 2;
            lambda_ = 0;
        }
        const std::uint32_t v = fat_.entry(current_);
        ++lambda_;
        if (!fat_.namesCluster(v) || v == tortoise_) {
            loop_ = fat_.namesCluster(v);
            done_ = true;
            return false;
        }
        current_ = v;
    }
    --remaining_;
    cluster = current_;
    return true;
}

}  // namespace halvard
