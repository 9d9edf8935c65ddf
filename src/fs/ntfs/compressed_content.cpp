#include "fs/ntfs/compressed_content.h"

#include <algorithm>
#include <cstring>

#include "fs/ntfs/ntfs_engine.h"

namespace halvard {

CompressedContent::CompressedContent(ntfs_format::RunMap map, std::uint64_t clusterSize, unsigned exponent,
                                     std::uint64_t size, ClusterRead read)
    : map_(std::move(map)), clusterSize_(clusterSize), unitClusters_(1ULL << exponent), size_(size),
      read_(std::move(read)) {
    const std::size_t unitBytes = static_cast<std::size_t>(unitClusters_ * clusterSize_);
    input_.assign(unitBytes, 0);
    output_.assign(unitBytes, 0);
    ntfs_uncompress_setup(context_, input_.data(), output_.data(), unitBytes);
}

void CompressedContent::decodeUnit(std::uint64_t index) {
    unitIndex_ = index;
    unitDamaged_ = false;
    const std::uint64_t u = unitClusters_, cs = clusterSize_;
    const std::uint64_t unitVcn = index * u;
    const std::uint64_t endVcn = map_.endVcn();
    std::memset(input_.data(), 0, input_.size());
    unit_ = input_.data();
    if (unitVcn >= endVcn) {
        unitDamaged_ = true;  // the runs end before the data does
        return;
    }
    const std::vector<std::int64_t> clusters = NtfsEngine::clusterNumbers(map_, unitVcn, u);
    // VCNs that no run describes (a missing piece, not a hole) are damage, unlike sparse units.
    bool described = false;
    for (std::uint64_t k = 0; k < u && !described; ++k) described = map_.find(unitVcn + k) != nullptr;
    if (!described) unitDamaged_ = true;
    std::uint64_t allocated = 0;  // position of the last allocated cluster, 1-based
    for (std::uint64_t k = 0; k < u; ++k)
        if (clusters[k] >= 0) allocated = k + 1;
    if (allocated == 0) return;  // a unit of zeros
    for (std::uint64_t k = 0; k < allocated;) {
        if (clusters[k] < 0) {
            ++k;
            continue;
        }
        std::uint64_t run = 1;
        while (k + run < allocated && clusters[k + run] == clusters[k] + static_cast<std::int64_t>(run)) ++run;
        if (!read_(clusters[k], run, input_.data() + k * cs)) unitDamaged_ = true;
        k += run;
    }
    if (allocated == u) return;  // stored as it is: compression did not gain a cluster
    // The runs of a unit that ends before its last cluster are cut by the end of the attribute.
    const bool cutByEnd = unitVcn + u > endVcn && allocated == endVcn - unitVcn;
    ntfs_uncompress_reset(context_);
    context_.inputLength = static_cast<std::size_t>(allocated * cs);
    if (ntfs_uncompress_compunit(context_) != 0) {
        if (cutByEnd) return;
        unitDamaged_ = true;  // what was decoded before the fault, zeros after it
    }
    unit_ = output_.data();
}

ContentRead CompressedContent::read(std::uint64_t offset, void* buffer, std::size_t length) {
    ContentRead result;
    const std::uint64_t unitBytes = input_.size();
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (result.bytes < length && offset < size_) {
        const std::uint64_t index = offset / unitBytes;
        if (index != unitIndex_) decodeUnit(index);
        const std::uint64_t within = offset - index * unitBytes;
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>({length - result.bytes, unitBytes - within, size_ - offset}));
        std::memcpy(out + result.bytes, unit_ + within, n);
        if (unitDamaged_) result.damaged = true;
        result.bytes += n;
        offset += n;
    }
    return result;
}

}  // namespace halvard
