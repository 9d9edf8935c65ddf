#include "image/vmdk_sparse_extent.h"

#include <algorithm>
#include <cstring>

#include "image/entry_table.h"
#include "image/decompress.h"
#include "image/read_write_interface.h"

namespace halvard {

namespace {

// Runs of sectors stay small enough that their byte lengths fit in 64 bits.
constexpr std::uint64_t kMaxRunSectors = 1ULL << 54;

}  // namespace

std::string VmdkSparseExtent::open(std::unique_ptr<ImageFile> file, vmdk::Descriptor& embedded,
                                   std::vector<std::string>& notes) {
    file_ = std::move(file);
    fileSize_ = file_->size();
    directory_.clear();
    cachedTableIndex_ = cachedGrainOffset_ = ~0ULL;
    header_ = vmdk::parseSparseHeader(file_->readVector(0, 512));
    if (!header_.magicOk) return "The VMDK sparse extent header is cut short by the end of the file";
    if (header_.gdOffset == vmdk::kGrainDirectoryAtEnd) {
        // Stream-optimised images written in one pass keep the real offsets in a footer: a copy of the header
        // one sector before the end-of-stream marker.
        const vmdk::SparseHeader footer =
            fileSize_ >= 1536 ? vmdk::parseSparseHeader(file_->readVector(fileSize_ - 1024, 512)) : vmdk::SparseHeader{};
        if (!footer.magicOk || footer.gdOffset == vmdk::kGrainDirectoryAtEnd)
            return "The VMDK footer that locates the grain directory is missing (is the image cut short?)";
        header_ = footer;
        notes.push_back("the grain directory was found through the footer at the end of the file");
    }
    const vmdk::SparseHeader& h = header_;
    if (h.version > 3) return "Unsupported VMDK version " + std::to_string(h.version);
    if (h.grainSize == 0 || h.grainSize > vmdk::kMaxGrainSize || (h.grainSize & (h.grainSize - 1)) != 0)
        return "Unsupported VMDK grain size of " + std::to_string(h.grainSize) + " sectors";
    if (h.numGTEsPerGT == 0 || h.numGTEsPerGT > vmdk::kMaxGrainTableEntries ||
        static_cast<std::uint64_t>(h.numGTEsPerGT) * 4 > fileSize_)
        return "The VMDK header is damaged (" + std::to_string(h.numGTEsPerGT) + " entries per grain table)";
    if (h.capacity == 0) return "The VMDK header gives the disk a size of 0";
    compressed_ = h.compressed();
    if (compressed_) {
        if (h.compressAlgorithm != vmdk::kCompressionDeflate)
            return "Unsupported VMDK compression algorithm " + std::to_string(h.compressAlgorithm);
        if (h.grainSize > vmdk::kMaxCompressedGrainSize)
            return "Unsupported VMDK grain size of " + std::to_string(h.grainSize) + " sectors for compressed grains";
    }

    // The embedded descriptor only describes; the header alone locates the data.
    if (h.descriptorOffset != 0 && h.descriptorSize != 0 && h.descriptorOffset < fileSize_ / kSectorSize) {
        const std::uint64_t bytes = std::min(h.descriptorSize, vmdk::kMaxDescriptorBytes / kSectorSize) * kSectorSize;
        const auto raw = file_->readVector(h.descriptorOffset * kSectorSize, static_cast<std::size_t>(bytes));
        std::string text(raw.begin(), raw.end());
        text.resize(std::min(text.size(), text.find('\0')));
        embedded = vmdk::parseDescriptor(text);
        const bool blank = text.find_first_not_of(" \t\r\n") == std::string::npos;
        if (!embedded.hasCreateType && !blank) notes.push_back("the embedded descriptor is damaged (no createType)");
    }

    grainSize_ = h.grainSize;
    entriesPerGrainTable_ = h.numGTEsPerGT;
    sectorsPerGrainTable_ = grainSize_ * entriesPerGrainTable_;

    // The grain directory; its redundant copy when the primary one lies outside the file.
    const std::uint64_t fileSectors = fileSize_ / kSectorSize;
    std::uint64_t directory = h.gdOffset;
    if (directory == 0 || directory >= fileSectors) {
        directory = h.rgdOffset;
        if (directory == 0 || directory >= fileSectors) return "The VMDK grain directory lies outside the file";
        notes.push_back("the grain directory lies outside the file; its redundant copy was used");
    }
    const std::uint64_t entries = h.capacity / sectorsPerGrainTable_ + (h.capacity % sectorsPerGrainTable_ != 0);
    const std::vector<std::uint32_t> table =
        readLe32Table(*file_, directory * kSectorSize, entries, "the grain directory", notes);
    directory_.assign(table.begin(), table.end());
    if (compressed_) cachedGrain_.assign(grainSize_ * kSectorSize, 0);
    return {};
}

const std::vector<std::uint32_t>& VmdkSparseExtent::grainTable(std::uint64_t index) const {
    if (index == cachedTableIndex_) return cachedTable_;
    cachedTableIndex_ = index;
    cachedTable_.clear();
    const std::uint64_t sector = index < directory_.size() ? directory_[index] : 0;
    if (sector == 0) return cachedTable_;
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(entriesPerGrainTable_) * 4);
    raw.resize(file_->readAt(sector * kSectorSize, raw.data(), raw.size()));
    cachedTable_.reserve(raw.size() / 4);
    for (std::size_t i = 0; i < raw.size() / 4; ++i) cachedTable_.push_back(le32(raw, i * 4));
    return cachedTable_;
}

VmdkSparseExtent::Mapping VmdkSparseExtent::map(std::uint64_t sector) const {
    Mapping mapping;
    if (sectorsPerGrainTable_ == 0) return mapping;
    const std::uint64_t index = sector / sectorsPerGrainTable_;
    if (index >= directory_.size()) {
        // Past the grain directory: nothing can be found up to the extent's end, in one answer (the caller cuts it
        // at the extent's size).
        mapping.sectors = sector < header_.capacity ? std::min(header_.capacity - sector, kMaxRunSectors) : 1;
        return mapping;
    }
    const std::uint64_t inTable = sector % sectorsPerGrainTable_;
    const std::uint64_t grain = inTable / grainSize_;
    const std::uint64_t within = inTable % grainSize_;
    if (directory_[index] == 0) {
        mapping.kind = Mapping::Kind::Unallocated;
        mapping.sectors = sectorsPerGrainTable_ - inTable;
        return mapping;
    }
    const std::vector<std::uint32_t>& table = grainTable(index);
    if (grain >= table.size()) {  // the table is cut short by the end of the file: the rest of it is lost
        mapping.sectors = sectorsPerGrainTable_ - inTable;
        return mapping;
    }
    const std::uint64_t entry = table[grain];
    std::uint64_t runGrains = 1;
    if (entry < 2) {  // 0: not allocated (in a child: the parent's), 1: a zero grain
        mapping.kind = entry == 0 ? Mapping::Kind::Unallocated : Mapping::Kind::Zero;
        while (grain + runGrains < table.size() && table[grain + runGrains] == entry) ++runGrains;
    } else if (compressed_) {
        mapping.kind = Mapping::Kind::Compressed;
        mapping.fileOffset = entry * kSectorSize;
    } else {
        // Entries are 32-bit and runs stay within one table, so nothing here comes near 2^64.
        mapping.kind = Mapping::Kind::Data;
        mapping.fileOffset = (entry + within) * kSectorSize;
        while (grain + runGrains < table.size() && table[grain + runGrains] == entry + runGrains * grainSize_)
            ++runGrains;
    }
    mapping.sectors = runGrains * grainSize_ - within;
    return mapping;
}

const std::uint8_t* VmdkSparseExtent::grain(std::uint64_t fileOffset) const {
    if (fileOffset == cachedGrainOffset_) return cachedGrainOk_ ? cachedGrain_.data() : nullptr;
    cachedGrainOffset_ = fileOffset;
    cachedGrainOk_ = false;
    const auto markerBytes = file_->readVector(fileOffset, vmdk::kMarkerSize);
    if (markerBytes.size() < vmdk::kMarkerSize) return nullptr;
    const vmdk::GrainMarker marker = vmdk::parseGrainMarker(markerBytes);
    // Deflate can grow incompressible data a little, never to twice its size.
    const std::uint64_t limit = 2 * cachedGrain_.size() + 1024;
    if (marker.size == 0 || marker.size > limit) return nullptr;
    const auto compressed = file_->readVector(fileOffset + vmdk::kMarkerSize, marker.size);
    if (compressed.size() < marker.size) return nullptr;
    const DecompressResult result = inflateStream(compressed, cachedGrain_);
    if (!result.ok) return nullptr;
    // A short grain (the disk's last) ends in zeros.
    std::memset(cachedGrain_.data() + result.produced, 0, cachedGrain_.size() - result.produced);
    cachedGrainOk_ = true;
    return cachedGrain_.data();
}

void VmdkSparseExtent::countGrains(GrainCount& count) const {
    if (sectorsPerGrainTable_ == 0) return;
    // Real tables each take their own room in the file; a directory whose tables claim far more than the file
    // could hold is damaged, and the walk stops rather than reading the same bytes over and over.
    const std::uint64_t budget = 2 * fileSize_ + (1 << 20);
    std::uint64_t spent = 0;
    const std::uint64_t grains = header_.capacity / grainSize_ + (header_.capacity % grainSize_ != 0);
    for (std::uint64_t index = 0; index < directory_.size(); ++index) {
        if (directory_[index] == 0) continue;
        spent += static_cast<std::uint64_t>(entriesPerGrainTable_) * 4;
        if (spent > budget) {
            count.complete = false;
            break;
        }
        const std::vector<std::uint32_t>& table = grainTable(index);
        if (table.size() < entriesPerGrainTable_) count.complete = false;
        for (std::uint64_t g = 0; g < table.size() && index * entriesPerGrainTable_ + g < grains; ++g) {
            if (table[g] == 1) ++count.zero;
            if (table[g] < 2) continue;
            ++count.allocated;
            if (static_cast<std::uint64_t>(table[g]) * kSectorSize >= fileSize_) ++count.pastEnd;
        }
    }
}

}  // namespace halvard
