#pragma once
// An image file opened read-only. The program never writes to an image: there is no write path here at all.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace halvard {

class ImageFile {
public:
    ImageFile() = default;
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    virtual ~ImageFile();

    // Opens `path` for reading. On failure returns false and `error()` holds the system's reason.
    bool open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    std::uint64_t size() const { return size_; }
    const std::string& error() const { return error_; }

    // Reads up to `length` bytes at `offset`; returns the count read (short at the end of the file, and after
    // an I/O error, which `error()` then describes).
    virtual std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t length) const;

    // Reads `length` bytes at `offset` into a vector, shorter where the file ends.
    std::vector<std::uint8_t> readVector(std::uint64_t offset, std::size_t length) const;

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    mutable std::string error_;
};

}  // namespace halvard
