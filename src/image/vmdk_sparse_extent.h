#pragma once
// One hosted sparse extent of a VMDK image: its header, grain directory (entry i = sector of grain table i,
// 0 = none) and grain tables (read on demand), and its compressed grains when stream-optimised.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/image_file.h"
#include "image/vmdk_format.h"

namespace halvard {

class VmdkSparseExtent {
public:
    // Opens the extent in `file`. On failure returns the user's message; `notes` gets the fallbacks taken, and
    // `embedded` the descriptor the extent carries (if any).
    std::string open(std::unique_ptr<ImageFile> file, vmdk::Descriptor& embedded, std::vector<std::string>& notes);

    // Where a sector of the extent lives and for how many sectors that holds.
    struct Mapping {
        enum class Kind { Data, Compressed, Zero, Unallocated, Unreadable } kind = Kind::Unreadable;
        std::uint64_t fileOffset = 0;  // Data: of the sector; Compressed: of the grain's marker
        std::uint64_t sectors = 1;
    };
    Mapping map(std::uint64_t sector) const;
    // The decompressed grain whose marker lies at `fileOffset`; null when it cannot be read.
    const std::uint8_t* grain(std::uint64_t fileOffset) const;

    const ImageFile& file() const { return *file_; }
    const vmdk::SparseHeader& header() const { return header_; }
    const std::vector<std::uint64_t>& directory() const { return directory_; }
    bool compressed() const { return compressed_; }
    std::uint64_t grainSize() const { return grainSize_; }  // sectors
    std::uint32_t entriesPerGrainTable() const { return entriesPerGrainTable_; }
    std::uint64_t sectorsPerGrainTable() const { return sectorsPerGrainTable_; }
    std::uint64_t capacity() const { return header_.capacity; }  // sectors

    struct GrainCount {
        std::uint64_t allocated = 0;  // grains stored in the file
        std::uint64_t zero = 0;       // zero grains
        std::uint64_t pastEnd = 0;    // stored grains placed past the end of the file
        bool complete = true;         // false: tables could not be read, or the walk was cut short
    };
    void countGrains(GrainCount& count) const;

private:
    const std::vector<std::uint32_t>& grainTable(std::uint64_t index) const;

    std::unique_ptr<ImageFile> file_;
    std::uint64_t fileSize_ = 0;
    vmdk::SparseHeader header_;
    std::vector<std::uint64_t> directory_;
    bool compressed_ = false;
    std::uint64_t grainSize_ = 0;
    std::uint32_t entriesPerGrainTable_ = 0;
    std::uint64_t sectorsPerGrainTable_ = 0;

    // Caches; a reader serves one thread at a time.
    mutable std::uint64_t cachedTableIndex_ = ~0ULL;
    mutable std::vector<std::uint32_t> cachedTable_;
    mutable std::uint64_t cachedGrainOffset_ = ~0ULL;
    mutable bool cachedGrainOk_ = false;
    mutable std::vector<std::uint8_t> cachedGrain_;
};

}  // namespace halvard
