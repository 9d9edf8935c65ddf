#include "fs/block_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "common/host_files.h"

namespace halvard {

namespace {

constexpr std::uint64_t kReadChunk = 1 << 20;

void finish(HostFile& out, SaveOutcome& result, const std::string& hostPath, std::optional<std::int64_t> accessTime,
            std::optional<std::int64_t> modifyTime) {
    result.bytes = out.written();
    if (!out.close()) {
        result.error = out.error();
        result.diskFull = out.diskFull();
        return;
    }
    result.written = true;
    if (accessTime || modifyTime)
        setHostFileTimes(hostPath, accessTime.value_or(modifyTime.value_or(0)), 0,
                         modifyTime.value_or(accessTime.value_or(0)), 0);
}

SaveOutcome failWrite(const HostFile& out, SaveOutcome result) {
    result.written = false;
    result.error = out.error();
    result.diskFull = out.diskFull();
    result.bytes = out.written();
    return result;
}

}  // namespace

SaveOutcome writeBlockFile(const VolumeReader& reader, const BlockFile& file, const std::string& hostPath) {
    SaveOutcome result;
    HostFile out;
    if (!out.create(hostPath)) return failWrite(out, result);
    const std::uint64_t bs = file.blockSize;
    if (bs == 0) {
        result.error = "no block size";
        return result;
    }
    // No volume reaches 2^62 bytes; a larger block count is damage and must not wrap the offsets below.
    const std::uint64_t volumeBlocks = std::min<std::uint64_t>(file.volumeBlocks, (1ULL << 62) / bs);
    // Holes are zeros; a damaged map can claim a file far larger than the volume, so no more zeros are made up
    // than the volume holds.
    std::uint64_t zeroBudget = std::max<std::uint64_t>(volumeBlocks, 1) * bs;
    auto writeZeros = [&](std::uint64_t n) {
        if (n > zeroBudget) return false;
        zeroBudget -= n;
        return out.writeZeros(n);
    };
    std::vector<std::uint8_t> buffer;
    std::uint64_t pos = 0;
    bool ok = true;
    for (const BlockRun& run : file.runs) {
        if (pos >= file.size || !ok) break;
        if (run.count == 0 || run.logical > std::numeric_limits<std::uint64_t>::max() / bs) continue;
        // Skip the part of a run that overlaps what earlier runs wrote (a damaged map).
        std::uint64_t first = 0;
        if (run.logical * bs < pos) first = (pos - run.logical * bs + bs - 1) / bs;
        if (first >= run.count) continue;
        const std::uint64_t start = (run.logical + first) * bs;
        if (start >= file.size) break;
        if (start > pos && !writeZeros(start - pos)) {
            ok = out.error().empty();
            result.damaged = true;
            break;
        }
        pos = start;
        for (std::uint64_t k = first; k < run.count && pos < file.size;) {
            const std::uint64_t blocks = std::min<std::uint64_t>(run.count - k, std::max<std::uint64_t>(kReadChunk / bs, 1));
            const std::uint64_t n = std::min(blocks * bs, file.size - pos);
            buffer.assign(static_cast<std::size_t>(n), 0);
            const std::uint64_t physical = run.physical + k;
            if (!run.unwritten) {
                const bool inside = physical < volumeBlocks && blocks <= volumeBlocks - physical;
                if (!inside || !reader.read(file.firstBlockOffset + physical * bs, buffer.data(), buffer.size()))
                    result.damaged = true;
            }
            if (!out.write(buffer.data(), buffer.size())) {
                ok = false;
                break;
            }
            pos += n;
            k += blocks;
        }
    }
    if (!ok) return failWrite(out, result);
    if (pos < file.size && !writeZeros(file.size - pos)) {
        if (!out.error().empty()) return failWrite(out, result);
        result.damaged = true;
    }
    finish(out, result, hostPath, file.accessTime, file.modifyTime);
    return result;
}

SaveOutcome writeSmallFile(const std::string& content, const std::string& hostPath,
                           std::optional<std::int64_t> accessTime, std::optional<std::int64_t> modifyTime) {
    SaveOutcome result;
    HostFile out;
    if (!out.create(hostPath) || !out.write(content.data(), content.size())) return failWrite(out, result);
    finish(out, result, hostPath, accessTime, modifyTime);
    return result;
}

SaveOutcome writeHostSymlink(const std::string& target, const std::string& hostPath, std::int64_t accessTime,
                             std::int64_t modifyTime) {
    SaveOutcome result;
    if (::symlink(target.c_str(), hostPath.c_str()) != 0) {
        result.error = std::strerror(errno);
        result.diskFull = errno == ENOSPC || errno == EDQUOT;
        return result;
    }
    result.written = true;
    result.bytes = target.size();
    struct timespec times[2] = {{static_cast<time_t>(accessTime), 0}, {static_cast<time_t>(modifyTime), 0}};
    ::utimensat(AT_FDCWD, hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return result;
}

}  // namespace halvard
