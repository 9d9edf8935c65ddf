#pragma once
// What `halvard info` reports about an image.
#include <cstdint>
#include <string>
#include <vector>

#include "image/image_kind.h"

namespace halvard {

struct ImageInfo {
    bool ok = false;
    std::string error;  // one line when !ok

    ImageKind kind = ImageKind::Raw;
    std::string format;   // "VHDX", "RAW", ...
    std::string version;  // the format's version field, as text
    std::uint64_t fileSize = 0;
    std::uint64_t virtualSize = 0;
    std::uint64_t blockSize = 0;
    std::uint64_t logicalSectorSize = 0;
    std::uint64_t physicalSectorSize = 0;
    bool differencing = false;
    std::uint64_t totalBlocks = 0;
    std::uint64_t allocatedBlocks = 0;
    std::vector<std::string> warnings;  // damage found while reading (e.g. blocks past the end of the file)
    std::vector<std::string> notes;     // fallbacks taken
};

ImageInfo describeImage(const std::string& path);

}  // namespace halvard
