#pragma once
// Builds small qcow2 images for tests, entry by entry: data clusters, zero flags, compressed clusters (stored
// deflate blocks), extended L2 entries with their subcluster bitmaps, backing file names, feature tables and
// internal snapshots. Cluster 0 holds the header, cluster 1 the L1 table; L2 tables and data follow as added.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace halvard::testing {

struct Qcow2Spec {
    std::uint32_t version = 3;
    std::uint32_t clusterBits = 14;  // 16 KiB
    std::uint64_t size = 4ULL << 20;
    bool extendedL2 = false;
    std::uint8_t compressionType = 0;        // 1: zstd (the bit and field are written)
    std::uint64_t extraIncompatible = 0;     // further incompatible feature bits
    std::vector<std::pair<unsigned, std::string>> featureNames;  // incompatible bit, name
    std::string backingName;
    std::string backingFormat;
    std::uint32_t cryptMethod = 0;
};

class Qcow2Builder {
public:
    explicit Qcow2Builder(Qcow2Spec spec);

    std::uint64_t clusterSize() const { return 1ULL << spec_.clusterBits; }
    // A new cluster at the end of the file holding `content` (zero-padded); returns its offset.
    std::uint64_t appendCluster(const std::vector<std::uint8_t>& content);
    // Sets the L2 entry (and with extended L2 the bitmap) of guest cluster `cluster`, making its table if needed.
    void setEntry(std::uint64_t cluster, std::uint64_t entry, std::uint64_t bitmap = 0);
    // Guest cluster `cluster` as a data cluster holding patternByte() of the guest offsets, with the bitmap given
    // (extended L2); returns its host offset.
    std::uint64_t addDataCluster(std::uint64_t cluster, std::uint64_t bitmap = 0);
    // Guest cluster `cluster` as a compressed cluster (stored deflate blocks) of patternByte() of its offsets.
    void addCompressedCluster(std::uint64_t cluster);
    // Points L1 entry `index` at `offset` (for damaged tables).
    void setL1(std::uint64_t index, std::uint64_t offset);
    // An internal snapshot of the current state: its L1 and L2 tables are copied (data clusters are shared, as a
    // real snapshot's).
    void addSnapshot(const std::string& id, const std::string& name, std::uint64_t diskSize = 0);

    std::vector<std::uint8_t> bytes() const;

private:
    std::uint64_t l2Table(std::uint64_t index);

    Qcow2Spec spec_;
    std::vector<std::uint8_t> file_;
    std::vector<std::uint64_t> l1_;
    struct Snapshot {
        std::string id, name;
        std::uint64_t l1Offset, diskSize;
    };
    std::vector<Snapshot> snapshots_;
};

}  // namespace halvard::testing
