#pragma once
// Raw disks for scanner tests: a sparse file with partition tables and boot sectors put at chosen sectors.
#include <cstdint>
#include <string>
#include <vector>

namespace halvard::testing {

using Sector = std::vector<std::uint8_t>;

class DiskBuilder {
public:
    // A sparse disk of `sectors` 512-byte sectors in `path`.
    DiskBuilder(std::string path, std::uint64_t sectors);
    ~DiskBuilder();

    void put(std::uint64_t byteOffset, const std::vector<std::uint8_t>& bytes);
    void putSector(std::uint64_t sector, const Sector& bytes) { put(sector * 512, bytes); }

    // An MBR (or EBR) sector at `sector` with up to four (type, first, count) entries and the 0x55AA signature.
    struct Slot {
        std::uint8_t type;
        std::uint32_t first;
        std::uint32_t count;
    };
    void putMbr(std::uint64_t sector, const std::vector<Slot>& slots);

    // A GPT header at LBA 1 and its entry array at LBA 2 (`sectorSize` bytes per LBA).
    struct GptPartition {
        std::string typeGuid;  // canonical text
        std::uint64_t first, last;
        std::string name;
    };
    void putGpt(const std::vector<GptPartition>& partitions, std::uint32_t sectorSize = 512,
                std::uint32_t entryCount = 128, std::uint64_t arrayLba = 2);

    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

// Boot sectors as formatting tools write them.
Sector ntfsBootSector(std::uint64_t totalSectors, std::uint16_t bytesPerSector = 512);
// FAT32 with the given OEM name ("MSDOS5.0" or "mkfs.fat").
Sector fat32BootSector(std::uint32_t totalSectors, const char* oem = "MSDOS5.0");
Sector fat16BootSector(std::uint32_t totalSectors, std::uint16_t sectorsPerFat, const char* oem = "MSDOS5.0");
Sector exfatBootSector(std::uint64_t volumeSectors, std::uint8_t bytesPerSectorShift = 9);
// An HFS+ volume header (it sits 1024 bytes into its volume).
Sector hfsPlusHeader(std::uint32_t blockSize, std::uint32_t totalBlocks);

}  // namespace halvard::testing
