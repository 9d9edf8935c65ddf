#include "image/vhd_reader.h"

#include <algorithm>
#include <cctype>

namespace halvard {

namespace {

constexpr std::uint64_t kFlatMapSectors = 2048;  // one `blockMap` entry per MiB of a fixed disk

bool endsWithVhd(const std::string& path) {
    if (path.size() <= 3) return true;  // too short to carry the extension; the open below decides
    std::string tail = path.substr(path.size() - 3);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == "vhd";
}

}  // namespace

bool FileReadSeekVHD::open(const std::string& path) {
    if (requireVhdName_ && !endsWithVhd(path)) return fail("Not a vhd file");
    if (!file_.open(path)) return fail("Invalid handle ...", file_.error());
    imageFileSize = file_.size();
    blockMap.clear();
    allocatedBlocks_ = 0;
    blocksPastEnd_ = 0;
    sectorsPerBlock_ = 0;
    dataSectors_ = 0;

    layout_ = vhd::readLayout(file_);
    if (!layout_.ok) return fail(layout_.error);
    totalSectors = layout_.footer.currentSize / kSectorSize;

    if (layout_.fixed) {
        // Whole sectors only: a partial last sector would read the footer's bytes as data.
        dataSectors_ = layout_.dataLength / kSectorSize;
        const std::uint64_t entries = (dataSectors_ + kFlatMapSectors - 1) / kFlatMapSectors;
        blockMap.reserve(entries);
        for (std::uint64_t i = 0; i < entries; ++i) blockMap.push_back(i * kFlatMapSectors);
        if (dataSectors_ < totalSectors)
            layout_.notes.push_back("the file holds " + std::to_string(layout_.dataLength) +
                                    " bytes of data, less than the disk size; the rest cannot be read");
        return true;
    }

    sectorsPerBlock_ = layout_.blockSize / kSectorSize;
    bitmapBytes_ = vhd::bitmapBytes(layout_.blockSize);
    std::vector<std::uint8_t> table(layout_.tableEntries * 4, 0);
    table.resize(file_.readAt(layout_.tableOffset, table.data(), table.size()));
    const std::uint64_t entries = table.size() / 4;
    if (entries == 0) return fail("The VHD block table is empty or lies outside the file (is the image cut short?)");
    const std::uint64_t needed = (totalSectors + sectorsPerBlock_ - 1) / sectorsPerBlock_;
    blockMap.reserve(entries);
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint32_t entry = be32(table, i * 4);
        blockMap.push_back(entry);
        if (entry == vhd::kUnallocated || i >= needed) continue;
        ++allocatedBlocks_;
        if (static_cast<std::uint64_t>(entry) * kSectorSize + bitmapBytes_ >= imageFileSize) ++blocksPastEnd_;
    }
    return true;
}

SectorMapping FileReadSeekVHD::mapSector(std::uint64_t sector) const {
    SectorMapping mapping;
    if (layout_.fixed) {
        if (sector >= dataSectors_) return mapping;
        mapping.state = SectorMapping::State::Allocated;
        mapping.fileOffset = sector * kSectorSize;
        mapping.runSectors = dataSectors_ - sector;
        return mapping;
    }
    if (sectorsPerBlock_ == 0) return mapping;
    const std::uint64_t block = sector / sectorsPerBlock_;
    const std::uint64_t within = sector % sectorsPerBlock_;
    if (block >= blockMap.size()) return mapping;
    mapping.runSectors = sectorsPerBlock_ - within;
    const std::uint64_t entry = blockMap[block];
    if (entry == vhd::kUnallocated) {
        mapping.state = SectorMapping::State::Unallocated;
        return mapping;
    }
    // The entry is 32 bits, so the offset stays far below 2^64.
    mapping.state = SectorMapping::State::Allocated;
    mapping.fileOffset = entry * kSectorSize + bitmapBytes_ + within * kSectorSize;
    return mapping;
}

}  // namespace halvard
