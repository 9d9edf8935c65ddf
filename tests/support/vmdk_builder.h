#pragma once
// Builds small VMDK sparse extents for tests: any grain size and grain table size, grains stored out of order,
// zero grains, grain tables left out, compressed grains behind markers, and the footer that stream-optimised
// images locate their grain directory with.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace halvard::testing {

struct VmdkSpec {
    std::uint64_t capacity = 16384;            // sectors (8 MiB)
    std::uint64_t grainSize = 128;             // sectors
    std::uint32_t gtEntries = 512;             // entries per grain table
    std::set<std::uint64_t> allocatedGrains;   // stored in the file (last grain first)
    std::set<std::uint64_t> zeroGrains;        // grain table entry 1
    bool compressed = false;                   // each grain a zlib stream behind a 12-byte marker
    bool grainDirectoryAtEnd = false;          // the header defers to a footer at the end of the file
    std::string createType = "monolithicSparse";  // empty: no embedded descriptor
    std::string CID = "12345678";
    std::string parentCID = "ffffffff";
    std::string parentFileNameHint;
    std::uint32_t version = 1;
};

// Where the builder put things, in sectors.
struct VmdkLayout {
    std::uint64_t descriptor = 0;
    std::uint64_t redundantDirectory = 0;
    std::uint64_t directory = 0;
    std::vector<std::uint64_t> tables;  // per grain directory entry, 0 = none
    std::uint64_t firstGrain = 0;
};

// The file's bytes. Stored grains hold patternByte() of their virtual offset.
std::vector<std::uint8_t> buildVmdk(const VmdkSpec& spec, VmdkLayout* layout = nullptr);

// The virtual disk the file holds, as a reader must return it.
std::vector<std::uint8_t> expectedVmdkDisk(const VmdkSpec& spec);

// A zlib stream of stored (uncompressed) deflate blocks holding `data`.
std::vector<std::uint8_t> zlibStored(const std::vector<std::uint8_t>& data);

}  // namespace halvard::testing
