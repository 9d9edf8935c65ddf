#pragma once
// Reads of one volume through its device, for the engines. Offsets are relative to the volume's start. The device
// reads from several threads at once, so list texts and saves may run on other threads beside the parse.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/device.h"
#include "volume/volume_record.h"

namespace halvard {

class VolumeReader {
public:
    explicit VolumeReader(const VolumeRecord& volume);

    // Fills `buffer` with `length` bytes at `offset`; false (and zeros where unread) when any part failed. The
    // engines bound block numbers by their own geometry; this only refuses ranges that would wrap.
    bool read(std::uint64_t offset, void* buffer, std::size_t length) const;
    bool read(std::uint64_t offset, std::vector<std::uint8_t>& buffer) const {
        return read(offset, buffer.data(), buffer.size());
    }

    // Whether the image stores the bytes at `offset` of the volume, and for how long (see Device).
    StoredRun storedRun(std::uint64_t offset, std::uint64_t limit) const;

    // Bytes of the disk from the volume's start on; 0 when the volume has no device.
    std::uint64_t diskBytesFromStart() const { return device_ ? device_->size() : 0; }

    // The size the volume record gives (its size text in MiB x 1 MiB); 0 when it gives none.
    std::uint64_t volumeSize() const { return volumeSize_; }

    const DevicePtr& device() const { return device_; }

private:
    DevicePtr device_;
    std::uint64_t volumeSize_ = 0;
};

}  // namespace halvard
