#pragma once
#include "image/read_write_interface.h"
#include "image/vhdx_format.h"

namespace halvard {

// Reader for VHDX images: the block allocation table becomes `blockMap` (entry i = file position of payload
// block i in sectors, 0 = not allocated); the sector-bitmap entries interleaved in the BAT are dropped.
class FileReadSeekVHDX final : public readWriteInterface {
public:
    bool open(const std::string& path) override;
    std::string formatName() const override { return "VHDX"; }

    // The image page and the volume list page accept only names ending in "vhdx"; the command line detects the
    // format by signature and turns this off.
    void setRequireVhdxName(bool require) { requireVhdxName_ = require; }

    std::uint32_t sectorsPerBlock() const { return sectorsPerBlock_; }
    std::uint64_t blockSize() const { return blockSize_; }
    std::uint64_t logicalSectorSize() const override { return logicalSectorSize_; }
    std::uint64_t virtualDiskSize() const { return virtualDiskSize_; }
    std::uint64_t chunkRatio() const { return chunkRatio_; }
    const vhdx::Layout& layout() const { return layout_; }
    // Payload blocks the BAT places in the file, and those placed past the file's end (a truncated image).
    std::uint64_t allocatedBlocks() const { return allocatedBlocks_; }
    std::uint64_t blocksPastEnd() const { return blocksPastEnd_; }

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;

private:
    bool requireVhdxName_ = true;
    std::uint32_t sectorsPerBlock_ = 0;
    std::uint64_t blockSize_ = 0;
    std::uint64_t logicalSectorSize_ = 0;
    std::uint64_t virtualDiskSize_ = 0;
    std::uint64_t chunkRatio_ = 0;
    std::uint64_t allocatedBlocks_ = 0;
    std::uint64_t blocksPastEnd_ = 0;
    vhdx::Layout layout_;
};

}  // namespace halvard
