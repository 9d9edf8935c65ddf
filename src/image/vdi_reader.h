#pragma once
#include "image/read_write_interface.h"
#include "image/vdi_format.h"

namespace halvard {

// Reader for VDI images, dynamic or fixed: the block map becomes `blockMap` (entry i = index of block i in the
// data area; 0xFFFFFFFF = not allocated, 0xFFFFFFFE = a zero block, both read as zeros). A differencing image's
// parent is not consulted: blocks it leaves to the parent read as zeros.
class FileReadSeekVdi final : public readWriteInterface {
public:
    bool open(const std::string& path) override;
    std::string formatName() const override { return "VDI"; }

    const vdi::Header& header() const { return header_; }
    std::uint64_t allocatedBlocks() const { return allocatedBlocks_; }  // among those the disk size needs
    std::uint64_t zeroBlocks() const { return zeroBlocks_; }
    std::uint64_t blocksPastEnd() const { return blocksPastEnd_; }
    const std::vector<std::string>& notes() const { return notes_; }

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;

private:
    std::uint64_t blockFileOffset(std::uint64_t entry) const;

    vdi::Header header_;
    std::uint64_t allocatedBlocks_ = 0;
    std::uint64_t zeroBlocks_ = 0;
    std::uint64_t blocksPastEnd_ = 0;
    std::vector<std::string> notes_;
};

}  // namespace halvard
