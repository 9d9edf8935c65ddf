#include "image/device_slice.h"

#include <algorithm>
#include <cstring>

namespace halvard {

DeviceSlice::DeviceSlice(DevicePtr under, std::uint64_t base, std::uint64_t size, std::string name)
    : under_(std::move(under)), base_(base), size_(size), name_(std::move(name)) {}

bool DeviceSlice::readAt(std::uint64_t offset, void* buffer, std::size_t length) const {
    if (length == 0) return true;
    // Within the slice the bytes are the device's below; past the slice's end (or where the sum would wrap)
    // there is nothing.
    const std::uint64_t inside = offset < size_ ? std::min<std::uint64_t>(length, size_ - offset) : 0;
    bool complete = inside == length;
    if (inside > 0) {
        if (base_ > UINT64_MAX - offset) {
            std::memset(buffer, 0, length);
            return false;
        }
        complete = under_->readAt(base_ + offset, buffer, static_cast<std::size_t>(inside)) && complete;
    }
    std::memset(static_cast<std::uint8_t*>(buffer) + inside, 0, length - inside);
    return complete;
}

StoredRun DeviceSlice::storedRun(std::uint64_t offset, std::uint64_t limit) const {
    if (offset >= size_ || base_ > UINT64_MAX - offset) return {true, limit};
    StoredRun run = under_->storedRun(base_ + offset, std::min(limit, size_ - offset));
    run.length = std::min(run.length, limit);
    return run;
}

std::string DeviceSlice::description() const {
    return name_ + " (bytes " + std::to_string(base_) + " to " + std::to_string(base_ + size_) + " of " +
           under_->description() + ")";
}

}  // namespace halvard
