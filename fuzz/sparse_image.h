#pragma once
// Fuzz inputs as sparse byte images, so that a seed of a few KiB can stand for a disk or an image file of many
// MiB: a series of records
//
//   [offset: u32 LE, in 512-byte sectors, taken modulo the image's sector limit]
//   [count:  u8, sectors - 1]
//   [data:   count x 512 bytes; the last record may be short]
//
// Later records overwrite earlier ones; bytes no record writes read as zeros. The image ends with the last sector
// any record writes.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "image/read_write_interface.h"

namespace halvard::fuzzing {

class SparseImage {
public:
    SparseImage(const std::uint8_t* data, std::size_t size, std::uint64_t maxBytes);

    std::uint64_t size() const { return sectorCount_ * kSectorSize; }
    // Copies `length` bytes from `offset` (zeros where nothing was written or past the end).
    void copy(std::uint64_t offset, std::uint8_t* out, std::size_t length) const;
    const std::map<std::uint64_t, std::vector<std::uint8_t>>& sectors() const { return sectors_; }

private:
    std::map<std::uint64_t, std::vector<std::uint8_t>> sectors_;  // sector -> 512 bytes
    std::uint64_t sectorCount_ = 0;
};

// The image as a virtual disk, the way the engines see it through the active reader.
class SparseDisk final : public DiskReader {
public:
    explicit SparseDisk(const SparseImage& image);
    Status open(const std::string&) override { return {}; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t length) const override;

protected:
    SectorMapping mapSector(std::uint64_t) const override { return {}; }
    // Every byte is held (and read by `read`), though nothing is mapped to a file.
    StoredRun storedRunAt(std::uint64_t diskOffset, std::uint64_t) const override {
        return {true, totalSectors * kSectorSize - diskOffset};
    }

private:
    const SparseImage& image_;
};

// The image as a file in memory (a memfd), for readers that open a path. One per process, rewritten per input.
// Returns the path that opens it.
std::string memoryFilePath(const SparseImage& image);
std::string memoryFilePath(const std::uint8_t* data, std::size_t size);

}  // namespace halvard::fuzzing
