#pragma once
// Reading a table of 32-bit little-endian entries (a block map, a grain directory) whose length comes from a
// header that may be damaged.
#include <cstdint>
#include <string>
#include <vector>

#include "image/image_file.h"

namespace halvard {

// The `count` entries at `offset` of `file`, but no more than the file holds from there and one table may take in
// memory; `name` ("the block map") names the table in the note that says where it was cut.
std::vector<std::uint32_t> readLe32Table(const ImageFile& file, std::uint64_t offset, std::uint64_t count,
                                         const std::string& name, std::vector<std::string>& notes);

}  // namespace halvard
