#pragma once
// One read of a volume through the active reader, as the file-system engines make it.
#include <cstddef>
#include <cstdint>

#include "image/read_write_interface.h"

namespace halvard {

// Reads `length` bytes at `offset` from the start of the volume that begins `volumeBase` bytes into the disk.
// The reader's volume base is set on every read (whoever used the reader in between may have moved it). An
// offset that would overflow, or a seek outside the disk, reads as zeros; false when any part could not be read.
// The caller serialises its reads of a shared reader.
bool readFromVolume(DiskReader& reader, std::int64_t volumeBase, std::uint64_t offset, void* buffer,
                    std::size_t length);

}  // namespace halvard
