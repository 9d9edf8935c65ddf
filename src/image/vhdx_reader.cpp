#include "image/vhdx_reader.h"

#include <algorithm>
#include <filesystem>

#include "common/table_limit.h"
#include "image/image_kind.h"
#include "image/parent_image.h"
#include "image/vhdx_parent.h"

namespace halvard {

namespace {

constexpr std::uint64_t kMaxFileOffsetMB = 1ULL << 40;  // 1 EiB
constexpr std::uint64_t kSectorBitmapBytes = 1ULL << 20;  // one bit per logical sector of a chunk

}  // namespace

Status VhdxReader::open(const std::string& path) {
    if (requireVhdxName_ && !nameMayEndWith(path, "vhdx")) return fail("not a vhd file");
    return openLink(path, chainBelow_);
}

Status VhdxReader::openLink(const std::string& path, std::vector<std::string> chain) {
    if (Status opened = openImageFile(path, "invalid handle ..."); !opened) return opened;
    bitmaps_.clear();
    chain.push_back(canonicalImagePath(path));
    logState_ = vhdx::applyLog(file_, overrides_.replayLog);
    imageFileSize = file_.size();

    layout_ = vhdx::readLayout(file_, vhdx::PositionalRule::Reader);
    if (!layout_.status) return fail(layout_.status.message());

    virtualDiskSize_ = layout_.virtualDiskSize;
    logicalSectorSize_ = layout_.logicalSectorSize;
    blockSize_ = layout_.blockSize;
    // A size beyond the format's limit is damage (the check reports it), not a disk: read no further than it.
    virtualDiskSize_ = std::min(virtualDiskSize_, vhdx::kMaxVirtualDiskSize);
    if (overrides_.userDiskSize > 0) virtualDiskSize_ = static_cast<std::uint64_t>(overrides_.userDiskSize);
    if (overrides_.userLogicalSectorSize != 0) logicalSectorSize_ = overrides_.userLogicalSectorSize;
    if (overrides_.userBlockSize != 0) blockSize_ = overrides_.userBlockSize;

    if (const Status size = vhdx::checkBlockSize(blockSize_); !size) return fail(size.message());
    if (const Status sector = vhdx::checkLogicalSectorSize(logicalSectorSize_); !sector) return fail(sector.message());

    sectorsPerBlock_ = static_cast<std::uint32_t>(blockSize_ / kSectorSize);
    chunkRatio_ = vhdx::chunkRatio(logicalSectorSize_, blockSize_);
    totalSectors = virtualDiskSize_ / kSectorSize;
    readBat();

    if (!layout_.hasParent()) return {};
    const vhdx::ParentLocator locator = vhdx::parseParentLocator(layout_.parentLocator);
    if (!overrides_.parentPath.empty()) return openParent(overrides_.parentPath, chain);
    const std::vector<std::string> candidates = vhdx::parentCandidates(locator, path);
    for (const std::string& candidate : candidates)
        if (std::filesystem::is_regular_file(candidate)) return openParent(candidate, chain);
    std::string named;
    for (const char* key : {"relative_path", "absolute_win32_path", "volume_path"})
        if (const auto it = locator.entries.find(key); named.empty() && it != locator.entries.end()) named = it->second;
    return parentNotFound({named, candidates, parentNotFoundText(candidates, "its locator names no path")});
}

Status VhdxReader::openParent(const std::string& path, const std::vector<std::string>& chain) {
    if (chain.size() >= kMaxParentChain) return fail("the chain of parent images is longer than 64");
    if (std::find(chain.begin(), chain.end(), canonicalImagePath(path)) != chain.end())
        return fail("the parent images form a loop at " + path);
    auto parent = std::make_unique<VhdxReader>();
    ImageOverrides overrides;
    overrides.replayLog = overrides_.replayLog;
    overrides.forceParent = overrides_.forceParent;
    parent->setOverrides(overrides);
    if (const Status opened = parent->openLink(path, chain); !opened)
        return fail("the parent image " + path + " cannot be read: " + opened.message());

    // The child names the content of the parent it was made from; a parent written since then would mix the two.
    const vhdx::ParentLocator locator = vhdx::parseParentLocator(layout_.parentLocator);
    const Guid have = parent->layout().currentHeader().dataWriteGuid;
    bool matches = false;
    for (const char* key : {"parent_linkage", "parent_linkage2"}) {
        const auto it = locator.entries.find(key);
        matches = matches || (it != locator.entries.end() && vhdx::linkageGuid(it->second) == have);
    }
    if (!matches) {
        const std::string text = "the parent image " + path + " is not the one this disk was made from (its data-write GUID " +
                                 have.text() + " differs from the child's parent_linkage)";
        if (Status accepted = acceptMismatchedParent(text); !accepted) return accepted;
    }
    if (parent->virtualDiskSize() != virtualDiskSize_)
        parentNotes_.push_back("the parent's disk size differs from the child's");
    parentNotes_.insert(parentNotes_.end(), parent->parentNotes().begin(), parent->parentNotes().end());
    adoptParent(std::move(parent), path);
    return {};
}

void VhdxReader::readBat() {
    // The BAT as the region states it, but never more than the file holds.
    std::uint64_t batBytes = layout_.batLength;
    if (layout_.batOffset >= imageFileSize)
        batBytes = 0;
    else
        batBytes = std::min(batBytes, imageFileSize - layout_.batOffset);
    batBytes = std::min(batBytes, maxTableEntries(sizeof(decltype(batEntries_)::value_type)) * 8);
    const std::uint64_t entries = (batBytes + 7) / 8;
    std::vector<std::uint8_t> bat(entries * 8, 0);
    file_.readAt(layout_.batOffset, bat.data(), batBytes);  // a short read leaves the rest unallocated

    // The BAT interleaves two kinds of entry. A chunk is the payload blocks one 1 MiB sector-bitmap block covers
    // (2^23 logical sectors), so the chunk ratio is 2^23 x logical sector size / block size payload entries; after
    // each chunk's payload entries comes the entry of its sector-bitmap block. Bitmap entries are kept apart from
    // the block map (only differencing images allocate them; state 6 means present), so block n of the virtual disk
    // stays blockMap[n]. Each entry holds the block's file offset in whole MiB in bits 20-63 and its state in bits 0-2.
    blockMap.clear();
    blockMap.reserve(entries);
    blockStates_.clear();
    blockStates_.reserve(entries);
    bitmapOffsets_.clear();
    batEntries_.clear();
    batEntries_.reserve(entries);
    allocatedBlocks_ = 0;
    blocksPastEnd_ = 0;
    blocksWithoutPlace_ = 0;
    blocksByState_ = {};
    const std::uint64_t neededBlocks = (virtualDiskSize_ + blockSize_ - 1) / blockSize_;
    std::uint64_t inChunk = 0;
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint64_t entry = le64(bat, i * 8);
        // Offsets beyond any real file are kept, but capped so that the byte arithmetic cannot wrap.
        const std::uint64_t sectors = std::min<std::uint64_t>(vhdx::batFileOffsetMB(entry), kMaxFileOffsetMB) * 2048;
        const unsigned state = vhdx::batState(entry);
        ++inChunk;
        if (chunkRatio_ < (1ULL << 32) && inChunk > chunkRatio_) {
            inChunk = 0;
            bitmapOffsets_.push_back(state == vhdx::kFullyPresent ? sectors * kSectorSize : 0);
            batEntries_.push_back({sectors * kSectorSize, state, true});
            continue;
        }
        blockMap.push_back(sectors);
        blockStates_.push_back(static_cast<std::uint8_t>(state));
        batEntries_.push_back({sectors * kSectorSize, state, false});
        // Only the blocks the virtual disk needs count; the table is usually longer.
        if (blockMap.size() <= neededBlocks) ++blocksByState_[state];
        if (blockMap.size() <= neededBlocks && sectors == 0 &&
            (state == vhdx::kFullyPresent || (state == vhdx::kPartiallyPresent && !layout_.hasParent())))
            ++blocksWithoutPlace_;
        if (sectors != 0) {
            ++allocatedBlocks_;
            if (sectors * kSectorSize >= imageFileSize) ++blocksPastEnd_;
        }
    }
}

bool VhdxReader::sectorInThisFile(std::uint64_t logicalSector) const {
    const std::uint64_t perChunk = kSectorBitmapBytes * 8;
    const std::uint64_t chunk = logicalSector / perChunk;
    if (chunk >= bitmapOffsets_.size() || bitmapOffsets_[chunk] == 0) return false;
    std::lock_guard<std::mutex> lock(bitmapMutex_);
    auto it = bitmaps_.find(chunk);
    if (it == bitmaps_.end()) {
        // A bitmap that cannot be read sends its sectors to the parent.
        std::vector<std::uint8_t> bits(kSectorBitmapBytes, 0);
        file_.readAt(bitmapOffsets_[chunk], bits.data(), bits.size());
        it = bitmaps_.emplace(chunk, std::move(bits)).first;
    }
    const std::uint64_t bit = logicalSector % perChunk;
    return (it->second[bit / 8] >> (bit % 8)) & 1;
}

SectorMapping VhdxReader::mapSector(std::uint64_t sector) const {
    SectorMapping mapping;
    if (sectorsPerBlock_ == 0) return mapping;
    const std::uint64_t block = sector / sectorsPerBlock_;
    const std::uint64_t within = sector % sectorsPerBlock_;
    // Like every reader's seek, a block number that needs more than 32 bits maps nowhere.
    if (block >= blockMap.size() || block > 0xFFFFFFFFULL) return mapping;
    mapping.runSectors = sectorsPerBlock_ - within;
    const std::uint64_t entry = blockMap[block];
    const unsigned state = blockStates_[block];
    // In a differencing image a block that is not present (or undefined) lies wholly in the parent, and a partially
    // present one is split sector by sector by its chunk's sector bitmap.
    if (parent_) {
        if (state == vhdx::kNotPresent || state == vhdx::kUndefined) return parentMapping(sector, mapping.runSectors);
        if (state == vhdx::kPartiallyPresent && entry != 0) {
            // The sector bitmap says, per logical sector, whether this file or the parent holds it.
            const std::uint64_t perLogical = std::max<std::uint64_t>(1, logicalSectorSize_ / kSectorSize);
            const bool here = sectorInThisFile(sector / perLogical);
            std::uint64_t run = perLogical - sector % perLogical;
            while (run < mapping.runSectors && sectorInThisFile((sector + run) / perLogical) == here) run += perLogical;
            run = std::min(run, mapping.runSectors);
            if (!here) return parentMapping(sector, run);
            mapping.runSectors = run;
        }
    }
    // 0 and 0xFFFFFFFF are the block map's two "not allocated" marks (the second is VHD's unused BAT entry; a VHDX
    // offset is a whole number of MiB, so a real entry never equals it).
    if (entry == 0 || entry == 0xFFFFFFFFULL) {
        // A block marked present has a place in the file, never offset 0 (the headers' place): such an entry is
        // damaged and the block's data cannot be found, which reads must say rather than return zeros.
        const bool present = state == vhdx::kFullyPresent || state == vhdx::kPartiallyPresent;
        mapping.state = entry == 0 && present ? SectorMapping::State::BeyondMap : SectorMapping::State::Unallocated;
        return mapping;
    }
    // A block whose state says zero or unmapped but that still carries an offset is read from it: stale data can
    // be someone's lost file.
    mapping.state = SectorMapping::State::Allocated;
    mapping.fileOffset = (entry + within) * kSectorSize;
    return mapping;
}

}  // namespace halvard
