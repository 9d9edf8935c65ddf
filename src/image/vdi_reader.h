#pragma once
#include "image/read_write_interface.h"
#include "image/vdi_format.h"

namespace halvard {

// Reader for VDI images, dynamic, fixed or differencing: the block map becomes `blockMap` (entry i = index of block
// i in the data area; 0xFFFFFFFF = not allocated, 0xFFFFFFFE = a zero block). A differencing image reads the
// blocks it does not hold from its parent, the VDI whose UUID is the child's parent UUID (looked for beside the
// child and in the folder above, as snapshots are laid out); zero blocks read as zeros.
class VdiReader final : public DiskReader {
public:
    const char* formatName() const override { return "VDI image"; }
    Status open(const std::string& path) override;

    const vdi::Header& header() const { return header_; }
    std::uint64_t allocatedBlocks() const { return allocatedBlocks_; }  // among those the disk size needs
    std::uint64_t zeroBlocks() const { return zeroBlocks_; }
    std::uint64_t blocksPastEnd() const { return blocksPastEnd_; }
    const std::vector<std::string>& notes() const { return notes_; }
    // What the open found that keeps part of the disk from being read as it was written.
    const std::vector<std::string>& damage() const { return damage_; }

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;

private:
    std::uint64_t blockFileOffset(std::uint64_t entry) const;
    Status openParent(const std::string& childPath);
    // The VDI file beside the child or in the folder above whose UUID is `uuid`; empty when there is none.
    std::string findParent(const std::string& childPath, const Guid& uuid) const;

    vdi::Header header_;
    std::uint64_t allocatedBlocks_ = 0;
    std::uint64_t zeroBlocks_ = 0;
    std::uint64_t blocksPastEnd_ = 0;
    std::vector<std::string> notes_;
    std::vector<std::string> damage_;
};

}  // namespace halvard
