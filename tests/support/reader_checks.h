#pragma once
// Reading through an image reader in tests.
#include <cstdint>
#include <string>
#include <vector>

#include "image/read_write_interface.h"

namespace halvard::testing {

// Seeks and reads `length` bytes (the buffer starts as 0xEE, so unwritten bytes show); `ok` gets read's result.
std::vector<std::uint8_t> readAt(DiskReader& reader, std::int64_t offset, std::size_t length,
                                 bool* ok = nullptr);

// Reads the whole disk in pieces of `pieceLength` bytes (pick an odd size, so pieces cross block boundaries and
// allocated/unallocated edges) and expects every read to succeed with `expected`'s bytes.
void expectWholeDisk(DiskReader& reader, const std::vector<std::uint8_t>& expected, std::size_t pieceLength);

// Makes the image at `path` read-only, opens it with `reader` and reads its first `length` bytes, then expects the
// file's bytes and modification time to be as they were.
void expectReadingLeavesImageAlone(DiskReader& reader, const std::string& path, std::size_t length);

}  // namespace halvard::testing
