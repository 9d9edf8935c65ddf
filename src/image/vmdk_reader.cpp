#include "image/vmdk_reader.h"

#include <algorithm>
#include <filesystem>

#include "image/parent_image.h"

namespace halvard {

namespace {

constexpr std::size_t kMaxExtents = 4096;                // a 2 GiB split of an 8 TiB disk
constexpr std::uint64_t kMaxDiskSectors = (1ULL << 54) - 1;  // just under 8 EiB: byte offsets stay in int64

// The extent file named by a descriptor, next to the descriptor; empty when the name would lead elsewhere.
std::string extentPath(const std::string& descriptorPath, const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path relative(name);
    if (name.empty() || relative.is_absolute()) return {};
    for (const auto& part : relative)
        if (part == "..") return {};
    return (fs::path(descriptorPath).parent_path() / relative).string();
}

// A CID as a number ("fffffffe", "1A2B3C4D"); -1 when it is none.
std::int64_t cidValue(const std::string& text) {
    if (text.empty() || text.size() > 8 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return -1;
    return static_cast<std::int64_t>(std::stoul(text, nullptr, 16));
}

}  // namespace

Status VmdkReader::open(const std::string& path) {
    if (Status opened = openImageFile(path); !opened) return opened;
    notes_.clear();
    damage_.clear();
    descriptor_ = {};
    extents_.clear();
    firstSparse_ = nullptr;

    const auto head = file_.readVector(0, 512);
    if (le32(head, 0) == vmdk::kMagic) {
        auto file = std::make_unique<ImageFile>();
        if (!file->open(path)) return fail("Invalid handle ...", file->error());
        if (Status added = addSparseExtent(std::move(file), path, 0); !added) return added;
    } else if (vmdk::looksLikeDescriptor(head)) {
        if (Status opened = openDescriptorFile(path); !opened) return opened;
    } else {
        return fail("Not a VMDK image: no sparse extent header (\"KDMV\") and no descriptor at its start");
    }
    if (extents_.size() == 1 && extents_.front().sparse) {
        blockMap = extents_.front().sparse->directory();
    } else {
        for (const Extent& extent : extents_) blockMap.push_back(extent.start);
    }
    if (descriptor_.hasParent()) return openParent(path);
    return {};
}

Status VmdkReader::openDescriptorFile(const std::string& path) {
    if (imageFileSize > vmdk::kMaxDescriptorBytes) return fail("The VMDK descriptor file is too large to be one");
    const auto bytes = file_.readVector(0, static_cast<std::size_t>(imageFileSize));
    std::string text(bytes.begin(), bytes.end());
    text.resize(std::min(text.size(), text.find('\0')));
    descriptor_ = vmdk::parseDescriptor(text);
    if (descriptor_.extents.empty()) return fail("The VMDK descriptor lists no extents");
    if (descriptor_.extents.size() > kMaxExtents)
        return fail("The VMDK descriptor lists " + std::to_string(descriptor_.extents.size()) + " extents, more than " +
                    std::to_string(kMaxExtents));
    const std::vector<vmdk::Extent> extents = descriptor_.extents;
    for (const vmdk::Extent& extent : extents)
        if (Status added = addExtent(path, extent); !added) return added;
    return {};
}

Status VmdkReader::addExtent(const std::string& descriptorPath, const vmdk::Extent& extent) {
    const bool flatKind = extent.type == "FLAT" || extent.type == "VMFS";
    if (!flatKind && extent.type != "SPARSE" && extent.type != "ZERO")
        return fail("VMDK extents of type " + extent.type + " are not supported");
    if (extent.sectors == 0) return fail("The VMDK descriptor gives the extent a size of 0");
    if (extent.sectors > kMaxDiskSectors - totalSectors) return fail("The VMDK extents add up to more than any disk holds");
    if (extent.type == "ZERO") {
        Extent zero;
        zero.start = totalSectors;
        zero.sectors = extent.sectors;
        extents_.push_back(std::move(zero));
        totalSectors += extent.sectors;
        return {};
    }
    const std::string dataPath = extentPath(descriptorPath, extent.fileName);
    if (dataPath.empty())
        return fail("The VMDK extent file name \"" + extent.fileName + "\" does not name a file beside the descriptor");
    auto file = std::make_unique<ImageFile>();
    if (!file->open(dataPath)) return fail("Cannot open the VMDK extent file " + dataPath, file->error());
    notes_.push_back(std::string("the data lies in the ") + (flatKind ? "flat" : "sparse") + " extent file " + dataPath);
    if (!flatKind) {
        if (le32(file->readVector(0, 4), 0) != vmdk::kMagic)
            return fail("The VMDK extent file " + dataPath + " is not a sparse extent (no \"KDMV\" magic)");
        return addSparseExtent(std::move(file), dataPath, extent.sectors);
    }
    const std::uint64_t fileSize = file->size();
    if (extent.offset >= fileSize / kSectorSize) return fail("The VMDK flat extent starts past the end of " + dataPath);
    Extent flat;
    flat.type = Extent::Type::Flat;
    flat.start = totalSectors;
    flat.sectors = extent.sectors;
    flat.path = dataPath;
    flat.offset = extent.offset * kSectorSize;
    // Only what the file holds is read; a disk larger than its extent file reads short.
    const std::uint64_t inFile = (fileSize - flat.offset) / kSectorSize;
    flat.stored = std::min(extent.sectors, inFile);
    if (inFile < extent.sectors)
        damage_.push_back("the flat extent file " + dataPath + " holds " + std::to_string(inFile) + " of its " +
                          std::to_string(extent.sectors) + " sectors; the rest cannot be read");
    flat.file = std::move(file);
    extents_.push_back(std::move(flat));
    totalSectors += extent.sectors;
    return {};
}

Status VmdkReader::addSparseExtent(std::unique_ptr<ImageFile> file, const std::string& path, std::uint64_t sectors) {
    auto sparse = std::make_unique<VmdkSparseExtent>();
    vmdk::Descriptor embedded;
    if (std::string error = sparse->open(std::move(file), embedded, notes_); !error.empty()) return fail(error);
    if (!descriptor_.hasCreateType) descriptor_ = embedded;
    const std::uint64_t capacity = sparse->capacity();
    // One extent: its header's capacity is the disk's size. Several: the descriptor lays them out.
    const bool alone = descriptor_.extents.size() <= 1;
    std::uint64_t described = sectors;
    if (alone && sectors == 0)
        for (const auto& extent : descriptor_.extents) described += extent.sectors;
    if (described != capacity && (!alone || descriptor_.extents.size() == 1))
        notes_.push_back("the descriptor gives the extent " + std::to_string(described) + " sectors; the header's capacity of " +
                         std::to_string(capacity) + " sectors was " + (alone ? "used" : "not used"));
    Extent extent;
    extent.type = Extent::Type::Sparse;
    extent.start = totalSectors;
    extent.sectors = alone ? capacity : sectors;
    if (alone && capacity > kMaxDiskSectors) {
        extent.sectors = kMaxDiskSectors;
        damage_.push_back("the header's capacity of " + std::to_string(capacity) + " sectors is beyond any disk; " +
                          std::to_string(kMaxDiskSectors) + " sectors are read");
    }
    // What the grain directory (as far as the file holds it) can describe; past it nothing can be found.
    const std::uint64_t covered =
        sparse->directory().size() > UINT64_MAX / sparse->sectorsPerGrainTable()
            ? UINT64_MAX
            : sparse->directory().size() * sparse->sectorsPerGrainTable();
    if (covered < extent.sectors)
        damage_.push_back("the grain directory describes " + std::to_string(covered) + " of the extent's " +
                          std::to_string(extent.sectors) + " sectors; the rest cannot be read");
    if (extent.sectors > kMaxDiskSectors - totalSectors) return fail("The VMDK extents add up to more than any disk holds");
    extent.path = path;
    extent.sparse = std::move(sparse);
    if (!firstSparse_) firstSparse_ = extent.sparse.get();
    totalSectors += extent.sectors;
    extents_.push_back(std::move(extent));
    return {};
}

Status VmdkReader::openParent(const std::string& childPath) {
    namespace fs = std::filesystem;
    std::string path = overrides_.parentPath;
    if (path.empty()) {
        const std::string hint = descriptor_.parentFileNameHint;
        if (hint.empty()) return fail("the child disk names no parent file (no parentFileNameHint); name it with --parent");
        path = pathBesideChild(childPath, hint);
        if (!fs::exists(path)) {
            // A hint written on another machine ("C:\VMs\base.vmdk"): look for its file name beside the child.
            std::string name = hint;
            std::replace(name.begin(), name.end(), '\\', '/');
            const std::string beside = pathBesideChild(childPath, fs::path(name).filename().string());
            if (!fs::exists(beside)) {
                std::vector<std::string> lookedFor{path};
                if (beside != path) lookedFor.push_back(beside);
                return parentNotFound({hint, lookedFor, "the parent image " + path + " was not found; name it with --parent"});
            }
            path = beside;
        }
    }
    OpenedParent parent = openParentImage(path, chainForParent(childPath), overrides_);
    if (!parent.reader) return fail(parent.error);
    // The child holds changes to the parent as it was when the child was made; a parent written since then
    // (another CID) would mix two states of the disk.
    if (const auto* vmdkParent = dynamic_cast<const VmdkReader*>(parent.reader.get())) {
        const std::string& have = vmdkParent->descriptor().CID;
        if (cidValue(have) != cidValue(descriptor_.parentCID)) {
            const std::string text = "the parent image " + path + " is not the one this disk was made from (its CID " + have +
                                     " differs from the child's parentCID " + descriptor_.parentCID + ")";
            if (Status accepted = acceptMismatchedParent(text); !accepted) return accepted;
        }
    }
    adoptParent(std::move(parent.reader), path);
    if (parent_->totalSectors != totalSectors) notes_.push_back("the parent's disk size differs from the child's");
    return {};
}

const VmdkReader::Extent* VmdkReader::extentAt(std::uint64_t sector) const {
    const auto it = std::upper_bound(extents_.begin(), extents_.end(), sector,
                                     [](std::uint64_t s, const Extent& e) { return s < e.start; });
    if (it == extents_.begin()) return nullptr;
    const Extent& extent = *std::prev(it);
    return sector - extent.start < extent.sectors ? &extent : nullptr;
}

DiskPiece VmdkReader::piece(std::uint64_t offset, bool decode) const {
    DiskPiece piece;
    const std::uint64_t sector = offset / kSectorSize;
    const std::uint64_t inSector = offset % kSectorSize;
    const Extent* extent = extentAt(sector);
    if (!extent) {
        piece.length = kSectorSize - inSector;
        return piece;
    }
    const std::uint64_t within = sector - extent->start;
    piece.length = (extent->sectors - within) * kSectorSize - inSector;
    switch (extent->type) {
        case Extent::Type::Zero: piece.kind = DiskPiece::Kind::Zero; return piece;
        case Extent::Type::Flat:
            if (within < extent->stored) {
                piece.kind = DiskPiece::Kind::File;
                piece.file = extent->file.get();
                piece.fileOffset = extent->offset + within * kSectorSize + inSector;
                piece.length = (extent->stored - within) * kSectorSize - inSector;
            }
            return piece;
        case Extent::Type::Sparse: break;
    }
    const VmdkSparseExtent& sparse = *extent->sparse;
    const VmdkSparseExtent::Mapping m = sparse.map(within);
    piece.length = std::min(piece.length, m.sectors * kSectorSize - inSector);
    switch (m.kind) {
        case VmdkSparseExtent::Mapping::Kind::Data:
            piece.kind = DiskPiece::Kind::File;
            piece.file = &sparse.file();
            piece.fileOffset = m.fileOffset + inSector;
            break;
        case VmdkSparseExtent::Mapping::Kind::Compressed: {
            piece.kind = DiskPiece::Kind::Decoded;
            const std::uint8_t* grain = decode ? sparse.grain(m.fileOffset) : nullptr;
            piece.decoded = grain ? grain + (within % sparse.grainSize()) * kSectorSize + inSector : nullptr;
            break;
        }
        case VmdkSparseExtent::Mapping::Kind::Zero: piece.kind = DiskPiece::Kind::Zero; break;
        case VmdkSparseExtent::Mapping::Kind::Unallocated:
            piece.kind = parent_ ? DiskPiece::Kind::Parent : DiskPiece::Kind::Zero;
            break;
        case VmdkSparseExtent::Mapping::Kind::Unreadable: break;
    }
    return piece;
}

SectorMapping VmdkReader::mapSector(std::uint64_t sector) const {
    SectorMapping mapping;
    if (sector >= totalSectors) return mapping;
    const auto lock = lockPieces();  // a child reads through this image
    const DiskPiece p = piece(sector * kSectorSize, false);
    if (p.kind == DiskPiece::Kind::Unreadable) return mapping;
    mapping.state = p.allocated() ? SectorMapping::State::Allocated : SectorMapping::State::Unallocated;
    mapping.source = p.kind == DiskPiece::Kind::File ? p.file : nullptr;
    mapping.fileOffset = p.fileOffset;
    mapping.runSectors = std::max<std::uint64_t>(1, p.length / kSectorSize);
    return mapping;
}

VmdkReader::GrainCount VmdkReader::countGrains() const {
    GrainCount count;
    for (const Extent& extent : extents_)
        if (extent.sparse) extent.sparse->countGrains(count);
    return count;
}

}  // namespace halvard
