#pragma once
// The content of an LZNT1-compressed NTFS attribute, read by compression unit: a read decodes only the units it
// touches, and the last one decoded is kept for the next read.
#include <cstdint>
#include <functional>
#include <vector>

#include "fs/file_content.h"
#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/lznt1.h"

namespace halvard {

class CompressedContent final : public FileContent {
public:
    // Reads `count` clusters from `cluster` on into `buffer`; false (zeros where unread) when any failed.
    using ClusterRead = std::function<bool(std::int64_t cluster, std::uint64_t count, std::uint8_t* buffer)>;

    // Units of 2^exponent clusters; `size` is what the file gives (units past the runs' end read as missing).
    CompressedContent(ntfs_format::RunMap map, std::uint64_t clusterSize, unsigned exponent, std::uint64_t size,
                      ClusterRead read);

    std::uint64_t size() const override { return size_; }
    ContentRead read(std::uint64_t offset, void* buffer, std::size_t length) override;

private:
    // Decodes unit `index` into unit_ (once for a run of reads inside it); whether any of it is damaged.
    void decodeUnit(std::uint64_t index);

    ntfs_format::RunMap map_;
    std::uint64_t clusterSize_;
    std::uint64_t unitClusters_;
    std::uint64_t size_;
    ClusterRead read_;
    std::vector<std::uint8_t> input_, output_;
    const std::uint8_t* unit_ = nullptr;
    bool unitDamaged_ = false;
    std::uint64_t unitIndex_ = ~0ULL;
    UncompressContext context_;
};

}  // namespace halvard
