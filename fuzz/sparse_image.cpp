#include "sparse_image.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace halvard::fuzzing {

SparseImage::SparseImage(const std::uint8_t* data, std::size_t size, std::uint64_t maxBytes) {
    const std::uint64_t limit = std::max<std::uint64_t>(maxBytes / kSectorSize, 1);
    std::size_t at = 0;
    while (at + 5 <= size) {
        std::uint64_t sector = (std::uint64_t(data[at]) | std::uint64_t(data[at + 1]) << 8 |
                                std::uint64_t(data[at + 2]) << 16 | std::uint64_t(data[at + 3]) << 24) % limit;
        const std::size_t count = std::size_t(data[at + 4]) + 1;
        at += 5;
        for (std::size_t i = 0; i < count && at < size && sector < limit; ++i, ++sector) {
            std::vector<std::uint8_t>& bytes = sectors_[sector];
            bytes.assign(kSectorSize, 0);
            const std::size_t n = std::min<std::size_t>(kSectorSize, size - at);
            std::memcpy(bytes.data(), data + at, n);
            at += n;
            sectorCount_ = std::max(sectorCount_, sector + 1);
        }
    }
}

void SparseImage::copy(std::uint64_t offset, std::uint8_t* out, std::size_t length) const {
    std::memset(out, 0, length);
    std::size_t done = 0;
    while (done < length) {
        const std::uint64_t at = offset + done;
        const std::uint64_t inSector = at % kSectorSize;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kSectorSize - inSector, length - done));
        if (at / kSectorSize >= sectorCount_) break;
        const auto it = sectors_.find(at / kSectorSize);
        if (it != sectors_.end()) std::memcpy(out + done, it->second.data() + inSector, n);
        done += n;
    }
}

SparseDisk::SparseDisk(const SparseImage& image) : image_(image) {
    blockMap.assign(1, 0);
    totalSectors = image.size() / kSectorSize;
    imageFileSize = image.size();
}

bool SparseDisk::readAt(std::uint64_t from, void* buffer, std::size_t length) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (length > UINT64_MAX - from) {
        std::memset(out, 0, length);
        return false;
    }
    image_.copy(from, out, length);
    return from + length <= image_.size();
}

namespace {

int memoryFile() {
    static const int fd = [] {
        const int f = ::memfd_create("halvard-fuzz", MFD_CLOEXEC);
        if (f < 0) throw std::runtime_error("memfd_create failed");
        return f;
    }();
    return fd;
}

void writeAll(int fd, const std::uint8_t* data, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n <= 0) throw std::runtime_error("pwrite to the memory file failed");
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

std::string pathOf(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

std::string memoryFilePath(const SparseImage& image) {
    const int fd = memoryFile();
    if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, static_cast<off_t>(image.size())) != 0)
        throw std::runtime_error("ftruncate of the memory file failed");
    for (const auto& [sector, bytes] : image.sectors()) writeAll(fd, bytes.data(), bytes.size(), sector * kSectorSize);
    return pathOf(fd);
}

std::string memoryFilePath(const std::uint8_t* data, std::size_t size) {
    const int fd = memoryFile();
    if (::ftruncate(fd, 0) != 0) throw std::runtime_error("ftruncate of the memory file failed");
    writeAll(fd, data, size, 0);
    return pathOf(fd);
}

}  // namespace halvard::fuzzing
