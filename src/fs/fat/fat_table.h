#pragma once
// The file allocation table as the engines consult it, and the walk along a cluster chain.
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace halvard {

// One FAT, decoded to cluster numbers: 12-bit, 16-bit or 32-bit entries (FAT32 keeps only the low 28 bits).
// The FAT is read from the disk in blocks that stay in memory, so following a chain costs no disk read per link;
// a very large FAT is kept in part. Safe to use from several threads.
class FatTable {
public:
    // Reads `length` bytes at `offset` of the volume; false where they could not be read.
    using ReadFn = std::function<bool(std::uint64_t offset, std::uint8_t* buffer, std::size_t length)>;

    void reset(ReadFn read, std::uint64_t fatStart, std::uint64_t fatBytes, unsigned bits, std::uint32_t clusterLimit,
               bool exfat);

    // The entry of `cluster`, or 0 (free) when the cluster has none in the FAT.
    std::uint32_t entry(std::uint32_t cluster) const;
    // Whether an entry's value names a following cluster (not an end or bad mark, not free, inside the volume).
    bool namesCluster(std::uint32_t value) const { return value >= 2 && value < clusterLimit_; }
    std::uint32_t clusterLimit() const { return clusterLimit_; }

private:
    // Bytes [offset, offset + n) of the FAT through the block cache; zeros where the FAT ends.
    void bytesAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) const;

    ReadFn read_;
    std::uint64_t fatStart_ = 0;
    std::uint64_t fatBytes_ = 0;
    unsigned bits_ = 32;
    std::uint32_t clusterLimit_ = 0;
    std::uint32_t mask_ = 0xFFFFFFFF;

    mutable std::mutex mutex_;
    mutable std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> blocks_;
};

// The clusters of one file or directory, in order. Three ways: along the FAT chain; as a contiguous run (files
// stored without a chain, and everything when the drive was formatted and the FAT is gone); or the first cluster
// only. Every way stays inside the volume, and a chain that returns to an earlier cluster ends (Brent's cycle
// finding: constant memory, found within two turns of the loop).
class ClusterChain {
public:
    enum class Way { Fat, Contiguous, FirstOnly };

    ClusterChain(const FatTable& fat, std::uint32_t first, Way way = Way::Fat, std::uint64_t maxClusters = ~0ULL);

    // The next cluster (the first one on the first call); false at the end.
    bool next(std::uint32_t& cluster);
    bool endedOnLoop() const { return loop_; }

private:
    const FatTable& fat_;
    std::uint32_t first_;
    Way way_;
    std::uint64_t remaining_;
    bool started_ = false;
    bool done_ = false;
    bool loop_ = false;
    std::uint32_t current_ = 0;
    std::uint32_t tortoise_ = 0;
    std::uint64_t power_ = 1;
    std::uint64_t lambda_ = 1;
};

}  // namespace halvard
