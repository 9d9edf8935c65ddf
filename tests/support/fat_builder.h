#pragma once
// FAT12/16/32 and exFAT volumes for tests, built in memory: a boot sector, one FAT, directory slots and entry
// sets written where the test puts them.
#include <cstdint>
#include <string>
#include <vector>

#include "support/put_bytes.h"

namespace halvard::testing {

// A FAT volume of 512-byte sectors and clusters, one FAT, a 32-slot root region on FAT12/16 (the root is
// cluster 2 on FAT32). The entry width follows from the cluster count as on a real volume, so `totalSectors`
// decides FAT12 or FAT16.
class FatVolumeBuilder {
public:
    FatVolumeBuilder(unsigned bits, std::uint32_t totalSectors, const char* oem = "MSDOS5.0");

    void setFat(std::uint32_t cluster, std::uint32_t value);
    // Links the clusters in order and ends the last with the end mark.
    void chain(const std::vector<std::uint32_t>& clusters);
    void put(std::uint64_t offset, const ByteVector& bytes);
    // Puts 32-byte slots one after another from `offset`.
    void putSlots(std::uint64_t offset, const std::vector<ByteVector>& slots);
    std::uint64_t clusterOffset(std::uint32_t cluster) const { return dataStart + (cluster - 2ULL) * 512; }
    // Where the root directory's slots go (FAT32: cluster 2).
    std::uint64_t rootOffset() const { return bits == 32 ? clusterOffset(2) : rootStart; }

    unsigned bits;
    std::uint64_t fatStart, rootStart, dataStart;
    ByteVector image;
};

// A short slot: `name11` is the 11 name bytes (padded with blanks); `first` replaces the first byte when not 0
// (0xE5 for a deleted entry).
ByteVector shortSlot(const std::string& name11, std::uint8_t attributes, std::uint32_t cluster, std::uint32_t size,
                     std::uint8_t first = 0);
// The long-name slots of `name` (ASCII) for the short slot with that checksum, in disk order (the end first).
std::vector<ByteVector> longNameSlots(const std::string& name, std::uint8_t checksum, bool deleted = false);
// "." and ".." of a directory.
std::vector<ByteVector> dotSlots(std::uint32_t self, std::uint32_t parent);

// An exFAT volume: 512-byte sectors and clusters, the FAT at sector 2 (2 sectors), the heap at sector 4, the root
// directory in cluster 2.
class ExfatVolumeBuilder {
public:
    explicit ExfatVolumeBuilder(std::uint32_t clusters = 120);
    void setFat(std::uint32_t cluster, std::uint32_t value);
    void chain(const std::vector<std::uint32_t>& clusters);
    void put(std::uint64_t offset, const ByteVector& bytes);
    void putEntries(std::uint64_t offset, const std::vector<ByteVector>& entries);
    std::uint64_t clusterOffset(std::uint32_t cluster) const { return 4 * 512 + (cluster - 2ULL) * 512; }

    ByteVector image;
};

// A file entry set: file entry, stream extension, name entries. `secondaryCount` < 0 writes the right count.
struct ExfatSet {
    std::string name;  // ASCII
    std::uint16_t attributes = 0x20;
    std::uint32_t firstCluster = 0;
    std::uint64_t length = 0;
    std::uint8_t flags = 0x01;  // 0x03: contiguous
    bool deleted = false;
    int secondaryCount = -1;
    std::uint32_t modifyStamp = 0x50A56C00;
    std::uint8_t utcOffset = 0;  // of all three stamps; bit 7 marks it valid
};
std::vector<ByteVector> exfatEntrySet(const ExfatSet& set);

}  // namespace halvard::testing
