#pragma once
// Builds small VHD files for tests: fixed, dynamic and differencing disks, with the BAT where the dynamic header
// says, any block size, blocks stored out of order, and knobs for damaged variants.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/put_bytes.h"

namespace halvard::testing {

struct VhdSpec {
    std::uint64_t virtualSize = 8 * 1024 * 1024;
    std::uint32_t blockSize = 2 * 1024 * 1024;
    bool fixed = false;
    bool differencing = false;
    std::string parentName;                   // differencing disks
    std::set<std::uint64_t> allocatedBlocks;  // dynamic: blocks stored in the file (last block first)
    std::uint64_t tableOffset = 1536;         // where the BAT lies
    std::uint32_t maxTableEntries = 0;        // 0: as many as the disk needs
    std::string creator = "test";
    bool oldShortFooter = false;              // fixed: a 511-byte footer, as some old tools wrote
    // Unique IDs as 16 bytes counting up from a seed: the disk's own (footer), and a differencing disk's record of
    // its parent's (0: the zero ID).
    std::uint8_t uniqueIdSeed = 0x40;
    std::uint8_t parentUniqueIdSeed = 0;
    // Differencing disks: parent locators ("W2ru" relative, "W2ku" absolute; empty: none), and the virtual sectors
    // of stored blocks that the bitmap leaves to the parent (their bytes in the child are 0xEE).
    std::string parentRelativePath;
    std::string parentAbsolutePath;
    std::set<std::uint64_t> parentSectors;
};

// The file's bytes. Data bytes follow patternByte() of their virtual offset (every sector of a fixed disk).
std::vector<std::uint8_t> buildVhd(const VhdSpec& spec);

// The virtual disk the file holds, as a reader must return it.
std::vector<std::uint8_t> expectedVhdDisk(const VhdSpec& spec);

}  // namespace halvard::testing
