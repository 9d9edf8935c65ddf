#pragma once
// The process-wide state every page and engine shares: the active reader, the disk size, the user's overrides of
// the image geometry, the chosen image's kind, the "drive was formatted" choice and the label of every tree's top item.
#include <cstdint>
#include <memory>
#include <string>

#include "image/image_kind.h"
#include "image/read_write_interface.h"

namespace halvard {

// Page id of the image page; later pages recreate the active reader only when an image was chosen there.
inline constexpr std::int32_t kImagePageId = 142;

struct ApplicationState {
    std::uint8_t formattedDriveFlag = 0;
    std::uint64_t totalSectors = 0;
    std::shared_ptr<DiskReader> activeReader;  // volumes hold it too, through their devices
    std::int32_t sourcePage = 0;
    ImageOverrides overrides;  // userDiskSize, userBlockSize, userLogicalSectorSize
    ImageKind imageKind = ImageKind::Vhdx;  // what the image page found the chosen image to be
    std::string rootName = "ROOT";

    // Deletes the active reader first, then installs the new one (which the caller opens afterwards).
    DiskReader* replaceActiveReader(std::unique_ptr<DiskReader> reader) {
        activeReader.reset();
        activeReader = std::move(reader);
        return activeReader.get();
    }
    void dropActiveReader() {
        activeReader.reset();
        totalSectors = 0;
    }
};

}  // namespace halvard
