#include "fs/volume_reader.h"

#include <cstring>
#include <limits>

namespace halvard {

namespace {
constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
}

VolumeReader::VolumeReader(DiskReader& reader, const VolumeRecord& volume)
    : reader_(reader), base_(volumeStartOffset(volume).value_or(0)), volumeSize_(volumeSizeBytes(volume)) {}

void VolumeReader::attach() {
    std::lock_guard lock(mutex_);
    reader_.volumeBaseOffset = base_;
    reader_.seek(0);
}

std::uint64_t VolumeReader::diskBytesFromStart() const {
    std::lock_guard lock(mutex_);
    const std::uint64_t disk = reader_.totalSectors * 512;
    const auto base = static_cast<std::uint64_t>(base_);
    return disk > base ? disk - base : 0;
}

StoredRun VolumeReader::storedRun(std::uint64_t offset, std::uint64_t limit) const {
    if (offset > kMaxOffset - static_cast<std::uint64_t>(base_)) return {true, limit};
    std::lock_guard lock(mutex_);
    return reader_.storedRunOnDisk(static_cast<std::uint64_t>(base_) + offset, limit);
}

bool VolumeReader::read(std::uint64_t offset, void* buffer, std::size_t length) const {
    if (length == 0) return true;
    if (offset > kMaxOffset || length > kMaxOffset - offset) {
        std::memset(buffer, 0, length);
        return false;
    }
    std::lock_guard lock(mutex_);
    reader_.volumeBaseOffset = base_;
    if (!reader_.seek(static_cast<std::int64_t>(offset))) {
        std::memset(buffer, 0, length);
        return false;
    }
    return reader_.read(buffer, length);
}

}  // namespace halvard
