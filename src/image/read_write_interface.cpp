#include "image/read_write_interface.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace halvard {

bool readWriteInterface::fail(const std::string& text, const std::string& detail) {
    lastError_ = text;
    lastErrorDetail_ = detail;
    if (messages_) messages_->information(text);
    return false;
}

namespace {

// position + base as a disk offset; false when it is negative or does not fit (hostile offsets from a volume).
bool diskOffset(std::int64_t position, std::int64_t base, std::uint64_t& out) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(position, base, &sum) || sum < 0) return false;
    out = static_cast<std::uint64_t>(sum);
    return true;
}

}  // namespace

bool readWriteInterface::seek(std::int64_t offset, int origin) {
    currentPosition_ = offset;
    if (origin != 0 || blockMap.empty()) return false;
    std::uint64_t virtualOffset = 0;
    if (!diskOffset(offset, volumeBaseOffset, virtualOffset)) return false;
    const SectorMapping mapping = mapSector(virtualOffset / kSectorSize);
    if (mapping.state == SectorMapping::State::BeyondMap) return false;
    lastBlockAllocated = mapping.state == SectorMapping::State::Allocated;
    return true;
}

// Serves the request run by run: all sectors of one mapping run (normally the rest of a block) with one file
// read, or one zero fill. The observable result is the same as reading sector by sector.
bool readWriteInterface::read(void* buffer, std::size_t length) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    bool complete = true;
    std::int64_t position = currentPosition_;
    std::size_t done = 0;
    while (done < length) {
        std::uint64_t v = 0;
        std::size_t chunk;
        if (!diskOffset(position, volumeBaseOffset, v) || blockMap.empty()) {
            chunk = std::min<std::size_t>(length - done, kSectorSize);
            std::memset(out + done, 0, chunk);
            complete = false;
        } else {
            const std::uint64_t inSector = v % kSectorSize;
            const SectorMapping mapping = mapSector(v / kSectorSize);
            const std::uint64_t runBytes = std::max<std::uint64_t>(mapping.runSectors, 1) * kSectorSize - inSector;
            chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, runBytes));
            if (mapping.state == SectorMapping::State::Allocated) {
                const ImageFile& source = mapping.source ? *mapping.source : file_;
                const std::size_t got = source.readAt(mapping.fileOffset + inSector, out + done, chunk);
                if (got < chunk) {
                    std::memset(out + done + got, 0, chunk - got);
                    complete = false;
                }
            } else {
                std::memset(out + done, 0, chunk);
                if (mapping.state == SectorMapping::State::BeyondMap) complete = false;
            }
        }
        done += chunk;
        if (__builtin_add_overflow(position, static_cast<std::int64_t>(chunk), &position)) {
            std::memset(out + done, 0, length - done);  // nothing lies past the largest offset
            currentPosition_ = INT64_MAX;
            return false;
        }
    }
    currentPosition_ = position;
    // Map the next position as a seek would, so lastBlockAllocated describes it; running off the end of the
    // map after the last requested byte is not a failure of this read.
    std::uint64_t next = 0;
    if (diskOffset(position, volumeBaseOffset, next) && !blockMap.empty()) {
        const SectorMapping mapping = mapSector(next / kSectorSize);
        if (mapping.state != SectorMapping::State::BeyondMap)
            lastBlockAllocated = mapping.state == SectorMapping::State::Allocated;
    }
    return complete;
}

}  // namespace halvard
