#pragma once
// NTFS run lists ("mapping pairs"): where the clusters of a non-resident attribute lie on the volume.
//
// On disk each run starts with a header byte: its low nibble is the size of the length field, its high nibble the
// size of the signed offset field (relative to the previous run's start cluster; 0 bytes = a sparse run). A header
// with a zero low nibble ends the list.
#include <cstdint>
#include <vector>

#include "common/bytes.h"
#include "common/checked_math.h"

namespace halvard::ntfs_format {

struct DataRun {
    std::int64_t startCluster = 0;  // 0 for a sparse run
    std::uint64_t length = 0;       // clusters
    bool sparse = false;
    bool operator==(const DataRun&) const = default;
};

struct RunListDecoding {
    std::vector<DataRun> runs;
    bool damaged = false;  // a field ran past the list, had an impossible size, or the runs overran the VCN count
};

// Decodes `runList`, keeping runs while their running total stays within `clusterLimit` (the attribute's
// last VCN - first VCN + 1); the run that crosses the limit is cut to it.
RunListDecoding decodeRunList(Bytes runList, std::uint64_t clusterLimit);

// Runs laid end to end in VCN order, for looking up where one cluster of the attribute lies.
class RunMap {
public:
    RunMap() = default;
    explicit RunMap(const std::vector<DataRun>& runs, std::uint64_t firstVcn = 0) { append(runs, firstVcn); }

    // Adds runs that describe the VCNs from `firstVcn` on (a later piece of an attribute).
    void append(const std::vector<DataRun>& runs, std::uint64_t firstVcn);

    struct Piece {
        std::uint64_t vcn = 0;
        std::int64_t lcn = 0;
        std::uint64_t length = 0;
        bool sparse = false;
    };
    const std::vector<Piece>& pieces() const { return pieces_; }
    // One past the highest VCN described.
    std::uint64_t endVcn() const { return pieces_.empty() ? 0 : pieces_.back().vcn + pieces_.back().length; }
    std::uint64_t totalClusters() const;

    // The piece holding `vcn`, or null for a VCN no run describes (read as a hole).
    const Piece* find(std::uint64_t vcn) const;

private:
    std::vector<Piece> pieces_;  // sorted by vcn, not overlapping
};

}  // namespace halvard::ntfs_format
