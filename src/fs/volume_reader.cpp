#include "fs/volume_reader.h"

#include <cstring>

namespace halvard {

VolumeReader::VolumeReader(const VolumeRecord& volume)
    : device_(volume.device), volumeSize_(volumeSizeBytes(volume)) {}

StoredRun VolumeReader::storedRun(std::uint64_t offset, std::uint64_t limit) const {
    if (!device_) return {true, limit};
    return device_->storedRun(offset, limit);
}

bool VolumeReader::read(std::uint64_t offset, void* buffer, std::size_t length) const {
    if (length == 0) return true;
    if (!device_ || length > UINT64_MAX - offset) {
        std::memset(buffer, 0, length);
        return false;
    }
    return device_->readAt(offset, buffer, length);
}

}  // namespace halvard
