#include "image/image_info.h"

#include "image/vhdx_reader.h"

namespace halvard {

ImageInfo describeImage(const std::string& path) {
    ImageInfo info;
    OpenedImage opened = openImage(path);
    info.kind = opened.kind;
    info.format = imageKindName(opened.kind);
    if (!opened.reader) {
        info.error = opened.error;
        return info;
    }
    readWriteInterface& reader = *opened.reader;
    info.fileSize = reader.imageFileSize;
    info.virtualSize = reader.totalSectors * kSectorSize;
    info.totalBlocks = reader.blockMap.size();
    if (auto* vhdx = dynamic_cast<FileReadSeekVHDX*>(&reader)) {
        const vhdx::Layout& layout = vhdx->layout();
        info.version = std::to_string(layout.version);
        info.virtualSize = vhdx->virtualDiskSize();
        info.blockSize = vhdx->blockSize();
        info.logicalSectorSize = vhdx->logicalSectorSize();
        info.physicalSectorSize = layout.physicalSectorSize;
        info.differencing = layout.hasParent();
        info.allocatedBlocks = vhdx->allocatedBlocks();
        // Only the blocks that the virtual size needs count; the BAT region is usually longer.
        if (info.blockSize) info.totalBlocks = (info.virtualSize + info.blockSize - 1) / info.blockSize;
        info.notes = layout.notes;
        if (vhdx->blocksPastEnd())
            info.warnings.push_back(std::to_string(vhdx->blocksPastEnd()) +
                                    " allocated blocks lie past the end of the image file (truncated image?); "
                                    "they read as zeros");
        if (info.differencing)
            info.warnings.push_back("differencing disk: blocks kept in the parent image read as zeros");
    } else {
        info.version = "";
        info.blockSize = 1024 * 1024;
        info.logicalSectorSize = kSectorSize;
        info.physicalSectorSize = kSectorSize;
        info.allocatedBlocks = info.totalBlocks;
    }
    info.ok = true;
    return info;
}

}  // namespace halvard
