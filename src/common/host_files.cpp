#include "common/host_files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace halvard {

namespace {

constexpr std::size_t kMaxNameBytes = 255;

// The first `bytes` bytes of `text`, cut back to the start of a UTF-8 character.
std::string utf8Prefix(const std::string& text, std::size_t bytes) {
    if (bytes >= text.size()) return text;
    while (bytes > 0 && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
    return text.substr(0, bytes);
}

}  // namespace

std::string safeHostName(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (unsigned char c : name) out += (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) ? '_' : static_cast<char>(c);
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    if (out.size() > kMaxNameBytes) {
        // Keep a short extension; cut at a UTF-8 character boundary.
        std::string extension;
        const std::size_t dot = out.rfind('.');
        if (dot != std::string::npos && out.size() - dot <= 16) extension = out.substr(dot);
        out = utf8Prefix(out, kMaxNameBytes - extension.size()) + extension;
    }
    return out;
}

std::string hostPathFor(const std::string& folder, const std::string& name) {
    if (folder.empty()) return safeHostName(name);
    return folder.back() == '/' ? folder + safeHostName(name) : folder + "/" + safeHostName(name);
}

std::string numberedHostPath(const std::string& path, unsigned n, bool beforeExtension) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    const bool hasExtension = beforeExtension && dot != std::string::npos && dot > nameStart;
    const std::string folder = path.substr(0, nameStart);
    const std::string stem = path.substr(nameStart, (hasExtension ? dot : path.size()) - nameStart);
    const std::string extension = hasExtension ? path.substr(dot) : "";
    const std::string number = " (" + std::to_string(n) + ")";
    const std::size_t room = kMaxNameBytes > number.size() + extension.size()
                                 ? kMaxNameBytes - number.size() - extension.size() : 0;
    return folder + utf8Prefix(stem, room) + number + extension;
}

std::string uniqueHostPath(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return path;
    for (unsigned n = 1;; ++n) {
        std::string candidate = numberedHostPath(path, n);
        if (::lstat(candidate.c_str(), &st) != 0) return candidate;
    }
}

std::int64_t unixSecondsFromFileTime(std::uint64_t fileTime) {
    return static_cast<std::int64_t>(fileTime / 10000000ULL) - 11644473600LL;
}

bool setHostFileTimes(const std::string& path, std::int64_t accessSeconds, std::uint32_t accessNanos,
                      std::int64_t modifySeconds, std::uint32_t modifyNanos) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(accessSeconds);
    times[0].tv_nsec = accessNanos % 1000000000u;
    times[1].tv_sec = static_cast<time_t>(modifySeconds);
    times[1].tv_nsec = modifyNanos % 1000000000u;
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

HostFile::~HostFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool HostFile::create(const std::string& path) {
    if (fd_ >= 0) close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    written_ = 0;
    if (fd_ < 0) {
        error_ = std::strerror(errno);
        diskFull_ = errno == ENOSPC || errno == EDQUOT;
        return false;
    }
    error_.clear();
    diskFull_ = false;
    return true;
}

bool HostFile::write(const void* data, std::size_t length) {
    if (fd_ < 0) return false;
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd_, bytes + done, length - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = std::strerror(errno);
            diskFull_ = errno == ENOSPC || errno == EDQUOT;
            return false;
        }
        done += static_cast<std::size_t>(n);
        written_ += static_cast<std::uint64_t>(n);
    }
    return true;
}

bool HostFile::writeZeros(std::uint64_t length) {
    static const std::vector<char> zeros(1 << 16, 0);
    while (length > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, zeros.size()));
        if (!write(zeros.data(), n)) return false;
        length -= n;
    }
    return true;
}

bool HostFile::close() {
    if (fd_ < 0) return true;
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) {
        error_ = std::strerror(errno);
        diskFull_ = errno == ENOSPC || errno == EDQUOT;
        return false;
    }
    return true;
}

}  // namespace halvard
