#include "image/vdi_reader.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "image/entry_table.h"
#include "image/parent_image.h"

namespace halvard {

namespace {

// A run may go on through blocks that lie back to back in the file (all blocks of a fixed image do), up to this
// many blocks, so that a bulk read needs one file read per run.
constexpr std::uint64_t kMaxRunBlocks = 256;
constexpr std::size_t kMaxFilesLookedAt = 4096;  // per folder, when looking for a parent by its UUID

bool isStored(std::uint64_t entry) { return entry < vdi::kZeroBlock; }

}  // namespace

Status VdiReader::open(const std::string& path) {
    if (Status opened = openImageFile(path); !opened) return opened;
    notes_.clear();
    damage_.clear();
    allocatedBlocks_ = zeroBlocks_ = blocksPastEnd_ = 0;

    const auto head = file_.readVector(0, vdi::kHeaderSize);
    if (head.size() < vdi::kHeaderSize) return fail("The VDI header is cut short by the end of the file");
    header_ = vdi::parseHeader(head);
    if (std::string problem = vdi::checkHeader(header_); !problem.empty()) return fail(problem);
    totalSectors = header_.diskSize / kSectorSize;

    const std::vector<std::uint32_t> map =
        readLe32Table(file_, header_.blockMapOffset, header_.blocks, "the block map", notes_);
    if (map.empty()) return fail("The VDI block map lies outside the file (is the image cut short?)");
    const std::uint64_t needed = header_.diskSize / header_.blockSize + (header_.diskSize % header_.blockSize != 0);
    if (map.size() < needed)
        damage_.push_back("the block map describes " + std::to_string(map.size()) + " of the disk's " +
                          std::to_string(needed) + " blocks; the rest of the disk cannot be read");
    if (header_.dataOffset > imageFileSize)
        damage_.push_back("the data area starts at " + std::to_string(header_.dataOffset) +
                          ", past the end of the file (" + std::to_string(imageFileSize) + " bytes)");
    blockMap.assign(map.begin(), map.end());
    for (std::uint64_t i = 0; i < map.size(); ++i) {
        const std::uint32_t entry = map[i];
        if (i >= needed) continue;
        if (entry == vdi::kZeroBlock) ++zeroBlocks_;
        if (!isStored(entry)) continue;
        ++allocatedBlocks_;
        // A block the file holds only in part is lost in part.
        if (blockFileOffset(entry) + header_.blockSize > imageFileSize) ++blocksPastEnd_;
    }
    if (header_.allocatedBlocks != allocatedBlocks_)
        notes_.push_back("the header counts " + std::to_string(header_.allocatedBlocks) +
                         " allocated blocks; the block map places " + std::to_string(allocatedBlocks_));
    const bool child = header_.imageType == vdi::kDifferencing || header_.imageType == vdi::kUndo;
    if (child && !header_.parentUuid.isZero()) return openParent(path);
    return {};
}

std::string VdiReader::findParent(const std::string& childPath, const Guid& uuid) const {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(childPath).parent_path();
    const std::string self = canonicalImagePath(childPath);
    for (const fs::path& where : {folder, folder.parent_path()}) {
        std::error_code error;
        std::size_t looked = 0;
        for (fs::directory_iterator it(where.empty() ? fs::path(".") : where, error), end; !error && it != end;
             it.increment(error)) {
            if (++looked > kMaxFilesLookedAt) break;
            std::string ext = it->path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if (ext != ".vdi" || !it->is_regular_file(error) || canonicalImagePath(it->path().string()) == self) continue;
            ImageFile candidate;
            if (!candidate.open(it->path().string())) continue;
            const auto head = candidate.readVector(0, vdi::kHeaderSize);
            if (head.size() < vdi::kHeaderSize || le32(head, 64) != vdi::kSignature) continue;
            if (vdi::parseHeader(head).uuid == uuid) return it->path().string();
        }
    }
    return {};
}

Status VdiReader::openParent(const std::string& childPath) {
    std::string path = overrides_.parentPath;
    if (path.empty()) path = findParent(childPath, header_.parentUuid);
    if (path.empty()) {
        const std::filesystem::path folder = std::filesystem::path(childPath).parent_path();
        return parentNotFound({"UUID " + header_.parentUuid.text(),
                               {(folder.empty() ? std::filesystem::path(".") : folder).string(),
                                folder.parent_path().empty() ? std::string(".") : folder.parent_path().string()},
                               "the parent image (UUID " + header_.parentUuid.text() +
                                   ") was not found beside the child or in the folder above; name it with --parent"});
    }
    OpenedParent parent = openParentImage(path, chainForParent(childPath), overrides_);
    if (!parent.reader) return fail(parent.error);
    // The child names its parent by UUID; another image (a --parent of the wrong disk) would mix two disks.
    if (const auto* vdiParent = dynamic_cast<const VdiReader*>(parent.reader.get())) {
        const vdi::Header& p = vdiParent->header();
        if (!(p.uuid == header_.parentUuid)) {
            const std::string text = "the parent image " + path + " is not the one this disk was made from (its UUID " +
                                     p.uuid.text() + " differs from the child's parent UUID " +
                                     header_.parentUuid.text() + ")";
            if (Status accepted = acceptMismatchedParent(text); !accepted) return accepted;
        }
        if (!header_.parentModificationUuid.isZero() && !(p.snapshotUuid == header_.parentModificationUuid))
            parentNotes_.push_back("the parent image was modified after this disk was made (its modification UUID " +
                             p.snapshotUuid.text() + " differs from the child's record " +
                             header_.parentModificationUuid.text() + ")");
    }
    adoptParent(std::move(parent.reader), path);
    if (parent_->totalSectors != totalSectors) notes_.push_back("the parent's disk size differs from the child's");
    return {};
}

// The block size is at most 2^28 and the extra bytes at most 2^20 (checked at open), so with a 32-bit index the
// offset stays below 2^62.
std::uint64_t VdiReader::blockFileOffset(std::uint64_t entry) const {
    const std::uint64_t stride = static_cast<std::uint64_t>(header_.blockSize) + header_.blockExtra;
    return header_.dataOffset + entry * stride + header_.blockExtra;
}

SectorMapping VdiReader::mapSector(std::uint64_t sector) const {
    SectorMapping mapping;
    if (header_.blockSize == 0) return mapping;
    const std::uint64_t sectorsPerBlock = header_.blockSize / kSectorSize;
    const std::uint64_t block = sector / sectorsPerBlock;
    const std::uint64_t within = sector % sectorsPerBlock;
    if (block >= blockMap.size()) {
        // Past the block map: nothing there can be found, up to the disk's end.
        mapping.runSectors = sector < totalSectors ? totalSectors - sector : 1;
        return mapping;
    }
    const std::uint64_t entry = blockMap[block];
    if (parent_ && entry == vdi::kUnallocated) {
        // The parent's block, and the run of them that follows.
        std::uint64_t runBlocks = 1;
        while (block + runBlocks < blockMap.size() && runBlocks < kMaxRunBlocks &&
               blockMap[block + runBlocks] == vdi::kUnallocated)
            ++runBlocks;
        return parentMapping(sector, runBlocks * sectorsPerBlock - within);
    }
    const bool stored = isStored(entry);
    mapping.state = stored ? SectorMapping::State::Allocated : SectorMapping::State::Unallocated;
    if (stored) mapping.fileOffset = blockFileOffset(entry) + within * kSectorSize;

    std::uint64_t runBlocks = 1;
    const std::uint64_t last = std::min<std::uint64_t>(blockMap.size(), block + kMaxRunBlocks);
    for (std::uint64_t next = block + 1; next < last; ++next, ++runBlocks) {
        const std::uint64_t e = blockMap[next];
        // Zero blocks and a child's unallocated blocks (its parent's) read differently.
        if (stored ? !(e == entry + runBlocks && header_.blockExtra == 0) : isStored(e) || (parent_ && e != entry)) break;
    }
    mapping.runSectors = runBlocks * sectorsPerBlock - within;
    return mapping;
}

}  // namespace halvard
