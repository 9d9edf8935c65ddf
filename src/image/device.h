#pragma once
// Something that holds the bytes of a disk or a volume and reads them at an offset: an image's virtual disk, a
// slice of it (a partition), and whatever stacks on those. Reads are positional and const, so any number of threads
// may read one device at once; a device that keeps caches guards them itself.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "image/stored_run.h"

namespace halvard {

class Device {
public:
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    virtual ~Device() = default;

    // Fills `buffer` with the `length` bytes at `offset`. False when any part could not be read (past the end, a
    // failed read of the file below, a place the device's tables cannot map); those bytes are zeros and the rest
    // is read all the same.
    virtual bool readAt(std::uint64_t offset, void* buffer, std::size_t length) const = 0;
    // Bytes the device holds.
    virtual std::uint64_t size() const = 0;
    // Whether the bytes at `offset` are stored, and for how many bytes from there that holds (between 1 and
    // `limit` when `limit` is not 0). What is not stored reads as zeros, so a scan may jump over it; what the
    // device cannot tell, and places past its end, count as stored.
    virtual StoredRun storedRun(std::uint64_t offset, std::uint64_t limit) const = 0;
    // The sector size the guest used on it (512 or 4096).
    virtual std::uint64_t logicalSectorSize() const { return 512; }
    // One line for the user: what the device is ("qcow2 image disk.qcow2", "bytes 1048576 to ... of ...").
    virtual std::string description() const = 0;

};

using DevicePtr = std::shared_ptr<const Device>;

// The 512-byte sectors a device holds, a last one it holds only part of counted.
inline std::uint64_t sectorsOf(const Device& device) { return device.size() / 512 + (device.size() % 512 != 0); }

}  // namespace halvard
