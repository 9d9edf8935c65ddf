#include "volume/volume_record.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "image/device_slice.h"

namespace halvard {

std::int64_t sizeMiB(const VolumeRecord& record) {
    const std::string& text = record.sizeText;
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        const int digit = text[i] - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) return std::numeric_limits<std::int64_t>::max();
        value = value * 10 + digit;
    }
    return value;
}

namespace {
constexpr std::uint64_t kLargest = 1ULL << 54;  // sectors; no real volume is that large
}  // namespace

std::uint64_t volumeSectors(const VolumeRecord& record) {
    if (record.sectorCount > 0) return std::min(record.sectorCount, kLargest);
    const std::int64_t mib = sizeMiB(record);
    if (mib >= static_cast<std::int64_t>(kLargest / 2048)) return kLargest;
    return static_cast<std::uint64_t>(mib) * 2048ULL;
}

std::optional<std::int64_t> volumeStartOffset(const VolumeRecord& record) {
    std::int64_t offset = 0;
    if (record.startSector < 0 || __builtin_mul_overflow(record.startSector, std::int64_t{512}, &offset))
        return std::nullopt;
    return offset;
}

std::uint64_t volumeSizeBytes(const VolumeRecord& record) {
    const std::uint64_t sectors = volumeSectors(record);
    return sectors >= kLargest ? ~0ULL : sectors * 512ULL;
}

DevicePtr volumeDevice(const DevicePtr& disk, const VolumeRecord& record) {
    if (!disk) return nullptr;
    const std::optional<std::int64_t> start = volumeStartOffset(record);
    const std::uint64_t base = start ? std::min<std::uint64_t>(static_cast<std::uint64_t>(*start), disk->size()) : disk->size();
    return std::make_shared<DeviceSlice>(disk, base, disk->size() - base, "volume " + record.volumeName);
}

VolumeRecord onDevice(VolumeRecord record, const DevicePtr& disk) {
    record.device = volumeDevice(disk, record);
    return record;
}

std::string volumeSizeText(const VolumeRecord& record) {
    return std::to_string(volumeSectors(record) / 2048) + "   MB";
}

std::string cutAtDiskEndNote(std::uint64_t sectors, std::uint64_t diskSectors, std::int64_t startSector) {
    const std::uint64_t left = startSector >= 0 && static_cast<std::uint64_t>(startSector) < diskSectors
                                   ? diskSectors - static_cast<std::uint64_t>(startSector)
                                   : 0;
    return "runs past the disk's end (" + std::to_string(sectors) + " sectors from sector " +
           std::to_string(startSector) + ", the disk has " + std::to_string(diskSectors) + "): cut to " +
           std::to_string(left) + " sectors";
}

}  // namespace halvard
