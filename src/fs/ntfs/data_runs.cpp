#include "fs/ntfs/data_runs.h"

#include <algorithm>

namespace halvard::ntfs_format {

RunListDecoding decodeRunList(Bytes runList, std::uint64_t clusterLimit) {
    RunListDecoding result;
    std::uint64_t position = 0;
    std::uint64_t startCluster = 0;  // kept unsigned so that damaged offsets wrap instead of overflowing
    std::uint64_t total = 0;
    while (true) {
        if (position >= runList.size()) {
            result.damaged = true;  // used up without its terminator
            break;
        }
        const std::uint8_t header = runList[position];
        const unsigned lengthBytes = header & 0x0F;
        const unsigned offsetBytes = header >> 4;
        if (lengthBytes == 0) break;
        if (lengthBytes > 8 || offsetBytes > 8 || !fits(runList, position + 1, lengthBytes + offsetBytes)) {
            result.damaged = true;
            break;
        }
        std::uint64_t length = 0;
        for (unsigned i = 0; i < lengthBytes; ++i) length |= static_cast<std::uint64_t>(runList[position + 1 + i]) << (8 * i);
        std::uint64_t offset = 0;
        for (unsigned i = 0; i < offsetBytes; ++i)
            offset |= static_cast<std::uint64_t>(runList[position + 1 + lengthBytes + i]) << (8 * i);
        if (offsetBytes > 0 && offsetBytes < 8 && (offset >> (8 * offsetBytes - 1)) & 1)
            offset |= ~0ULL << (8 * offsetBytes);  // sign-extend from the field's top bit
        position += 1 + lengthBytes + offsetBytes;

        DataRun run;
        run.length = length;
        if (offsetBytes == 0) {
            run.sparse = true;
        } else {
            startCluster += offset;
            run.startCluster = static_cast<std::int64_t>(startCluster);
        }
        if (length > clusterLimit - total) {
            result.damaged = true;
            run.length = clusterLimit - total;
            if (run.length > 0) result.runs.push_back(run);
            break;
        }
        total += length;
        if (length > 0) result.runs.push_back(run);
    }
    return result;
}

void RunMap::append(const std::vector<DataRun>& runs, std::uint64_t firstVcn) {
    std::uint64_t vcn = std::max(firstVcn, endVcn());  // a piece never overlaps one already mapped
    for (const DataRun& run : runs) {
        if (run.length == 0) continue;
        if (vcn + run.length < vcn) break;
        pieces_.push_back({vcn, run.startCluster, run.length, run.sparse});
        vcn += run.length;
    }
}

std::uint64_t RunMap::totalClusters() const {
    std::uint64_t total = 0;
    for (const Piece& p : pieces_) total += p.length;
    return total;
}

const RunMap::Piece* RunMap::find(std::uint64_t vcn) const {
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), vcn,
                               [](std::uint64_t v, const Piece& p) { return v < p.vcn; });
    if (it == pieces_.begin()) return nullptr;
    --it;
    return vcn < it->vcn + it->length ? &*it : nullptr;
}

}  // namespace halvard::ntfs_format
