#include "image/vhdx_log.h"

#include <algorithm>
#include <map>
#include <memory>

#include "image/crc32c.h"

namespace halvard::vhdx {

namespace {

constexpr std::uint64_t kEntryHeaderSize = 64;
constexpr std::uint64_t kDescriptorSize = 32;
// A log longer than this is not read whole into memory (the format's own logs are a few MiB).
constexpr std::uint64_t kMaxLogLength = 1ULL << 30;
// No entry of a real log writes beyond this (64 TiB, the format's largest disk) or zeroes more.
constexpr std::uint64_t kMaxFileOffset = 1ULL << 46;

// `length` bytes of the circular log from `position`.
std::vector<std::uint8_t> circular(Bytes log, std::uint64_t position, std::uint64_t length) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
    const std::uint64_t first = std::min<std::uint64_t>(length, log.size() - position);
    std::copy_n(log.begin() + static_cast<std::ptrdiff_t>(position), first, out.begin());
    std::copy_n(log.begin(), length - first, out.begin() + static_cast<std::ptrdiff_t>(first));
    return out;
}

LogDescriptor parseDescriptor(Bytes data, std::uint64_t at) {
    LogDescriptor d;
    d.zero = hasSignature(data, at, "zero");
    d.trailingBytes = le32(data, at + 4);
    d.leadingBytes = le64(data, at + 8);
    d.zeroLength = d.leadingBytes;  // the same field: ZeroLength in a zero descriptor
    d.fileOffset = le64(data, at + 16);
    d.sequenceNumber = le64(data, at + 24);
    return d;
}

}  // namespace

LogEntryHeader parseLogEntryHeader(Bytes data) {
    LogEntryHeader h;
    h.signatureOk = hasSignature(data, 0, "loge");
    h.checksum = le32(data, 4);
    h.entryLength = le32(data, 8);
    h.tail = le32(data, 12);
    h.sequenceNumber = le64(data, 16);
    h.descriptorCount = le32(data, 24);
    h.logGuid = Guid::fromBytes(data, 32);
    h.flushedFileOffset = le64(data, 48);
    h.lastFileOffset = le64(data, 56);
    return h;
}

bool parseLogEntry(Bytes log, std::uint64_t position, const Guid& logGuid, LogEntry& entry) {
    const std::uint64_t size = log.size();
    if (size < kLogSector || position % kLogSector != 0 || position >= size) return false;
    const LogEntryHeader h = parseLogEntryHeader(slice(log, position, kEntryHeaderSize));
    if (!h.signatureOk || h.logGuid != logGuid || h.entryLength < kLogSector || h.entryLength % kLogSector != 0 ||
        h.entryLength > size || h.tail % kLogSector != 0 || h.tail >= size)
        return false;
    const std::uint64_t descriptorSectors =
        (kEntryHeaderSize + kDescriptorSize * std::uint64_t{h.descriptorCount} + kLogSector - 1) / kLogSector;
    if (descriptorSectors * kLogSector > h.entryLength) return false;
    const std::vector<std::uint8_t> bytes = circular(log, position, h.entryLength);
    if (!checksumMatches(bytes, 4)) return false;

    entry = {};
    entry.position = position;
    entry.header = h;
    std::uint64_t dataSector = descriptorSectors;
    const auto high = static_cast<std::uint32_t>(h.sequenceNumber >> 32);
    const auto low = static_cast<std::uint32_t>(h.sequenceNumber);
    for (std::uint64_t i = 0; i < h.descriptorCount; ++i) {
        const std::uint64_t at = kEntryHeaderSize + kDescriptorSize * i;
        const LogDescriptor d = parseDescriptor(bytes, at);
        const bool data = hasSignature(bytes, at, "desc");
        if ((!d.zero && !data) || d.sequenceNumber != h.sequenceNumber || d.fileOffset % kLogSector != 0)
            return false;
        if (d.fileOffset > kMaxFileOffset) return false;
        if (d.zero) {
            if (d.zeroLength % kLogSector != 0 || d.zeroLength > kMaxFileOffset) return false;
        } else {
            const std::uint64_t sectorAt = dataSector * kLogSector;
            if (sectorAt + kLogSector > bytes.size() || !hasSignature(bytes, sectorAt, "data") ||
                le32(bytes, sectorAt + 4) != high || le32(bytes, sectorAt + 4092) != low)
                return false;
            // The data sector keeps bytes 8 to 4091 of the 4 KiB it writes; the descriptor keeps the others.
            std::vector<std::uint8_t> sector(bytes.begin() + static_cast<std::ptrdiff_t>(sectorAt),
                                             bytes.begin() + static_cast<std::ptrdiff_t>(sectorAt + kLogSector));
            for (int k = 0; k < 8; ++k) sector[k] = static_cast<std::uint8_t>(d.leadingBytes >> (8 * k));
            for (int k = 0; k < 4; ++k) sector[4092 + k] = static_cast<std::uint8_t>(d.trailingBytes >> (8 * k));
            entry.sectors.push_back(std::move(sector));
            ++dataSector;
        }
        entry.descriptors.push_back(d);
    }
    return dataSector * kLogSector == h.entryLength;
}

LogState replayLog(const ImageFile& file, const Header& header, FileOverlay& overlay) {
    LogState state;
    if (header.logGuid.isZero()) return state;
    state.present = true;
    const std::uint64_t fileSize = file.size();
    if (header.logLength == 0 || header.logLength % kLogSector != 0 || header.logLength > kMaxLogLength ||
        header.logOffset % kLogSector != 0 || header.logOffset >= fileSize ||
        header.logLength > fileSize - header.logOffset) {
        state.problems.push_back("the log region lies outside the file or has a bad length; it was not replayed");
        return state;
    }
    const std::vector<std::uint8_t> log = file.readVector(header.logOffset, header.logLength);
    if (log.size() != header.logLength) {
        state.problems.push_back("the log could not be read; it was not replayed");
        return state;
    }

    std::map<std::uint64_t, LogEntry> valid;  // by position
    for (std::uint64_t at = 0; at < log.size(); at += kLogSector) {
        LogEntry entry;
        if (parseLogEntry(log, at, header.logGuid, entry)) valid.emplace(at, std::move(entry));
    }
    auto successor = [&](const LogEntry& e) -> const LogEntry* {
        const auto it = valid.find((e.position + e.header.entryLength) % log.size());
        return it != valid.end() && it->second.header.sequenceNumber == e.header.sequenceNumber + 1 ? &it->second
                                                                                                    : nullptr;
    };

    // A sequence runs from its newest entry's tail to that entry; of the complete ones the newest wins.
    std::vector<const LogEntry*> best;
    for (const auto& [position, head] : valid) {
        if (successor(head)) continue;  // not the newest of its run
        if (!best.empty() && best.back()->header.sequenceNumber >= head.header.sequenceNumber) continue;
        std::vector<const LogEntry*> run;
        const auto tail = valid.find(head.header.tail);
        for (const LogEntry* e = tail != valid.end() ? &tail->second : nullptr; e && run.size() <= valid.size();
             e = successor(*e)) {
            run.push_back(e);
            if (e == &head) break;
        }
        if (!run.empty() && run.back() == &head) best = std::move(run);
    }
    if (best.empty()) {
        state.problems.push_back("the log holds no complete sequence of valid entries; it was not replayed");
        return state;
    }

    const LogEntryHeader& newest = best.back()->header;
    // The crash can tear the entry being written: it follows the newest one and fails its checks.
    const std::uint64_t next = (best.back()->position + newest.entryLength) % log.size();
    if (next + 64 <= log.size() && !valid.count(next)) {
        const LogEntryHeader torn = parseLogEntryHeader(Bytes(log).subspan(next, 64));
        if (torn.signatureOk && torn.logGuid == header.logGuid && torn.sequenceNumber == newest.sequenceNumber + 1)
            state.problems.push_back("the log entry after the active sequence (sequence " +
                                     std::to_string(torn.sequenceNumber) +
                                     ") fails its checks: a write torn by the crash; replay stops before it");
    }
    state.entries = best.size();
    state.headSequence = newest.sequenceNumber;
    state.flushedFileOffset = newest.flushedFileOffset;
    state.lastFileOffset = newest.lastFileOffset;
    if (fileSize < newest.flushedFileOffset)
        state.problems.push_back("the image file ends before the point the log says was flushed (" +
                                 std::to_string(newest.flushedFileOffset) + " bytes): it may be truncated");
    // The file grows to the log's last file offset; what the entries write lands over that.
    if (newest.lastFileOffset > fileSize && newest.lastFileOffset <= kMaxFileOffset)
        overlay.zero(fileSize, newest.lastFileOffset - fileSize);
    for (const LogEntry* e : best) {
        std::size_t sector = 0;
        for (const LogDescriptor& d : e->descriptors) {
            if (d.zero)
                overlay.zero(d.fileOffset, d.zeroLength);
            else
                overlay.write(d.fileOffset, e->sectors[sector++]);
        }
    }
    state.replayed = true;
    return state;
}

LogState applyLog(ImageFile& file, bool replay) {
    Layout headers;
    readHeaders(file, headers);
    const Header& current = headers.currentHeader();
    auto overlay = std::make_shared<FileOverlay>();
    LogState state = replayLog(file, current, *overlay);
    if (!replay) {
        // Measured, but the file is read as it stands.
        state.replayed = false;
        return state;
    }
    if (!overlay->empty()) file.setOverlay(std::move(overlay));
    return state;
}

}  // namespace halvard::vhdx
