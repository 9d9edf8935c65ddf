#pragma once
// Builds small VHDX files for tests, with the knobs that the real-world variants need: block and sector sizes,
// item order in the metadata table, region order, damaged tables, and payload blocks placed past the end.
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace halvard::testing {

struct VhdxSpec {
    std::uint64_t virtualSize = 8 * 1024 * 1024;
    std::uint32_t blockSize = 1024 * 1024;
    std::uint32_t logicalSectorSize = 512;
    std::uint32_t physicalSectorSize = 4096;
    bool hasParent = false;
    std::uint16_t version = 1;
    std::set<std::uint64_t> allocatedBlocks;  // payload blocks stored in the file

    bool withGuids = true;            // false: unknown GUIDs everywhere (only positions tell)
    bool metadataRegionFirst = false;  // region table lists metadata before the BAT
    bool page83BeforeSectorSize = true;  // item order as some tools write it: params, size, page 83, logical, physical
    bool damagePrimaryRegionTable = false;
    std::uint32_t regionEntryCount = 2;  // entries claimed by the region table header
    std::uint64_t payloadPastEnd = 0;    // drop this many bytes from the file's end (truncated image)
    // Bytes placed at virtual-disk offsets over the pattern (partition tables, boot sectors). The blocks they
    // touch are stored even when allocatedBlocks does not list them.
    std::map<std::uint64_t, std::vector<std::uint8_t>> overlays;
};

// Content of virtual byte `offset` in an allocated block (unallocated blocks read as zeros).
std::uint8_t patternByte(std::uint64_t offset);

// The file's bytes.
std::vector<std::uint8_t> buildVhdx(const VhdxSpec& spec);

// The virtual disk the file holds, as a reader must return it.
std::vector<std::uint8_t> expectedDisk(const VhdxSpec& spec);


// A temporary folder for one test, removed with its content at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path);

}  // namespace halvard::testing
