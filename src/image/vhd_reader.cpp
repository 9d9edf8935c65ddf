#include "image/vhd_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "image/image_kind.h"
#include "image/parent_image.h"
#include "image/vhd_parent.h"

namespace halvard {

namespace {

constexpr std::uint64_t kFlatMapSectors = 2048;  // one `blockMap` entry per MiB of a fixed disk

}  // namespace

Status VhdReader::open(const std::string& path) {
    if (requireVhdName_ && !nameMayEndWith(path, "vhd")) return fail("Not a vhd file");
    if (Status opened = openImageFile(path); !opened) return opened;
    allocatedBlocks_ = 0;
    blocksPastEnd_ = 0;
    damage_.clear();
    blocksOverStructures_.clear();
    sectorsPerBlock_ = 0;
    dataSectors_ = 0;
    bitmaps_.clear();

    layout_ = vhd::readLayout(file_);
    if (!layout_.status) return fail(layout_.status.message());
    if (layout_.footer.currentSize > static_cast<std::uint64_t>(INT64_MAX))
        return fail("The VHD footer is damaged (a disk size of " + std::to_string(layout_.footer.currentSize) +
                    " bytes is beyond any disk)");
    totalSectors = layout_.footer.currentSize / kSectorSize;

    if (layout_.fixed) {
        // Whole sectors only: a partial last sector would read the footer's bytes as data.
        dataSectors_ = layout_.dataLength / kSectorSize;
        const std::uint64_t entries = (dataSectors_ + kFlatMapSectors - 1) / kFlatMapSectors;
        blockMap.reserve(entries);
        for (std::uint64_t i = 0; i < entries; ++i) blockMap.push_back(i * kFlatMapSectors);
        // The footer's size stands (it is the disk's); what the file does not hold is unreadable, in one answer.
        if (dataSectors_ < totalSectors)
            layout_.notes.push_back("the file holds " + std::to_string(layout_.dataLength) +
                                    " bytes of data, less than the disk size; the rest cannot be read");
        return {};
    }

    sectorsPerBlock_ = layout_.blockSize / kSectorSize;
    bitmapBytes_ = vhd::bitmapBytes(layout_.blockSize);
    std::vector<std::uint8_t> table(layout_.tableEntries * 4, 0);
    table.resize(file_.readAt(layout_.tableOffset, table.data(), table.size()));
    const std::uint64_t entries = table.size() / 4;
    if (entries == 0) return fail("The VHD block table is empty or lies outside the file (is the image cut short?)");
    const std::uint64_t needed = (totalSectors + sectorsPerBlock_ - 1) / sectorsPerBlock_;
    if (entries < needed)
        damage_.push_back("the block table describes " + std::to_string(entries) + " of the disk's " +
                          std::to_string(needed) + " blocks; the rest of the disk cannot be read");
    // The footer copy, the dynamic header and the block table (the entries the disk needs; a damaged count may
    // claim the whole file): a block placed over them would read them as data.
    const std::uint64_t structures[3][2] = {{0, vhd::kFooterSize},
                                            {layout_.headerOffset, layout_.headerOffset + vhd::kDynamicHeaderSize},
                                            {layout_.tableOffset, layout_.tableOffset + std::min(entries, needed) * 4}};
    blockMap.reserve(entries);
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint32_t entry = be32(table, i * 4);
        blockMap.push_back(entry);
        if (entry == vhd::kUnallocated || i >= needed) continue;
        ++allocatedBlocks_;
        const std::uint64_t start = static_cast<std::uint64_t>(entry) * kSectorSize;
        const std::uint64_t end = start + bitmapBytes_ + layout_.blockSize;
        if (start + bitmapBytes_ >= imageFileSize) ++blocksPastEnd_;
        for (const auto& s : structures)
            if (start < s[1] && s[0] < end) {
                blocksOverStructures_.insert(i);
                break;
            }
    }
    if (!blocksOverStructures_.empty())
        damage_.push_back(std::to_string(blocksOverStructures_.size()) +
                          " blocks are placed over the image's footer copy, header or block table; they cannot be read");
    if (layout_.footer.diskType == vhd::kDifferencing) return openParent(path);
    return {};
}

Status VhdReader::openParent(const std::string& childPath) {
    std::string path = overrides_.parentPath;
    if (path.empty()) {
        const std::vector<std::string> candidates = vhd::parentCandidates(file_, layout_.header, childPath);
        for (const std::string& candidate : candidates)
            if (std::filesystem::is_regular_file(candidate)) {
                path = candidate;
                break;
            }
        if (path.empty())
            return parentNotFound({layout_.header.parentName, candidates,
                                   parentNotFoundText(candidates, "its locators name no path")});
    }
    OpenedParent parent = openParentImage(path, chainForParent(childPath), overrides_);
    if (!parent.reader) return fail(parent.error);
    // The child records its parent's unique ID; another disk, or one recreated since, would mix two disks.
    if (const auto* vhdParent = dynamic_cast<const VhdReader*>(parent.reader.get())) {
        const auto& have = vhdParent->layout().footer.uniqueId;
        if (std::memcmp(have, layout_.header.parentUniqueId, sizeof have) != 0) {
            const std::string text = "the parent image " + path +
                                     " is not the one this disk was made from (its unique ID differs from the child's "
                                     "parent unique ID)";
            if (Status accepted = acceptMismatchedParent(text); !accepted) return accepted;
        }
        parentNotes_.insert(parentNotes_.end(), vhdParent->parentNotes().begin(), vhdParent->parentNotes().end());
    }
    adoptParent(std::move(parent.reader), path);
    if (parent_->totalSectors != totalSectors) parentNotes_.push_back("the parent's disk size differs from the child's");
    return {};
}

bool VhdReader::sectorInChild(std::uint64_t block, std::uint64_t within) const {
    std::lock_guard<std::mutex> lock(bitmapMutex_);
    auto it = bitmaps_.find(block);
    if (it == bitmaps_.end()) {
        // A bitmap that cannot be read sends its sectors to the parent.
        std::vector<std::uint8_t> bits(bitmapBytes_, 0);
        file_.readAt(blockMap[block] * kSectorSize, bits.data(), bits.size());
        if (bitmaps_.size() >= 4096) bitmaps_.clear();
        it = bitmaps_.emplace(block, std::move(bits)).first;
    }
    // The first sector is the most significant bit of the first byte.
    return within / 8 < it->second.size() && ((it->second[within / 8] >> (7 - within % 8)) & 1) != 0;
}

SectorMapping VhdReader::mapSector(std::uint64_t sector) const {
    SectorMapping mapping;
    if (layout_.fixed) {
        if (sector >= dataSectors_) {
            // Past the data the file holds: unreadable up to the disk's end, in one answer.
            mapping.runSectors = sector < totalSectors ? totalSectors - sector : 1;
            return mapping;
        }
        mapping.state = SectorMapping::State::Allocated;
        mapping.fileOffset = sector * kSectorSize;
        mapping.runSectors = dataSectors_ - sector;
        return mapping;
    }
    if (sectorsPerBlock_ == 0) return mapping;
    const std::uint64_t block = sector / sectorsPerBlock_;
    const std::uint64_t within = sector % sectorsPerBlock_;
    if (block >= blockMap.size()) {
        // Past the block table: nothing there can be found, up to the disk's end.
        mapping.runSectors = sector < totalSectors ? totalSectors - sector : 1;
        return mapping;
    }
    mapping.runSectors = sectorsPerBlock_ - within;
    const std::uint64_t entry = blockMap[block];
    if (entry != vhd::kUnallocated && blocksOverStructures_.count(block)) return mapping;  // unreadable
    if (entry == vhd::kUnallocated) {
        if (parent_) return parentMapping(sector, mapping.runSectors);
        mapping.state = SectorMapping::State::Unallocated;
        return mapping;
    }
    if (parent_) {
        // The block's bitmap says, sector by sector, whether the child or the parent holds it.
        const bool here = sectorInChild(block, within);
        std::uint64_t run = 1;
        while (run < mapping.runSectors && sectorInChild(block, within + run) == here) ++run;
        if (!here) return parentMapping(sector, run);
        mapping.runSectors = run;
    }
    // The entry is 32 bits, so the offset stays far below 2^64.
    mapping.state = SectorMapping::State::Allocated;
    mapping.fileOffset = entry * kSectorSize + bitmapBytes_ + within * kSectorSize;
    return mapping;
}

}  // namespace halvard
