#pragma once
#include <memory>
#include <string>
#include <vector>

#include "image/piece_read.h"
#include "image/read_write_interface.h"
#include "image/vmdk_format.h"
#include "image/vmdk_sparse_extent.h"

namespace halvard {

// Reader for VMDK images: a hosted sparse extent on its own (monolithicSparse, also stream-optimised with
// compressed grains), or a descriptor file naming any number of extents laid end to end (sparse extents, flat
// extents at an offset in their files, zero extents), as split, flat and VMFS disks have them. A child (delta)
// disk reads the grains it does not hold through its parent, which must carry the CID the child was made from.
// `blockMap` is the grain directory when the disk is one sparse extent, else one entry per extent.
class VmdkReader final : public PieceDiskReader {
public:
    const char* formatName() const override { return "VMDK image"; }
    Status open(const std::string& path) override;

    const vmdk::Descriptor& descriptor() const { return descriptor_; }
    // The first sparse extent's header and grain geometry (zeros when there is none).
    const vmdk::SparseHeader& header() const { return firstSparse_ ? firstSparse_->header() : noHeader_; }
    std::uint64_t grainSize() const { return firstSparse_ ? firstSparse_->grainSize() : 0; }  // sectors
    std::uint32_t entriesPerGrainTable() const { return firstSparse_ ? firstSparse_->entriesPerGrainTable() : 0; }
    std::uint64_t sectorsPerGrainTable() const { return firstSparse_ ? firstSparse_->sectorsPerGrainTable() : 0; }
    bool isFlat() const { return firstSparse_ == nullptr; }  // no sparse extent at all
    bool isCompressed() const { return firstSparse_ && firstSparse_->compressed(); }
    std::size_t extentCount() const { return extents_.size(); }
    const std::vector<std::string>& notes() const { return notes_; }
    // What the open found that keeps part of the disk from being read as it was written.
    const std::vector<std::string>& damage() const { return damage_; }

    // Walks every grain table of every sparse extent (for the information command).
    using GrainCount = VmdkSparseExtent::GrainCount;
    GrainCount countGrains() const;

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;
    DiskPiece piece(std::uint64_t offset, bool decode) const override;

private:
    struct Extent {
        enum class Type { Flat, Zero, Sparse } type = Type::Zero;
        std::uint64_t start = 0;    // first sector on the virtual disk
        std::uint64_t sectors = 0;
        std::string path;
        std::unique_ptr<ImageFile> file;  // Flat
        std::uint64_t offset = 0;         // Flat: bytes into the file
        std::uint64_t stored = 0;         // Flat: sectors the file holds from the offset on
        std::unique_ptr<VmdkSparseExtent> sparse;
    };
    Status openDescriptorFile(const std::string& path);
    Status addExtent(const std::string& descriptorPath, const vmdk::Extent& extent);
    Status addSparseExtent(std::unique_ptr<ImageFile> file, const std::string& path, std::uint64_t sectors);
    Status openParent(const std::string& childPath);
    const Extent* extentAt(std::uint64_t sector) const;

    vmdk::Descriptor descriptor_;
    std::vector<Extent> extents_;
    const VmdkSparseExtent* firstSparse_ = nullptr;
    vmdk::SparseHeader noHeader_;
    std::vector<std::string> notes_;
    std::vector<std::string> damage_;
};

}  // namespace halvard
