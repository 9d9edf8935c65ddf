#pragma once
#include <map>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "image/read_write_interface.h"
#include "image/vhd_format.h"

namespace halvard {

// Reader for VHD images. Dynamic and differencing disks: the block allocation table becomes `blockMap` (entry i =
// sector of block i's bitmap in the file, 0xFFFFFFFF = not allocated); each block's data follows its sector
// bitmap. Fixed disks: the file before the footer is the disk. A differencing disk reads through its parent (found
// by its parent locators or --parent, and checked by its unique ID): blocks the child does not hold, and in the
// blocks it holds the sectors its bitmap leaves to the parent.
class VhdReader final : public DiskReader {
public:
    const char* formatName() const override { return "VHD image"; }
    Status open(const std::string& path) override;

    // The pages accept only names ending in "vhd"; the command line detects the format by signature and turns
    // this off.
    void setRequireName(bool require) { requireVhdName_ = require; }

    const vhd::Layout& layout() const { return layout_; }
    bool isFixed() const { return layout_.fixed; }
    std::uint32_t blockSize() const { return layout_.blockSize; }
    std::uint64_t sectorsPerBlock() const { return sectorsPerBlock_; }
    std::uint64_t virtualDiskSize() const { return layout_.footer.currentSize; }
    // Blocks the BAT places in the file (among those the disk size needs), and those placed past its end.
    std::uint64_t allocatedBlocks() const { return allocatedBlocks_; }
    std::uint64_t blocksPastEnd() const { return blocksPastEnd_; }
    // What the open found that keeps part of the disk from being read as it was written.
    const std::vector<std::string>& damage() const { return damage_; }

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;

private:
    Status openParent(const std::string& childPath);
    // Bit `within` of block `block`'s sector bitmap (1: the child holds the sector).
    bool sectorInChild(std::uint64_t block, std::uint64_t within) const;

    bool requireVhdName_ = true;
    vhd::Layout layout_;
    std::uint64_t sectorsPerBlock_ = 0;
    std::uint64_t bitmapBytes_ = 0;
    std::uint64_t dataSectors_ = 0;  // fixed disks
    std::uint64_t allocatedBlocks_ = 0;
    std::uint64_t blocksPastEnd_ = 0;
    std::vector<std::string> damage_;
    std::unordered_set<std::uint64_t> blocksOverStructures_;  // their data would be the file's own header or table
    mutable std::map<std::uint64_t, std::vector<std::uint8_t>> bitmaps_;  // by block, read when first needed
    mutable std::mutex bitmapMutex_;
};

}  // namespace halvard
