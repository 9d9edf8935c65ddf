#include "image/image_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvard {

ImageFile::~ImageFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool ImageFile::open(const std::string& path) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    size_ = 0;
    overlay_.reset();
    // Without O_NONBLOCK a pipe named by an image (an extent, a parent) would wait for a writer for ever.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error_ = "is a directory";
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        error_ = "not a regular file or a block device";
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (S_ISBLK(st.st_mode)) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        size_ = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    } else {
        size_ = static_cast<std::uint64_t>(st.st_size);
    }
    fd_ = fd;
    error_.clear();
    return true;
}

std::size_t ImageFile::readAt(std::uint64_t offset, void* buffer, std::size_t length) const {
    if (fd_ < 0) return 0;
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const std::uint64_t at = offset + done;
        if (at > static_cast<std::uint64_t>(INT64_MAX)) break;
        const ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = std::strerror(errno);
            break;
        }
        if (n == 0) break;  // end of file
        done += static_cast<std::size_t>(n);
    }
    if (!overlay_) return done;
    // Past the file's real end the overlay's extent counts as the file; an I/O error inside it still ends the read.
    const std::uint64_t end = size();
    if (done < length && offset + done >= size_ && offset + done < end) {
        const std::size_t extra = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, end - offset - done));
        std::memset(out + done, 0, extra);
        done += extra;
    }
    overlay_->applyTo(offset, reinterpret_cast<std::uint8_t*>(out), done);
    return done;
}

StoredRun ImageFile::dataRun(std::uint64_t offset, std::uint64_t length) const {
    const StoredRun unknown{true, length};
    // Past the end of the file nothing can be read, however far the caller asks.
    if (fd_ >= 0 && !overlay_ && offset >= size_ && length > 0) return {true, length, true};
    if (fd_ < 0 || length == 0 || overlay_ || offset >= size_ || offset > static_cast<std::uint64_t>(INT64_MAX))
        return unknown;
    const off_t data = ::lseek(fd_, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) return errno == ENXIO ? StoredRun{false, std::min(length, size_ - offset)} : unknown;
    if (static_cast<std::uint64_t>(data) > offset)
        return {false, std::min(length, static_cast<std::uint64_t>(data) - offset)};
    const off_t hole = ::lseek(fd_, static_cast<off_t>(offset), SEEK_HOLE);
    if (hole < 0 || static_cast<std::uint64_t>(hole) <= offset) return unknown;
    return {true, std::min(length, static_cast<std::uint64_t>(hole) - offset)};
}

bool ImageFile::copyTo(std::uint64_t offset, std::uint64_t length, int outFd, std::uint64_t outOffset) const {
    if (fd_ < 0 || overlay_ || offset > size_ || length > size_ - offset || offset + length > INT64_MAX ||
        outOffset > static_cast<std::uint64_t>(INT64_MAX) - length)
        return false;
    while (length > 0) {
        // Holes of this file are left out: they read as zeros, and so does the target where nothing is written.
        const StoredRun run = dataRun(offset, length);
        if (run.stored && !copyRange(offset, run.length, outFd, outOffset)) return false;
        offset += run.length;
        outOffset += run.length;
        length -= run.length;
    }
    return true;
}

bool ImageFile::copyRange(std::uint64_t offset, std::uint64_t length, int outFd, std::uint64_t outOffset) const {
    auto in = static_cast<off_t>(offset);
    auto out = static_cast<off_t>(outOffset);
    while (length > 0) {
        const ssize_t n = ::copy_file_range(fd_, &in, outFd, &out, static_cast<std::size_t>(length), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        length -= static_cast<std::uint64_t>(n);
    }
    return true;
}

std::vector<std::uint8_t> ImageFile::readVector(std::uint64_t offset, std::size_t length) const {
    std::vector<std::uint8_t> data(length);
    data.resize(readAt(offset, data.data(), length));
    return data;
}

}  // namespace halvard
