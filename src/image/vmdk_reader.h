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
class VmdkReader final : public DiskReader {
public:
    bool open(const std::string& path) override;
    bool read(void* buffer, std::size_t length) override;
    std::string formatName() const override { return "VMDK"; }
    std::optional<FileStretch> fileStretch(std::uint64_t diskOffset, std::uint64_t length) const override;

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
    // The parents read through, nearest first.
    const std::vector<std::string>& parentChain() const { return parentChain_; }
    // What is wrong with the parent read through (a parent forced with --force-parent).
    const std::vector<std::string>& parentNotes() const { return parentNotes_; }

    // Walks every grain table of every sparse extent (for the information command).
    using GrainCount = VmdkSparseExtent::GrainCount;
    GrainCount countGrains() const;

protected:
    SectorMapping mapSector(std::uint64_t sector) const override;
    StoredRun storedRunAt(std::uint64_t diskOffset) const override;

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
    bool openDescriptorFile(const std::string& path);
    bool addExtent(const std::string& descriptorPath, const vmdk::Extent& extent);
    bool addSparseExtent(std::unique_ptr<ImageFile> file, const std::string& path, std::uint64_t sectors);
    bool openParent(const std::string& childPath);
    const Extent* extentAt(std::uint64_t sector) const;
    DiskPiece piece(std::uint64_t offset, bool decode = true) const;  // decode: fill in Decoded bytes

    vmdk::Descriptor descriptor_;
    std::vector<Extent> extents_;
    const VmdkSparseExtent* firstSparse_ = nullptr;
    vmdk::SparseHeader noHeader_;
    std::vector<std::string> notes_;
    std::unique_ptr<DiskReader> parent_;
    std::uint64_t parentBytes_ = 0;
    std::vector<std::string> parentChain_;
    std::vector<std::string> parentNotes_;
};

}  // namespace halvard
