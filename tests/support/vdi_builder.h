#pragma once
// Builds small VDI files for tests: dynamic and fixed images, zero blocks, blocks stored out of order, extra bytes
// in front of each block, and the header fields damaged variants need.
#include <cstdint>
#include <set>
#include <vector>

#include "support/put_bytes.h"

namespace halvard::testing {

struct VdiSpec {
    std::uint64_t virtualSize = 8 * 1024 * 1024;
    std::uint32_t blockSize = 1024 * 1024;
    std::uint32_t imageType = 1;              // 1 dynamic, 2 fixed, 4 differencing
    std::set<std::uint64_t> allocatedBlocks;  // stored in the file (last block first); a fixed image stores all
    std::set<std::uint64_t> zeroBlocks;       // marked 0xFFFFFFFE
    std::uint32_t blockExtra = 0;
    std::uint32_t blockMapOffset = 512;
    std::uint32_t dataOffset = 0;             // 0: right after the block map, on a sector boundary
    std::uint32_t version = 0x00010001;
    std::uint32_t allocatedField = 0xFFFFFFFF;  // the header's allocated-blocks count; all ones: the true count
    // UUIDs as 16 bytes counting up from a seed (0: the zero UUID): the image's own, its modification UUID, and for
    // a differencing image its parent's UUID and the parent's modification UUID it was made against.
    std::uint8_t uuidSeed = 0x10;
    std::uint8_t modificationSeed = 0;
    std::uint8_t parentSeed = 0x80;
    std::uint8_t parentModificationSeed = 0;
};

// The file's bytes. Stored blocks hold patternByte() of their virtual offset.
std::vector<std::uint8_t> buildVdi(const VdiSpec& spec);

// The virtual disk the file holds, as a reader must return it.
std::vector<std::uint8_t> expectedVdiDisk(const VdiSpec& spec);

}  // namespace halvard::testing
