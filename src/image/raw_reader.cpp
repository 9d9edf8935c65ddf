#include "image/raw_reader.h"

#include <algorithm>
#include <cstring>

namespace halvard {

namespace {
constexpr std::uint64_t kRawBlockSectors = 2048;  // 1 MiB per block-map entry
}

Status RawReader::open(const std::string& path) {
    if (Status opened = openImageFile(path, "invalid handle ..."); !opened) return opened;
    if (imageFileSize < kSectorSize) return fail("The image file is empty or shorter than one sector");
    totalSectors = imageFileSize / kSectorSize + (imageFileSize % kSectorSize != 0);
    const std::uint64_t blocks = (imageFileSize + kRawBlockSectors * kSectorSize - 1) / (kRawBlockSectors * kSectorSize);
    blockMap.reserve(blocks);
    for (std::uint64_t i = 0; i < blocks; ++i) blockMap.push_back(i * kRawBlockSectors);
    return {};
}

bool RawReader::readAt(std::uint64_t offset, void* buffer, std::size_t length) const {
    const std::uint64_t diskEnd = totalSectors * kSectorSize;
    if (offset >= diskEnd || length > diskEnd - offset)
        return DiskReader::readAt(offset, buffer, length);  // reaches outside the disk: reported as every reader does
    // Inside the disk only the file's end can cut the read short, and past it lies the tail of the last sector.
    const std::uint64_t inFile = offset < imageFileSize ? std::min<std::uint64_t>(length, imageFileSize - offset) : 0;
    const std::size_t got = inFile ? file_.readAt(offset, buffer, static_cast<std::size_t>(inFile)) : 0;
    std::memset(static_cast<std::uint8_t*>(buffer) + got, 0, length - got);
    return got == inFile;
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
