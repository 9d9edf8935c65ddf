#pragma once
// Reads of one volume through the active reader, for the engines that keep no reader state of their own between
// calls. Offsets are relative to the volume's start; the reader's base is set on every read because whoever used
// the reader in between may have moved it. Reads are serialised, so that list texts and saves may run on other
// threads beside the parse.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "image/read_write_interface.h"
#include "volume/volume_record.h"

namespace halvard {

class VolumeReader {
public:
    VolumeReader(DiskReader& reader, const VolumeRecord& volume);

    // Sets the reader's base to the volume start (the engines' first step).
    void attach();
    // Fills `buffer` with `length` bytes at `offset`; false (and zeros where unread) when any part failed. The
    // engines bound block numbers by their own geometry; this only refuses ranges that would wrap.
    bool read(std::uint64_t offset, void* buffer, std::size_t length) const;
    bool read(std::uint64_t offset, std::vector<std::uint8_t>& buffer) const {
        return read(offset, buffer.data(), buffer.size());
    }

    // Whether the image stores the bytes at `offset` of the volume, and for how long (see DiskReader).
    StoredRun storedRun(std::uint64_t offset, std::uint64_t limit) const;

    // Bytes of the disk from the volume's start on; 0 when the reader does not know the disk's size.
    std::uint64_t diskBytesFromStart() const;

    // The size the volume record gives (its size text in MiB x 1 MiB); 0 when it gives none.
    std::uint64_t volumeSize() const { return volumeSize_; }

private:
    DiskReader& reader_;
    std::int64_t base_ = 0;
    std::uint64_t volumeSize_ = 0;
    mutable std::mutex mutex_;
};

}  // namespace halvard
