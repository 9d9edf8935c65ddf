#include "image/image_info.h"

#include "image/image_file.h"
#include "image/qcow2_reader.h"
#include "image/vdi_reader.h"
#include "image/vhdx_check.h"
#include "image/vhd_reader.h"
#include "image/vhdx_reader.h"
#include "image/vmdk_reader.h"

namespace halvard {

namespace {

std::uint64_t blocksFor(std::uint64_t size, std::uint64_t blockSize) {
    return blockSize ? size / blockSize + (size % blockSize != 0) : 0;
}

std::string pastEndWarning(std::uint64_t count, const char* what) {
    return std::to_string(count) + " allocated " + what +
           " lie past the end of the image file (truncated image?); they read as zeros";
}

void describeVhdx(const std::string& path, const VhdxReader& vhdx, ImageInfo& info) {
    const vhdx::Layout& layout = vhdx.layout();
    info.version = std::to_string(layout.version);
    info.virtualSize = vhdx.virtualDiskSize();
    info.blockSize = vhdx.blockSize();
    info.logicalSectorSize = vhdx.logicalSectorSize();
    info.physicalSectorSize = layout.physicalSectorSize;
    info.differencing = layout.hasParent();
    info.allocatedBlocks = vhdx.allocatedBlocks();
    // Only the blocks that the virtual size needs count; the BAT region is usually longer.
    if (info.blockSize) info.totalBlocks = blocksFor(info.virtualSize, info.blockSize);
    info.notes = layout.notes;
    if (vhdx.blocksPastEnd()) info.warnings.push_back(pastEndWarning(vhdx.blocksPastEnd(), "blocks"));
    const vhdx::LogState& log = vhdx.logState();
    info.log = {log.present, log.replayed, log.entries};
    for (const std::string& problem : log.problems) info.warnings.push_back("log: " + problem);
    info.parents = vhdx.parentChain();
    for (const std::string& note : vhdx.parentNotes()) info.warnings.push_back(note);
    for (unsigned state = 0; state < vhdx.blocksByState().size(); ++state)
        if (const std::uint64_t count = vhdx.blocksByState()[state])
            info.blocksByState.emplace_back(vhdx::blockStateName(state), count);
    info.damage = checkVhdx(path, vhdx);
}

void describeVhd(const VhdReader& vhd, ImageInfo& info) {
    const vhd::Layout& layout = vhd.layout();
    const vhd::Footer& footer = layout.footer;
    info.version = vhd::versionText(footer.formatVersion);
    info.virtualSize = footer.currentSize;
    info.logicalSectorSize = kSectorSize;
    info.differencing = footer.diskType == vhd::kDifferencing;
    const std::string creator = " (created by \"" + footer.creatorApplication + "\")";
    if (vhd.isFixed()) {
        info.notes.push_back("fixed disk: the data lies flat in the file, before the footer" + creator);
        info.totalBlocks = 0;
    } else {
        info.blockSize = vhd.blockSize();
        info.totalBlocks = blocksFor(info.virtualSize, info.blockSize);
        info.allocatedBlocks = vhd.allocatedBlocks();
        info.notes.push_back(std::string(info.differencing ? "differencing" : "dynamic") + " disk" + creator);
    }
    const std::uint64_t chs = static_cast<std::uint64_t>(footer.cylinders) * footer.heads * footer.sectorsPerTrack;
    if (chs * kSectorSize != footer.currentSize)
        info.notes.push_back("CHS geometry " + std::to_string(footer.cylinders) + "/" + std::to_string(footer.heads) +
                             "/" + std::to_string(footer.sectorsPerTrack) + " covers " +
                             std::to_string(chs * kSectorSize) + " bytes; the footer's current size is used");
    if (info.differencing && !layout.header.parentName.empty())
        info.notes.push_back("parent image: " + layout.header.parentName);
    for (const auto& note : layout.notes) info.notes.push_back(note);
    if (vhd.blocksPastEnd()) info.warnings.push_back(pastEndWarning(vhd.blocksPastEnd(), "blocks"));
    // The footer in use is the one whose checksum holds when any does.
    if (!footer.checksumOk) info.warnings.push_back("no copy of the footer passes its checksum");
    if (vhd.isFixed() && layout.dataLength < footer.currentSize)
        info.warnings.push_back("the disk size of " + std::to_string(footer.currentSize) + " bytes is larger than the " +
                                std::to_string(layout.dataLength) + " bytes of data the fixed disk's file holds");
    info.warnings.insert(info.warnings.end(), vhd.damage().begin(), vhd.damage().end());
    info.parents = vhd.parentChain();
    for (const std::string& note : vhd.parentNotes()) info.warnings.push_back(note);
}

void describeVdi(const VdiReader& vdi, ImageInfo& info) {
    const vdi::Header& h = vdi.header();
    info.version = vdi::versionText(h.version);
    info.virtualSize = h.diskSize;
    info.blockSize = h.blockSize;
    info.logicalSectorSize = kSectorSize;
    info.totalBlocks = blocksFor(info.virtualSize, info.blockSize);
    info.allocatedBlocks = vdi.allocatedBlocks();
    info.differencing = h.imageType == vdi::kDifferencing || h.imageType == vdi::kUndo;
    switch (h.imageType) {
        case vdi::kDynamic: info.notes.push_back("dynamic image"); break;
        case vdi::kStatic: info.notes.push_back("fixed image: every block is stored"); break;
        case vdi::kUndo: info.notes.push_back("undo image"); break;
        case vdi::kDifferencing: info.notes.push_back("differencing image"); break;
        default: info.notes.push_back("image type " + std::to_string(h.imageType) + " (unknown)"); break;
    }
    if (info.differencing) info.notes.push_back("parent image UUID: " + h.parentUuid.text());
    if (vdi.zeroBlocks()) info.notes.push_back(std::to_string(vdi.zeroBlocks()) + " blocks are marked as zero blocks");
    for (const auto& note : vdi.notes()) info.notes.push_back(note);
    info.warnings.insert(info.warnings.end(), vdi.damage().begin(), vdi.damage().end());
    if (vdi.blocksPastEnd()) info.warnings.push_back(pastEndWarning(vdi.blocksPastEnd(), "blocks"));
    info.parents = vdi.parentChain();
    for (const std::string& note : vdi.parentNotes()) info.warnings.push_back(note);
    if (info.differencing && info.parents.empty() && !vdi.missingParent())
        info.warnings.push_back("differencing image without a parent UUID: blocks kept in the parent read as zeros");
}

void describeVmdk(const VmdkReader& vmdk, ImageInfo& info) {
    const vmdk::Descriptor& d = vmdk.descriptor();
    info.logicalSectorSize = kSectorSize;
    info.differencing = d.hasParent();
    if (!d.createType.empty()) info.notes.push_back("create type " + d.createType);
    if (vmdk.isFlat()) {
        info.version = d.version;
        info.totalBlocks = 0;
    } else {
        info.version = std::to_string(vmdk.header().version);
        info.blockSize = vmdk.grainSize() * kSectorSize;
        info.totalBlocks = blocksFor(info.virtualSize, info.blockSize);
        const VmdkReader::GrainCount grains = vmdk.countGrains();
        info.allocatedBlocks = grains.allocated;
        if (vmdk.isCompressed()) info.notes.push_back("compressed grains (stream-optimised)");
        if (grains.zero) info.notes.push_back(std::to_string(grains.zero) + " grains are marked as zero grains");
        if (grains.pastEnd) info.warnings.push_back(pastEndWarning(grains.pastEnd, "grains"));
        if (!grains.complete) info.warnings.push_back("some grain tables could not be read; they read as errors");
    }
    if (info.version.empty() || info.version.find_first_not_of("0123456789") != std::string::npos)
        info.version = "";  // a damaged descriptor's text is no version number
    if (info.differencing && !d.parentFileNameHint.empty()) info.notes.push_back("parent image: " + d.parentFileNameHint);
    info.parents = vmdk.parentChain();
    for (const std::string& note : vmdk.parentNotes()) info.warnings.push_back(note);
    if (vmdk.extentCount() > 1) info.notes.push_back(std::to_string(vmdk.extentCount()) + " extents");
    for (const auto& note : vmdk.notes()) info.notes.push_back(note);
    info.warnings.insert(info.warnings.end(), vmdk.damage().begin(), vmdk.damage().end());
}

void describeQcow2(const Qcow2Reader& qcow2, ImageInfo& info) {
    const qcow2::Header& h = qcow2.header();
    info.version = std::to_string(h.version);
    info.virtualSize = qcow2.virtualDiskSize();
    info.blockSize = qcow2.clusterSize();
    info.logicalSectorSize = kSectorSize;
    info.totalBlocks = blocksFor(info.virtualSize, info.blockSize);
    info.differencing = !qcow2.parentChain().empty() || qcow2.missingParent();
    info.parents = qcow2.parentChain();
    const Qcow2Reader::ClusterCount clusters = qcow2.countClusters();
    info.allocatedBlocks = clusters.allocated;
    if (clusters.compressed)
        info.notes.push_back(std::to_string(clusters.compressed) + " clusters are compressed (" +
                             (h.compressionType == 1 ? "zstd" : "deflate") + ")");
    if (clusters.zero) info.notes.push_back(std::to_string(clusters.zero) + " clusters are marked as zero clusters");
    if (h.extendedL2()) info.notes.push_back("extended L2 entries (32 subclusters per cluster)");
    if (!qcow2.backingName().empty() && !h.backingFormat.empty())
        info.notes.push_back("backing file \"" + qcow2.backingName() + "\" (format " + h.backingFormat + ")");
    for (const auto& s : qcow2.snapshots())
        info.snapshots.push_back({s.id, s.name, s.diskSize ? s.diskSize : h.size});
    for (const auto& note : qcow2.notes()) info.notes.push_back(note);
    for (const auto& damage : clusters.damage) info.warnings.push_back(damage);
}

// A parent's format, told by its signature as the chain told it when it opened the parent.
std::string formatOfFile(const std::string& path) {
    ImageFile file;
    return file.open(path) ? imageKindName(detectImageKind(file)) : "";
}

}  // namespace

ImageInfo describeVhdxHeaders(const ImageFile& file) {
    ImageInfo info;
    info.kind = ImageKind::Vhdx;
    info.format = imageKindName(ImageKind::Vhdx);
    const vhdx::Layout layout = vhdx::readLayout(file, vhdx::PositionalRule::ImagePage);
    info.version = std::to_string(layout.version);
    if (!layout.status) {
        info.error = layout.status.message();
        return info;
    }
    info.fileSize = file.size();
    info.virtualSize = layout.virtualDiskSize;
    info.blockSize = layout.blockSize;
    info.logicalSectorSize = layout.logicalSectorSize;
    info.physicalSectorSize = layout.physicalSectorSize;
    info.differencing = layout.hasParent();
    info.notes = layout.notes;
    info.ok = true;
    return info;
}

ImageInfo describeImage(const std::string& path, const ImageOverrides& overrides) {
    ImageInfo info;
    OpenedImage opened = openImage(path, overrides);
    info.kind = opened.kind;
    info.format = imageKindName(opened.kind);
    if (!opened.reader) {
        info.error = opened.error;
        return info;
    }
    DiskReader& reader = *opened.reader;
    info.fileSize = reader.imageFileSize;
    info.virtualSize = reader.diskBytes();
    info.totalBlocks = reader.blockMap.size();
    if (auto* vhdx = dynamic_cast<VhdxReader*>(&reader)) {
        describeVhdx(path, *vhdx, info);
    } else if (auto* vhd = dynamic_cast<VhdReader*>(&reader)) {
        describeVhd(*vhd, info);
    } else if (auto* vdi = dynamic_cast<VdiReader*>(&reader)) {
        describeVdi(*vdi, info);
    } else if (auto* vmdk = dynamic_cast<VmdkReader*>(&reader)) {
        describeVmdk(*vmdk, info);
    } else if (auto* qcow2 = dynamic_cast<Qcow2Reader*>(&reader)) {
        describeQcow2(*qcow2, info);
    } else {
        info.version = "";
        info.blockSize = 1024 * 1024;
        info.logicalSectorSize = kSectorSize;
        info.physicalSectorSize = kSectorSize;
        info.allocatedBlocks = info.totalBlocks;
    }
    for (const std::string& parent : info.parents) info.parentFormats.push_back(formatOfFile(parent));
    info.missingParent = reader.missingParent();
    if (info.missingParent) {
        info.differencing = true;
        info.warnings.push_back(info.missingParent->text);
        if (info.kind == ImageKind::Vhdx) info.damage.push_back(info.missingParent->text);
    }
    // Other formats: what reading them found is the damage.
    if (info.kind != ImageKind::Vhdx) info.damage = info.warnings;
    info.ok = true;
    return info;
}

}  // namespace halvard
