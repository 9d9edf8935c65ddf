#pragma once
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "image/piece_read.h"
#include "image/qcow2_format.h"
#include "image/read_write_interface.h"

namespace halvard {

// Reader for qcow2 images (versions 2 and 3). `blockMap` is the L1 table (entry i = file offset of L2 table i,
// 0 = none) of the current state, or of the internal snapshot the overrides name; L2 tables are read on demand.
// Clusters the image does not hold read through the backing file (any format this program reads), or as zeros.
class Qcow2Reader final : public PieceDiskReader {
public:
    const char* formatName() const override { return "qcow2 image"; }
    Status open(const std::string& path) override;

    const qcow2::Header& header() const { return header_; }
    const std::vector<qcow2::Snapshot>& snapshots() const { return snapshots_; }
    std::uint64_t clusterSize() const { return header_.clusterSize(); }
    std::uint64_t virtualDiskSize() const { return diskBytes_; }
    const std::string& backingName() const { return backingName_; }
    // What was noticed on the way (the backing files read through are the parent chain).
    const std::vector<std::string>& notes() const { return notes_; }

    // Walks every L2 table (for the information command and its check).
    struct ClusterCount {
        std::uint64_t allocated = 0;   // clusters with data in the file (compressed ones too)
        std::uint64_t compressed = 0;
        std::uint64_t zero = 0;        // clusters that read as zeros without data
        std::vector<std::string> damage;  // tables or clusters past the file's end, clusters used twice, ...
    };
    ClusterCount countClusters() const;

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;
    DiskPiece piece(std::uint64_t offset, bool decode) const override;

private:
    // Where the bytes from one virtual-disk offset on come from, and for how many bytes the answer holds.
    struct Piece {
        enum class Kind { Data, Compressed, Zero, Backing, Unreadable } kind = Kind::Unreadable;
        std::uint64_t hostOffset = 0;  // Data: of the first byte; Compressed: of the cluster's stored data
        std::uint64_t storedLength = 0;  // Compressed
        std::uint64_t length = 0;
    };
    Piece resolve(std::uint64_t offset) const;
    // A compressed cluster's piece (the L2 entry says where its data lies).
    Piece compressedPiece(std::uint64_t entry, std::uint64_t inCluster) const;
    Piece resolveStandard(const std::vector<std::uint64_t>& table, std::uint64_t index, std::uint64_t inCluster) const;
    Piece resolveExtended(const std::vector<std::uint64_t>& table, std::uint64_t index, std::uint64_t inCluster) const;

    Status readL1(std::uint64_t offset, std::uint32_t entries);
    Status readSnapshots();
    Status openBacking(const std::string& childPath, const std::string& path);
    // L2 table `index` of the L1 table (cached); null when it cannot be read.
    const std::vector<std::uint64_t>* l2Table(std::uint64_t index) const;
    // Whether `length` bytes at `host` overlap the image's own header or tables (the first cluster, the L1 and
    // refcount tables): data or an L2 table placed there is damage, and reads as unreadable.
    bool inMetadata(std::uint64_t host, std::uint64_t length) const;
    // The decompressed cluster whose data starts at `hostOffset`; null when it cannot be read.
    const std::uint8_t* decompressedCluster(std::uint64_t hostOffset, std::uint64_t storedLength) const;

    qcow2::Header header_;
    std::vector<qcow2::Snapshot> snapshots_;
    std::uint64_t diskBytes_ = 0;
    std::string backingName_;
    std::vector<std::string> notes_;
    std::uint64_t l1Offset_ = 0;
    std::uint64_t l1Bytes_ = 0;
    // L1 entries that are set but give no offset: they name the header as their L2 table.
    std::set<std::uint64_t> l1AtHeader_;

    // Caches; a reader serves one thread at a time.
    mutable std::map<std::uint64_t, std::vector<std::uint64_t>> l2Cache_;
    mutable std::uint64_t cachedClusterOffset_ = ~0ULL;
    mutable bool cachedClusterOk_ = false;
    mutable std::vector<std::uint8_t> cachedCluster_;
    mutable std::vector<std::uint8_t> compressedBuffer_;
};

}  // namespace halvard
