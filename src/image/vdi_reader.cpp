#include "image/vdi_reader.h"

#include <algorithm>

#include "common/table_limit.h"

namespace halvard {

namespace {

// A run may go on through blocks that lie back to back in the file (all blocks of a fixed image do), up to this
// many blocks, so that a bulk read needs one file read per run.
constexpr std::uint64_t kMaxRunBlocks = 256;

bool isStored(std::uint64_t entry) { return entry < vdi::kZeroBlock; }

}  // namespace

bool FileReadSeekVdi::open(const std::string& path) {
    if (!file_.open(path)) return fail("Invalid handle ...", file_.error());
    imageFileSize = file_.size();
    blockMap.clear();
    notes_.clear();
    allocatedBlocks_ = zeroBlocks_ = blocksPastEnd_ = 0;

    const auto head = file_.readVector(0, vdi::kHeaderSize);
    if (head.size() < vdi::kHeaderSize) return fail("The VDI header is cut short by the end of the file");
    header_ = vdi::parseHeader(head);
    if (std::string problem = vdi::checkHeader(header_); !problem.empty()) return fail(problem);
    totalSectors = header_.diskSize / kSectorSize;

    // As many entries as the header says and the file holds.
    std::uint64_t entries = header_.blocks;
    const std::uint64_t inFile =
        header_.blockMapOffset < imageFileSize ? (imageFileSize - header_.blockMapOffset) / 4 : 0;
    if (entries > inFile) {
        notes_.push_back("the block map is cut short by the end of the file (" + std::to_string(inFile) + " of " +
                         std::to_string(entries) + " entries)");
        entries = inFile;
    }
    if (entries > maxTableEntries(sizeof(std::uint64_t))) {
        entries = maxTableEntries(sizeof(std::uint64_t));
        notes_.push_back("the block map is cut to " + std::to_string(entries) +
                         " entries, the most one table may take in memory");
    }
    if (entries == 0) return fail("The VDI block map lies outside the file (is the image cut short?)");
    std::vector<std::uint8_t> map(entries * 4);
    map.resize(file_.readAt(header_.blockMapOffset, map.data(), map.size()));
    const std::uint64_t needed = header_.diskSize / header_.blockSize + (header_.diskSize % header_.blockSize != 0);
    if (header_.blocks < needed)
        notes_.push_back("the block map holds " + std::to_string(header_.blocks) + " entries but the disk needs " +
                         std::to_string(needed) + "; the rest of the disk cannot be read");
    blockMap.reserve(map.size() / 4);
    for (std::uint64_t i = 0; i < map.size() / 4; ++i) {
        const std::uint32_t entry = le32(map, i * 4);
        blockMap.push_back(entry);
        if (i >= needed) continue;
        if (entry == vdi::kZeroBlock) ++zeroBlocks_;
        if (!isStored(entry)) continue;
        ++allocatedBlocks_;
        if (blockFileOffset(entry) >= imageFileSize) ++blocksPastEnd_;
    }
    if (header_.allocatedBlocks != allocatedBlocks_)
        notes_.push_back("the header counts " + std::to_string(header_.allocatedBlocks) +
                         " allocated blocks; the block map places " + std::to_string(allocatedBlocks_));
    return true;
}

// The block size is at most 2^28 and the extra bytes at most 2^20 (checked at open), so with a 32-bit index the
// offset stays below 2^62.
std::uint64_t FileReadSeekVdi::blockFileOffset(std::uint64_t entry) const {
    const std::uint64_t stride = static_cast<std::uint64_t>(header_.blockSize) + header_.blockExtra;
    return header_.dataOffset + entry * stride + header_.blockExtra;
}

SectorMapping FileReadSeekVdi::mapSector(std::uint64_t sector) const {
    SectorMapping mapping;
    if (header_.blockSize == 0) return mapping;
    const std::uint64_t sectorsPerBlock = header_.blockSize / kSectorSize;
    const std::uint64_t block = sector / sectorsPerBlock;
    const std::uint64_t within = sector % sectorsPerBlock;
    if (block >= blockMap.size()) return mapping;
    const std::uint64_t entry = blockMap[block];
    const bool stored = isStored(entry);
    mapping.state = stored ? SectorMapping::State::Allocated : SectorMapping::State::Unallocated;
    if (stored) mapping.fileOffset = blockFileOffset(entry) + within * kSectorSize;

    std::uint64_t runBlocks = 1;
    const std::uint64_t last = std::min<std::uint64_t>(blockMap.size(), block + kMaxRunBlocks);
    for (std::uint64_t next = block + 1; next < last; ++next, ++runBlocks) {
        const std::uint64_t e = blockMap[next];
        if (stored ? !(e == entry + runBlocks && header_.blockExtra == 0) : isStored(e)) break;
    }
    mapping.runSectors = runBlocks * sectorsPerBlock - within;
    return mapping;
}

}  // namespace halvard
