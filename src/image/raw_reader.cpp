#include "image/raw_reader.h"

namespace halvard {

namespace {
constexpr std::uint64_t kRawBlockSectors = 2048;  // 1 MiB per block-map entry
}

Status RawReader::open(const std::string& path) {
    if (Status opened = openImageFile(path, "invalid handle ..."); !opened) return opened;
    if (imageFileSize < kSectorSize) return fail("The image file is empty or shorter than one sector");
    totalSectors = imageFileSize / kSectorSize;
    const std::uint64_t blocks = (imageFileSize + kRawBlockSectors * kSectorSize - 1) / (kRawBlockSectors * kSectorSize);
    blockMap.reserve(blocks);
    for (std::uint64_t i = 0; i < blocks; ++i) blockMap.push_back(i * kRawBlockSectors);
    return {};
}

SectorMapping RawReader::mapSector(std::uint64_t sector) const {
    SectorMapping mapping;
    const std::uint64_t fileSectors = (imageFileSize + kSectorSize - 1) / kSectorSize;
    if (sector >= fileSectors) return mapping;
    mapping.state = SectorMapping::State::Allocated;
    mapping.fileOffset = sector * kSectorSize;
    mapping.runSectors = fileSectors - sector;
    return mapping;
}

}  // namespace halvard
