#include "image/disk_export.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sys/statvfs.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "common/bytes.h"
#include "common/helper_thread.h"
#include "common/host_files.h"
#include "common/texts.h"
#include "image/unstored_skip.h"

namespace halvard {

namespace {

constexpr std::uint64_t kProgressStep = 10 * 1024 * 1024;
// Zeros are left as holes in pieces of this size, as a sparse copy by other tools leaves them.
constexpr std::size_t kHoleGrain = 4096;

bool exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found && !ec;
}

// Checks that the target can hold the `stored` bytes that may be written and sizes the file to `bytes`. Returns 0,
// or the errno that tells why not. The file stays sparse: zero runs of the disk are never written, as a raw image
// of a mostly empty disk should be, so only what the image stores needs room.
int reserveSpace(int fd, std::uint64_t bytes, std::uint64_t stored) {
    struct statvfs vfs {};
    // Some file systems (a few FUSE ones) report no sizes at all; then only the writes can tell.
    if (::fstatvfs(fd, &vfs) == 0 && vfs.f_blocks != 0 &&
        static_cast<unsigned __int128>(vfs.f_bavail) * vfs.f_frsize < stored)
        return ENOSPC;
    return ::ftruncate(fd, static_cast<off_t>(bytes)) == 0 ? 0 : errno;
}

// The largest size the file system lets `fd` take, below `tooLarge` (which it refused): found by trying, as
// no call states it. The file is left empty.
std::uint64_t largestFileSize(int fd, std::uint64_t tooLarge) {
    std::uint64_t fits = 0, refused = tooLarge;
    while (refused - fits > 1) {
        const std::uint64_t mid = fits + (refused - fits) / 2;
        if (mid <= static_cast<std::uint64_t>(INT64_MAX) && ::ftruncate(fd, static_cast<off_t>(mid)) == 0)
            fits = mid;
        else
            refused = mid;
    }
    if (::ftruncate(fd, 0) != 0) { /* the file is removed all the same */ }
    return fits;
}

std::string fileTooLargeText(std::uint64_t bytes, std::uint64_t largest) {
    return "The file system of the saving location cannot hold a file of " + std::to_string(bytes) + " bytes (" +
           sizeText(static_cast<std::int64_t>(std::min<std::uint64_t>(bytes, INT64_MAX))) +
           "): the largest file it allows is " + std::to_string(largest) + " bytes (" +
           sizeText(static_cast<std::int64_t>(std::min<std::uint64_t>(largest, INT64_MAX))) +
           "); save the disk to another file system";
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t length, std::uint64_t offset, int& error) {
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pwrite(fd, data + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            return false;
        }
        if (n == 0) {
            error = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes the parts of `data` that are not zeros (in whole grains from the chunk's start); 0 or the errno.
int writeNonZero(int fd, const std::uint8_t* data, std::size_t length, std::uint64_t offset) {
    std::size_t at = 0;
    while (at < length) {
        const std::size_t grain = std::min(kHoleGrain, length - at);
        if (allZero(Bytes(data + at, grain))) {
            at += grain;
            continue;
        }
        std::size_t end = at + grain;
        while (end < length) {
            const std::size_t next = std::min(kHoleGrain, length - end);
            if (allZero(Bytes(data + end, next))) break;
            end += next;
        }
        int error = 0;
        if (!writeAll(fd, data + at, end - at, offset + at, error)) return error;
        at = end;
    }
    return 0;
}

// A part of the disk that lies as it is in an image file.
struct Stretch {
    DiskReader::FileStretch where;
    std::uint64_t diskOffset = 0;
    std::uint64_t length = 0;
};

// The stretches that make up [offset, offset + length) of the disk, or none when some of it does not lie as it is
// in a file (zeros the image does not store, compressed data) or it lies in pieces too small to be worth a copy
// each. A chunk across blocks that lie apart in the image file is copied stretch by stretch.
std::vector<Stretch> stretchesOf(const DiskReader& reader, std::uint64_t offset, std::uint64_t length) {
    constexpr std::size_t kMostStretches = 64;
    if (const auto whole = reader.fileStretch(offset, length)) return {Stretch{*whole, offset, length}};
    std::vector<Stretch> stretches;
    for (std::uint64_t at = offset, end = offset + length; at < end;) {
        const SectorMapping mapping = reader.locate(at / kSectorSize);
        const std::uint64_t together = std::min(end - at, mapping.runSectors * kSectorSize);
        const auto where = mapping.state == SectorMapping::State::Allocated && stretches.size() < kMostStretches
                               ? reader.fileStretch(at, together)
                               : std::nullopt;
        if (!where) return {};
        stretches.push_back({*where, at, together});
        at += together;
    }
    return stretches;
}

// Reads a chunk again sector by sector after a failed read: the sectors that cannot be read become zeros in
// `buffer` (it still holds an earlier chunk's bytes). Returns how many there were.
std::uint64_t readSectorBySector(const DiskReader& reader, std::uint64_t offset, std::uint8_t* buffer,
                                 std::size_t length) {
    std::uint64_t unreadable = 0;
    for (std::size_t at = 0; at < length; at += kSectorSize) {
        const std::size_t n = std::min<std::size_t>(kSectorSize, length - at);
        if (!reader.readAt(offset + at, buffer + at, n)) {
            std::memset(buffer + at, 0, n);
            ++unreadable;
        }
    }
    return unreadable;
}

}  // namespace

std::string chooseExportPath(const std::string& folder, const std::string& imagePath) {
    std::string dir = folder;
    if (dir.empty() || dir.back() != '/') dir += '/';
    const std::string name = std::filesystem::path(imagePath).filename().string();
    const std::string base = name.empty() ? std::string("Recovered_diskimg.img") : name + ".img";
    std::string candidate = dir + base;
    for (unsigned n = 1; exists(candidate); ++n) candidate = dir + std::to_string(n) + base;
    return candidate;
}

std::string exportProgressText(std::uint64_t bytesDone, std::uint64_t totalBytes) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "%llu MB of %llu MB or %Lf GB of %Lf GB Saved",
                  static_cast<unsigned long long>(bytesDone / 1048576),
                  static_cast<unsigned long long>(totalBytes / 1048576),
                  static_cast<long double>(bytesDone) / 1073741824.0L,
                  static_cast<long double>(totalBytes) / 1073741824.0L);
    return buffer;
}

ExportResult exportDiskImage(const DiskReader& reader, std::uint64_t totalSectors, const std::string& outputPath,
                             const Reporting& reporting, const StopPoll& stop) {
    ExportResult result;
    if (totalSectors == 0) totalSectors = reader.imageFileSize / kSectorSize;
    result.totalBytes = totalSectors * kSectorSize;
    // The whole disk ends where the disk does, inside its last sector when that is only partly there.
    if (totalSectors == reader.totalSectors) result.totalBytes = std::min(result.totalBytes, reader.diskBytes());
    auto failWith = [&](ExportOutcome outcome, const std::string& message) {
        result.outcome = outcome;
        result.message = message;
        reporting.inform(message);
        return result;
    };

    const int fd = ::open(outputPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return failWith(ExportOutcome::CreateFailed, "File cannot be Created");
    if (const int rc = reserveSpace(fd, result.totalBytes, reader.storedBytes(0, result.totalBytes)); rc != 0) {
        // A file system whose files cannot be that large (16 TiB on ext4 with 4 KiB blocks) refuses the size
        // however much room it has: that is not a lack of space.
        if (rc == EFBIG) {
            const std::uint64_t largest = largestFileSize(fd, result.totalBytes);
            ::close(fd);
            ::unlink(outputPath.c_str());
            return failWith(ExportOutcome::FileTooLarge, fileTooLargeText(result.totalBytes, largest));
        }
        ::close(fd);
        ::unlink(outputPath.c_str());
        if (rc == ENOSPC || rc == EDQUOT) return failWith(ExportOutcome::InsufficientSpace, kInsufficientSpaceText);
        return failWith(ExportOutcome::CreateFailed, "File cannot be Created");
    }

    // The progress bar holds 32-bit positions: disks past 2 TiB count in larger units.
    unsigned shift = 0;
    while ((totalSectors >> shift) > 0x7FFFFFFFULL) ++shift;
    reporting.setRange(0, static_cast<std::uint32_t>(totalSectors >> shift));
    reporting.setPosition(0);

    // Chunks the image stores nothing of are holes already; the others are read here while the one before is
    // written on a second thread.
    UnstoredSkip unstored([&reader](std::uint64_t offset, std::uint64_t limit) { return reader.storedRun(offset, limit); },
                          result.totalBytes);
    struct Chunk {
        // Taken the first time a chunk is read here rather than copied by the kernel; never cleared, as every
        // read fills it whole.
        std::unique_ptr<std::uint8_t[]> buffer;
        std::uint8_t* bytes() {
            if (!buffer) buffer.reset(new std::uint8_t[kExportChunkSize]);
            return buffer.get();
        }
        std::uint64_t offset = 0;
        std::size_t length = 0;
        // Set when the chunk lies as it is in image files, in these stretches one after the other: the kernel
        // copies it, and it is not read here.
        std::vector<Stretch> stretches;
    };
    bool kernelCopies = true;  // until the kernel refuses once (another file system, say)
    Chunk reading, writing;
    auto readChunk = [&](Chunk& chunk) {
        if (!reader.readAt(chunk.offset, chunk.bytes(), chunk.length))
            result.unreadableSectors += readSectorBySector(reader, chunk.offset, chunk.bytes(), chunk.length);
    };
    // Reads the chunk at or after `from` that holds stored bytes; false when none is left.
    auto readNext = [&](std::uint64_t from, Chunk& chunk) {
        // Whole chunks only, so that no byte jumped as unreadable is read (and counted) again.
        const std::uint64_t stored = unstored.next(from, kExportChunkSize);
        if (stored >= result.totalBytes) return false;
        chunk.offset = stored / kExportChunkSize * kExportChunkSize;
        chunk.length = static_cast<std::size_t>(std::min<std::uint64_t>(kExportChunkSize, result.totalBytes - chunk.offset));
        chunk.stretches.clear();
        if (kernelCopies) chunk.stretches = stretchesOf(reader, chunk.offset, chunk.length);
        if (!chunk.stretches.empty()) return true;
        readChunk(chunk);
        return true;
    };
    // Copies a chunk that lies in one file inside the kernel, or writes what is not zeros of the bytes read.
    constexpr int kNotCopied = -1;
    auto writeChunk = [fd](const Chunk& chunk) {
        if (chunk.stretches.empty()) return writeNonZero(fd, chunk.buffer.get(), chunk.length, chunk.offset);
        for (const Stretch& s : chunk.stretches)
            if (!s.where.file->copyTo(s.where.offset, s.length, fd, s.diskOffset)) return kNotCopied;
        return 0;
    };
    HelperThread writer;
    int writeError = 0;
    auto startWrite = [&](const Chunk& chunk) {
        if (!writer.post([&writeChunk, &writeError, &chunk] { writeError = writeChunk(chunk); }))
            writeError = writeChunk(chunk);  // no thread to be had: write here
    };
    std::uint64_t shownStep = 0;
    auto showProgress = [&] {
        if (result.bytesDone / kProgressStep != shownStep) {
            shownStep = result.bytesDone / kProgressStep;
            reporting.setPosition(static_cast<std::uint32_t>((shownStep * kProgressStep / kSectorSize) >> shift));
        }
        reporting.setStatus(exportProgressText(result.bytesDone, result.totalBytes));
    };
    // At most a thousand steps over the holes of any disk, whole chunks, no finer than the bar moves.
    const std::uint64_t holeStep = std::max(
        kProgressStep, (result.totalBytes / 1000 + kExportChunkSize - 1) / kExportChunkSize * kExportChunkSize);
    bool more = readNext(0, reading);
    if (!more) {  // nothing stored at all: the sized file is the whole copy
        result.bytesDone = result.totalBytes;
        showProgress();
    }
    while (more) {
        std::swap(reading, writing);
        startWrite(writing);
        const std::uint64_t end = writing.offset + writing.length;
        more = end < result.totalBytes && readNext(end, reading);
        writer.wait();
        int error = writeError;
        if (error == kNotCopied) {
            // What was copied is written again from the bytes read here; later chunks are read, not copied.
            kernelCopies = false;
            writing.stretches.clear();
            readChunk(writing);
            error = writeChunk(writing);
        }
        if (error != 0) {
            result.bytesDone = writing.offset;
            if (error == ENOSPC || error == EDQUOT)
                failWith(ExportOutcome::WriteFailed, kInsufficientSpaceText);
            else
                failWith(ExportOutcome::WriteFailed, "Error " + std::to_string(error) + " while writing in File");
            break;
        }
        result.bytesDone = end;
        if (stop.stopNow()) {
            result.outcome = ExportOutcome::Stopped;
            break;
        }
        showProgress();
        // Up to the next chunk with stored bytes (or the end) the file holds holes, which need no writing.
        const std::uint64_t holesEnd = more ? reading.offset : result.totalBytes;
        // Holes go by in steps, each shown and each a point where Stop ends the copy, as chunks are.
        while (result.bytesDone < holesEnd && result.outcome != ExportOutcome::Stopped) {
            result.bytesDone = std::min(holesEnd, result.bytesDone + holeStep);
            showProgress();
            if (stop.stopNow()) result.outcome = ExportOutcome::Stopped;
        }
        if (result.outcome == ExportOutcome::Stopped) break;
    }

    // What lies past the image's tables or its file's end was jumped in one step, not read sector by sector.
    result.unreadableSectors += unstored.unreadableBytes() / kSectorSize;
    // A copy that did not finish must not look whole: cut the file back to what was written.
    if (result.bytesDone < result.totalBytes) {
        if (::ftruncate(fd, static_cast<off_t>(result.bytesDone)) != 0) { /* the partial file stays as it is */ }
    }
    if (::close(fd) != 0 && result.outcome == ExportOutcome::Completed) {
        const int error = errno;
        failWith(ExportOutcome::WriteFailed, error == ENOSPC ? std::string(kInsufficientSpaceText)
                                                             : "Error " + std::to_string(error) + " while writing in File");
    }
    // The bar moves every 10 MiB; a finished copy shows it full whatever the disk's size.
    if (result.outcome == ExportOutcome::Completed)
        reporting.setPosition(static_cast<std::uint32_t>(totalSectors >> shift));
    reporting.setStatus(kExportDoneText);
    return result;
}

}  // namespace halvard
