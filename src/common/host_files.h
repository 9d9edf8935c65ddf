#pragma once
// Writing recovered files on the host: the one place that turns a name from an image into a host file name,
// the output file itself, and its time stamps.
#include <cstddef>
#include <cstdint>
#include <string>

namespace halvard {

// What the user is told when the target of a save or an export runs out of space.
inline constexpr const char* kInsufficientSpaceText = "Insufficient Disk Space in saving Location";

// A name from an image as a host file name: slashes, backslashes, NUL and control characters become "_", "." and ".." and
// the empty name get a leading "_", and names over 255 bytes are shortened (keeping a short extension). The
// result is never a path and never leaves the folder it is joined to.
std::string safeHostName(const std::string& name);

// Joins a folder and a name from an image through safeHostName.
std::string hostPathFor(const std::string& folder, const std::string& name);

// `path` with " (n)" put before its extension (or at its end, without `beforeExtension`), the stem shortened
// where the name would grow past 255 bytes.
std::string numberedHostPath(const std::string& path, unsigned n, bool beforeExtension = true);

// `path` when nothing is there yet, else the first free numberedHostPath (n = 1, 2, ...): a recovered file never
// replaces another.
std::string uniqueHostPath(const std::string& path);

// Seconds since 1970 (UTC) of a Windows file time (100 ns units since 1601).
std::int64_t unixSecondsFromFileTime(std::uint64_t fileTime);

// Sets a host file's access and modification times (seconds since 1970 and nanoseconds). Linux keeps no
// settable creation time, so it is not applied.
bool setHostFileTimes(const std::string& path, std::int64_t accessSeconds, std::uint32_t accessNanos,
                      std::int64_t modifySeconds, std::uint32_t modifyNanos);

// A host file being written: created anew, written sequentially, errors kept.
class HostFile {
public:
    HostFile() = default;
    HostFile(const HostFile&) = delete;
    HostFile& operator=(const HostFile&) = delete;
    ~HostFile();

    bool create(const std::string& path);
    bool write(const void* data, std::size_t length);
    // Writes `length` zero bytes (sparse parts, unreadable clusters).
    bool writeZeros(std::uint64_t length);
    bool close();
    bool isOpen() const { return fd_ >= 0; }
    std::uint64_t written() const { return written_; }
    // The system's reason for the last failure ("No space left on device"), empty when none.
    const std::string& error() const { return error_; }
    bool diskFull() const { return diskFull_; }

private:
    int fd_ = -1;
    std::uint64_t written_ = 0;
    std::string error_;
    bool diskFull_ = false;
};

}  // namespace halvard
