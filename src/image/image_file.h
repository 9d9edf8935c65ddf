#pragma once
// An image file opened read-only. The program never writes to an image: there is no write path here at all.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/file_overlay.h"
#include "image/stored_run.h"

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
    // The file's size; with an overlay that reaches further, the overlay's end.
    std::uint64_t size() const { return overlay_ ? std::max(size_, overlay_->end()) : size_; }
    // Reads from now on see `overlay` over the file's bytes (bytes past the file's end but below the overlay's end
    // read as zeros where it writes nothing). Null removes it.
    void setOverlay(std::shared_ptr<const FileOverlay> overlay) { overlay_ = std::move(overlay); }
    const std::string& error() const { return error_; }

    // Reads up to `length` bytes at `offset`; returns the count read (short at the end of the file, and after
    // an I/O error, which `error()` then describes).
    virtual std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t length) const;

    // Whether the bytes at `offset` are data or a hole of the host file (holes read as zeros), for at most `length`
    // bytes. Says "data" whenever it cannot tell: with an overlay, past the file's end, where seeking for holes fails.
    StoredRun dataRun(std::uint64_t offset, std::uint64_t length) const;

    // Copies `length` bytes at `offset` into the file `outFd` at `outOffset` inside the kernel, without passing
    // them through this process. False when the kernel cannot (another file system, an overlay, past the end, an
    // error); what was copied then is to be written again by the caller. Holes of this file are not copied: the
    // target's range must read as zeros already, as a freshly sized sparse file does.
    bool copyTo(std::uint64_t offset, std::uint64_t length, int outFd, std::uint64_t outOffset) const;

    // Reads `length` bytes at `offset` into a vector, shorter where the file ends.
    std::vector<std::uint8_t> readVector(std::uint64_t offset, std::size_t length) const;

private:
    bool copyRange(std::uint64_t offset, std::uint64_t length, int outFd, std::uint64_t outOffset) const;

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::shared_ptr<const FileOverlay> overlay_;
    mutable std::string error_;
};

}  // namespace halvard
