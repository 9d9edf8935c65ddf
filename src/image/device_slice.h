#pragma once
// A stretch of another device read as a device of its own: a partition of a disk, a volume found inside a volume.
#include <cstdint>
#include <string>

#include "image/device.h"

namespace halvard {

class DeviceSlice final : public Device {
public:
    // The `size` bytes of `under` from `base` on; the part of them past `under`'s end reads as that device's end
    // does (zeros, not read). `name` says what the slice is, for its description.
    DeviceSlice(DevicePtr under, std::uint64_t base, std::uint64_t size, std::string name);

    bool readAt(std::uint64_t offset, void* buffer, std::size_t length) const override;
    std::uint64_t size() const override { return size_; }
    StoredRun storedRun(std::uint64_t offset, std::uint64_t limit) const override;
    std::uint64_t logicalSectorSize() const override { return under_->logicalSectorSize(); }
    std::string description() const override;

    const Device& under() const { return *under_; }
    std::uint64_t base() const { return base_; }

private:
    DevicePtr under_;
    std::uint64_t base_;
    std::uint64_t size_;
    std::string name_;
};

}  // namespace halvard
