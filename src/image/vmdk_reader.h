#pragma once
#include <memory>

#include "image/read_write_interface.h"
#include "image/vmdk_format.h"

namespace halvard {

// Reader for VMDK images held in one data file: a hosted sparse extent (monolithicSparse, also stream-optimised
// with compressed grains), or a descriptor file naming exactly one extent file (a sparse extent, or a flat one).
// `blockMap` is the grain directory (entry i = sector of grain table i, 0 = none); grain tables are read on
// demand. A child disk's parent is not consulted: grains left to the parent read as zeros.
class FileReadSeekVmdk final : public readWriteInterface {
public:
    bool open(const std::string& path) override;
    bool read(void* buffer, std::size_t length) override;
    std::string formatName() const override { return "VMDK"; }

    const vmdk::SparseHeader& header() const { return header_; }
    const vmdk::Descriptor& descriptor() const { return descriptor_; }
    bool isFlat() const { return flat_; }
    bool isCompressed() const { return compressed_; }
    const std::string& dataFilePath() const { return dataFilePath_; }  // the file the sectors come from
    std::uint64_t grainSize() const { return grainSize_; }            // sectors
    std::uint32_t entriesPerGrainTable() const { return entriesPerGrainTable_; }
    std::uint64_t sectorsPerGrainTable() const { return sectorsPerGrainTable_; }
    const std::vector<std::string>& notes() const { return notes_; }

    // Walks every grain table (for the information command). `complete` is false when tables could not be read
    // or the walk was cut short because the tables claim more than the file could hold.
    struct GrainCount {
        std::uint64_t allocated = 0;  // grains stored in the file
        std::uint64_t zero = 0;       // zero grains
        std::uint64_t pastEnd = 0;    // stored grains placed past the end of the file
        bool complete = true;
    };
    GrainCount countGrains() const;

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;

private:
    bool openSparse();
    bool openDescriptorFile(const std::string& path);
    // Grain table `index` of the directory as far as the file holds it (cached: reads mostly stay in one).
    const std::vector<std::uint32_t>& grainTable(std::uint64_t index) const;
    // The decompressed grain whose marker lies at `sector`; null when it cannot be read.
    const std::uint8_t* compressedGrain(std::uint64_t sector) const;

    vmdk::SparseHeader header_;
    vmdk::Descriptor descriptor_;
    std::string dataFilePath_;
    std::vector<std::string> notes_;
    bool flat_ = false;
    bool compressed_ = false;
    std::uint64_t flatOffset_ = 0;   // bytes
    std::uint64_t flatSectors_ = 0;
    std::uint64_t grainSize_ = 0;
    std::uint32_t entriesPerGrainTable_ = 0;
    std::uint64_t sectorsPerGrainTable_ = 0;

    // Caches; a reader serves one thread at a time.
    mutable std::uint64_t cachedTableIndex_ = ~0ULL;
    mutable std::vector<std::uint32_t> cachedTable_;
    mutable std::uint64_t cachedGrainSector_ = ~0ULL;
    mutable bool cachedGrainOk_ = false;
    mutable std::vector<std::uint8_t> cachedGrain_;
};

}  // namespace halvard
