#pragma once
// The VHDX log, read-only: after a crash the newest block table and metadata may still sit in the log rather than
// in place. The active sequence of entries is found and its writes are laid over the file in memory, so that every
// later read sees the disk as it was last flushed; the file itself is never written.
#include <cstdint>
#include <string>
#include <vector>

#include "image/file_overlay.h"
#include "image/image_file.h"
#include "image/vhdx_format.h"

namespace halvard::vhdx {

inline constexpr std::uint64_t kLogSector = 4096;

struct LogEntryHeader {  // 64 bytes at the start of every entry
    bool signatureOk = false;  // "loge"
    std::uint32_t checksum = 0;
    std::uint32_t entryLength = 0;
    std::uint32_t tail = 0;  // log offset of the oldest entry still needed
    std::uint64_t sequenceNumber = 0;
    std::uint32_t descriptorCount = 0;
    Guid logGuid;
    std::uint64_t flushedFileOffset = 0;
    std::uint64_t lastFileOffset = 0;
};
LogEntryHeader parseLogEntryHeader(Bytes data);

struct LogDescriptor {  // 32 bytes each, after the entry header
    bool zero = false;  // "zero": zero ZeroLength bytes; else "desc": write one 4 KiB data sector
    std::uint32_t trailingBytes = 0;
    std::uint64_t leadingBytes = 0;
    std::uint64_t zeroLength = 0;
    std::uint64_t fileOffset = 0;
    std::uint64_t sequenceNumber = 0;
};

// One entry that passed every check: its signature, checksum, log GUID, lengths, descriptors and data sectors.
struct LogEntry {
    std::uint64_t position = 0;  // in the log
    LogEntryHeader header;
    std::vector<LogDescriptor> descriptors;
    std::vector<std::vector<std::uint8_t>> sectors;  // the 4 KiB each data descriptor writes, in order
};

// Parses the entry at `position` of `log` (read circularly); false when anything does not verify.
bool parseLogEntry(Bytes log, std::uint64_t position, const Guid& logGuid, LogEntry& entry);

struct LogState {
    bool present = false;   // the current header names a log
    bool replayed = false;  // its active sequence was laid over the file
    std::uint64_t entries = 0;
    std::uint64_t headSequence = 0;
    std::uint64_t flushedFileOffset = 0;
    std::uint64_t lastFileOffset = 0;
    std::vector<std::string> problems;
};

// Finds the active sequence of the log `header` names and writes it into `overlay`: the valid entries with
// consecutive sequence numbers whose newest one's tail points back into them, the newest such run winning.
LogState replayLog(const ImageFile& file, const Header& header, FileOverlay& overlay);

// Reads the headers of `file`, and unless `replay` is false lays the current header's log over it.
LogState applyLog(ImageFile& file, bool replay);

}  // namespace halvard::vhdx
