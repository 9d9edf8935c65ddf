#pragma once
#include <array>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "image/read_write_interface.h"
#include "image/vhdx_format.h"
#include "image/vhdx_log.h"

namespace halvard {

// Reader for VHDX images: the block allocation table becomes `blockMap` (entry i = file position of payload
// block i in sectors, 0 = not allocated). A pending log is laid over the file first (in memory), unless the
// overrides say not to. A differencing disk reads the blocks and sectors it does not hold through its parent.
class VhdxReader final : public DiskReader {
public:
    const char* formatName() const override { return "VHDX image"; }
    Status open(const std::string& path) override;

    // The image page and the volume list page accept only names ending in "vhdx"; the command line detects the
    // format by signature and turns this off.
    void setRequireName(bool require) { requireVhdxName_ = require; }

    std::uint32_t sectorsPerBlock() const { return sectorsPerBlock_; }
    std::uint64_t blockSize() const { return blockSize_; }
    std::uint64_t logicalSectorSize() const override { return logicalSectorSize_; }
    std::uint64_t virtualDiskSize() const { return virtualDiskSize_; }
    std::uint64_t chunkRatio() const { return chunkRatio_; }
    const vhdx::Layout& layout() const { return layout_; }
    const vhdx::LogState& logState() const { return logState_; }
    // Payload blocks the BAT places in the file, and those placed past the file's end (a truncated image).
    std::uint64_t allocatedBlocks() const { return allocatedBlocks_; }
    std::uint64_t blocksPastEnd() const { return blocksPastEnd_; }
    // Payload blocks the BAT marks present at file offset 0: damaged entries, whose reads fail.
    std::uint64_t blocksWithoutPlace() const { return blocksWithoutPlace_; }
    // Payload blocks by their BAT state (index = state, 0 to 7).
    const std::array<std::uint64_t, 8>& blocksByState() const { return blocksByState_; }
    // Payload and sector-bitmap entries as the BAT holds them (file offsets in bytes), for the integrity check.
    struct BatEntry {
        std::uint64_t fileOffset = 0;
        unsigned state = 0;
        bool sectorBitmap = false;
    };
    const std::vector<BatEntry>& batEntries() const { return batEntries_; }

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;

private:
    // Opens the image as one link of a parent chain; `chain` holds the files already opened below it.
    Status openLink(const std::string& path, std::vector<std::string> chain);
    Status openParent(const std::string& path, const std::vector<std::string>& chain);
    void readBat();
    // Bit `logicalSector` of its chunk's sector bitmap (1: the sector is in this file).
    bool sectorInThisFile(std::uint64_t logicalSector) const;

    bool requireVhdxName_ = true;
    std::uint32_t sectorsPerBlock_ = 0;
    std::uint64_t blockSize_ = 0;
    std::uint64_t logicalSectorSize_ = 0;
    std::uint64_t virtualDiskSize_ = 0;
    std::uint64_t chunkRatio_ = 0;
    std::uint64_t allocatedBlocks_ = 0;
    std::uint64_t blocksPastEnd_ = 0;
    std::uint64_t blocksWithoutPlace_ = 0;
    std::array<std::uint64_t, 8> blocksByState_{};
    vhdx::Layout layout_;
    vhdx::LogState logState_;

    std::vector<std::uint8_t> blockStates_;       // per payload block
    std::vector<std::uint64_t> bitmapOffsets_;    // per chunk: the sector bitmap's file offset, 0 = none
    std::vector<BatEntry> batEntries_;
    mutable std::map<std::uint64_t, std::vector<std::uint8_t>> bitmaps_;  // by chunk, read when first needed
    mutable std::mutex bitmapMutex_;
};

}  // namespace halvard
