#include "image/read_write_interface.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "image/parent_image.h"

namespace halvard {

Status DiskReader::fail(const std::string& text, const std::string& detail) {
    failureDetail_ = detail;
    if (messages_) messages_->information(text);
    return Status::failure(text);
}

Status DiskReader::openImageFile(const std::string& path, const char* invalidText) {
    if (!file_.open(path)) return fail(invalidText, file_.error());
    imagePath_ = path;
    imageFileSize = file_.size();
    blockMap.clear();
    totalSectors = 0;
    dropParent();
    return {};
}

void DiskReader::dropParent() {
    parent_.reset();
    parentChain_.clear();
    parentNotes_.clear();
    missingParent_.reset();
}

Status DiskReader::parentNotFound(MissingParent missing) {
    if (!overrides_.openWithoutParent) return fail(missing.text);
    missingParent_ = std::move(missing);
    return {};
}

std::vector<std::string> DiskReader::chainForParent(const std::string& childPath) const {
    std::vector<std::string> chain = chainBelow_;
    chain.insert(chain.begin(), canonicalImagePath(childPath));
    return chain;
}

Status DiskReader::acceptMismatchedParent(const std::string& text) {
    if (!overrides_.forceParent) return fail(text + "; --force-parent reads through it anyway");
    parentNotes_.push_back(text + "; read through it as asked");
    return {};
}

void DiskReader::adoptParent(std::unique_ptr<DiskReader> parent, const std::string& path) {
    parent_ = std::move(parent);
    parentChain_ = {path};
    parentChain_.insert(parentChain_.end(), parent_->parentChain().begin(), parent_->parentChain().end());
}

SectorMapping DiskReader::parentMapping(std::uint64_t sector, std::uint64_t runLimit) const {
    SectorMapping mapping = parent_->locate(sector);
    if (mapping.state == SectorMapping::State::BeyondMap) mapping.state = SectorMapping::State::Unallocated;
    mapping.runSectors = std::max<std::uint64_t>(1, std::min(mapping.runSectors, runLimit));
    return mapping;
}

std::string DiskReader::description() const {
    const std::size_t slash = imagePath_.rfind('/');
    return std::string(formatName()) + " " + (slash == std::string::npos ? imagePath_ : imagePath_.substr(slash + 1));
}

// Serves the request run by run: all sectors of one mapping run (normally the rest of a block) with one file
// read, or one zero fill. The observable result is the same as reading sector by sector.
bool DiskReader::readAt(std::uint64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<std::uint8_t*>(buffer);
    bool complete = true;
    std::size_t done = 0;
    while (done < length) {
        const std::uint64_t v = offset + done;
        if (v < offset || blockMap.empty()) {  // past the largest offset, or no map to read by
            std::memset(out + done, 0, length - done);
            return false;
        }
        const std::uint64_t inSector = v % kSectorSize;
        const SectorMapping mapping = mapSector(v / kSectorSize);
        const std::uint64_t runBytes = std::max<std::uint64_t>(mapping.runSectors, 1) * kSectorSize - inSector;
        const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(length - done, runBytes));
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
        done += chunk;
    }
    return complete;
}

StoredRun DiskReader::storedRunAt(std::uint64_t diskOffset, std::uint64_t limit) const {
    const SectorMapping mapping = mapSector(diskOffset / kSectorSize);
    const std::uint64_t inSector = diskOffset % kSectorSize;
    const std::uint64_t length =
        std::min(std::max<std::uint64_t>(mapping.runSectors, 1) * kSectorSize - inSector, std::max<std::uint64_t>(limit, 1));
    switch (mapping.state) {
        case SectorMapping::State::Unallocated: return {false, length};
        case SectorMapping::State::BeyondMap: return {true, length, true};
        case SectorMapping::State::Allocated: break;
    }
    const ImageFile& source = mapping.source ? *mapping.source : file_;
    return source.dataRun(mapping.fileOffset + inSector, length);
}

std::optional<DiskReader::FileStretch> DiskReader::fileStretch(std::uint64_t diskOffset,
                                                                              std::uint64_t length) const {
    if (diskOffset % kSectorSize != 0 || diskOffset >= totalSectors * kSectorSize || blockMap.empty()) return std::nullopt;
    const SectorMapping mapping = locate(diskOffset / kSectorSize);
    if (mapping.state != SectorMapping::State::Allocated || mapping.runSectors * kSectorSize < length) return std::nullopt;
    return FileStretch{mapping.source, mapping.fileOffset};
}

StoredRun DiskReader::storedAnswer(std::uint64_t diskOffset, std::uint64_t limit) const {
    const std::uint64_t diskEnd = totalSectors * kSectorSize;
    if (limit == 0) return {true, 0};
    if (diskOffset >= diskEnd || blockMap.empty()) return {true, limit};
    limit = std::min(limit, diskEnd - diskOffset);
    StoredRun run = storedRunAt(diskOffset, limit);
    run.length = std::clamp<std::uint64_t>(run.length, 1, limit);
    return run;
}

StoredRun DiskReader::storedRun(std::uint64_t diskOffset, std::uint64_t limit) const {
    StoredRun run = storedAnswer(diskOffset, limit);
    const std::uint64_t diskEnd = totalSectors * kSectorSize;
    if (diskOffset >= diskEnd || blockMap.empty()) return run;
    limit = std::min(limit, diskEnd - diskOffset);
    // Neighbouring answers of one kind join (block after block of an empty disk), up to the limit.
    while (run.length < limit) {
        const StoredRun next = storedAnswer(diskOffset + run.length, limit - run.length);
        if (next.stored != run.stored || next.unreadable != run.unreadable) break;
        run.length += next.length;
    }
    return run;
}

std::uint64_t DiskReader::storedBytes(std::uint64_t diskOffset, std::uint64_t length) const {
    std::uint64_t stored = 0;
    for (std::uint64_t done = 0; done < length;) {
        const StoredRun run = storedRun(diskOffset + done, length - done);
        if (run.stored && !run.unreadable) stored += run.length;
        done += run.length;
    }
    return stored;
}

}  // namespace halvard
