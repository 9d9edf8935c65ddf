#include "image/vhdx_reader.h"

#include <algorithm>
#include <cctype>

namespace halvard {

namespace {

constexpr std::uint64_t kMaxFileOffsetMB = 1ULL << 40;  // 1 EiB

bool endsWithVhdx(const std::string& path) {
    if (path.size() <= 3) return true;  // too short to carry the extension; the open below decides
    std::string tail = path.substr(path.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    return tail == "vhdx";
}

}  // namespace

bool FileReadSeekVHDX::open(const std::string& path) {
    if (requireVhdxName_ && !endsWithVhdx(path)) return fail("not a vhd file");
    if (!file_.open(path)) return fail("invalid handle ...", file_.error());
    imageFileSize = file_.size();

    layout_ = vhdx::readLayout(file_, vhdx::PositionalRule::Reader);
    if (!layout_.ok) return fail(layout_.error);

    virtualDiskSize_ = layout_.virtualDiskSize;
    logicalSectorSize_ = layout_.logicalSectorSize;
    blockSize_ = layout_.blockSize;
    if (overrides_.userDiskSize > 0) virtualDiskSize_ = static_cast<std::uint64_t>(overrides_.userDiskSize);
    if (overrides_.userLogicalSectorSize != 0) logicalSectorSize_ = overrides_.userLogicalSectorSize;
    if (overrides_.userBlockSize != 0) blockSize_ = overrides_.userBlockSize;

    if (std::string problem = vhdx::checkBlockSize(blockSize_); !problem.empty()) return fail(problem);
    if (std::string problem = vhdx::checkLogicalSectorSize(logicalSectorSize_); !problem.empty()) return fail(problem);

    sectorsPerBlock_ = static_cast<std::uint32_t>(blockSize_ / kSectorSize);
    chunkRatio_ = vhdx::chunkRatio(logicalSectorSize_, blockSize_);
    totalSectors = virtualDiskSize_ / kSectorSize;

    // The BAT as the region states it, but never more than the file holds.
    std::uint64_t batBytes = layout_.batLength;
    if (layout_.batOffset >= imageFileSize)
        batBytes = 0;
    else
        batBytes = std::min(batBytes, imageFileSize - layout_.batOffset);
    const std::uint64_t entries = (batBytes + 7) / 8;
    std::vector<std::uint8_t> bat(entries * 8, 0);
    file_.readAt(layout_.batOffset, bat.data(), batBytes);  // a short read leaves the rest unallocated

    // Every chunk-ratio payload entries one sector-bitmap entry follows; it is dropped.
    blockMap.clear();
    blockMap.reserve(entries);
    allocatedBlocks_ = 0;
    blocksPastEnd_ = 0;
    std::uint64_t inChunk = 0;
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint64_t entry = le64(bat, i * 8);
        ++inChunk;
        if (chunkRatio_ < (1ULL << 32) && inChunk > chunkRatio_) {
            inChunk = 0;
            continue;
        }
        // Offsets beyond any real file are kept, but capped so that the byte arithmetic cannot wrap.
        const std::uint64_t sectors = std::min<std::uint64_t>(vhdx::batFileOffsetMB(entry), kMaxFileOffsetMB) * 2048;
        blockMap.push_back(sectors);
        if (sectors != 0) {
            ++allocatedBlocks_;
            if (sectors * kSectorSize >= imageFileSize) ++blocksPastEnd_;
        }
    }
    return true;
}

SectorMapping FileReadSeekVHDX::mapSector(std::uint64_t sector) const {
    SectorMapping mapping;
    if (sectorsPerBlock_ == 0) return mapping;
    const std::uint64_t block = sector / sectorsPerBlock_;
    const std::uint64_t within = sector % sectorsPerBlock_;
    if (block >= blockMap.size() || block > 0xFFFFFFFFULL) return mapping;
    mapping.runSectors = sectorsPerBlock_ - within;
    const std::uint64_t entry = blockMap[block];
    if (entry == 0 || entry == 0xFFFFFFFFULL) {
        mapping.state = SectorMapping::State::Unallocated;
        return mapping;
    }
    mapping.state = SectorMapping::State::Allocated;
    mapping.fileOffset = (entry + within) * kSectorSize;
    return mapping;
}

}  // namespace halvard
