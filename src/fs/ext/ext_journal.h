#pragma once
// The journal of ext3/ext4 volumes read as a history: every metadata block a committed transaction logged, with
// the transaction's place in time. A removed file's inode, block map and folder blocks are zeroed on the volume
// but usually still sit in older transactions of the log.
//
// The log is circular and a cleanly unmounted volume says nothing about where it starts, so every block is
// looked at: each descriptor (or revoke) block opens a transaction that counts only when its commit block
// follows (the journal's own structure, never the live superblock's start). Big-endian throughout.
#include <array>
#include <functional>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "common/bytes.h"
#include "fs/ext/ext_format.h"

namespace halvard::ext_format {

inline constexpr std::uint32_t kJournalMagic = 0xC03B3998;
inline constexpr std::uint32_t kJournalDescriptor = 1;
inline constexpr std::uint32_t kJournalCommit = 2;
inline constexpr std::uint32_t kJournalSuperblockV1 = 3;
inline constexpr std::uint32_t kJournalSuperblockV2 = 4;
inline constexpr std::uint32_t kJournalRevoke = 5;

inline constexpr std::uint32_t kJournalIncompatRevoke = 0x01;
inline constexpr std::uint32_t kJournalIncompat64Bit = 0x02;
inline constexpr std::uint32_t kJournalIncompatChecksumV2 = 0x08;
inline constexpr std::uint32_t kJournalIncompatChecksumV3 = 0x10;
inline constexpr std::uint32_t kJournalIncompatFastCommit = 0x20;

inline constexpr std::uint32_t kTagEscaped = 0x01;   // the block began with the magic, which was zeroed in the log
inline constexpr std::uint32_t kTagSameUuid = 0x02;  // no 16-byte UUID follows the tag
inline constexpr std::uint32_t kTagLast = 0x08;

struct JournalSuperblock {
    std::uint32_t blockType = 0;   // 0x04: v1 or v2
    std::uint32_t blockSize = 0;   // 0x0C
    std::uint32_t maxLength = 0;   // 0x10: blocks of the journal, this one included
    std::uint32_t first = 0;       // 0x14: first block of the log
    std::uint32_t sequence = 0;    // 0x18
    std::uint32_t incompatible = 0;  // 0x28 (v2)
    std::array<std::uint8_t, 16> uuid{};  // 0x30 (v2)
    std::uint32_t fastCommitBlocks = 0;   // 0x54 (v2): 0 means the default when the feature is on

    static JournalSuperblock read(Bytes data);
    bool valid() const { return blockType == kJournalSuperblockV1 || blockType == kJournalSuperblockV2; }
    bool has(std::uint32_t feature) const { return blockType == kJournalSuperblockV2 && (incompatible & feature); }
    // Bytes of one block tag without the UUID that may follow it.
    std::uint64_t tagSize() const;
    bool hasTagChecksums() const { return has(kJournalIncompatChecksumV2) || has(kJournalIncompatChecksumV3); }
    // The log ends where the fast-commit area begins.
    std::uint64_t logEnd() const;
};

// One logged copy of a volume block.
struct JournalCopy {
    std::uint64_t volumeBlock = 0;
    std::uint64_t journalBlock = 0;  // index inside the journal
    std::uint32_t order = 0;         // the transaction's place in time: larger is newer
    std::uint32_t sequence = 0;      // the transaction's own number
    std::uint32_t checksum = 0;      // the tag's checksum of the block (checksum journals only)
    bool escaped = false;
};

// Reads `buffer.size()` bytes from `offset` on in block `index` of the journal file (0 is its superblock).
using ReadJournal = std::function<bool(std::uint64_t index, std::uint64_t offset, std::vector<std::uint8_t>& buffer)>;

class Journal {
public:
    // `journalBlocks` is how many blocks the journal file holds. False when the journal is not one this reader
    // understands.
    bool load(const ReadJournal& read, std::uint64_t journalBlocks, std::uint64_t blockSize);

    // The logged copies of a volume block, oldest first.
    std::span<const JournalCopy> copies(std::uint64_t volumeBlock) const;
    // The copy's content as the volume held it (an escaped block gets its first bytes back). False when it cannot
    // be read or its checksum says a later transaction overwrote it in the log.
    bool readCopy(const JournalCopy& copy, std::vector<std::uint8_t>& buffer) const;
    std::size_t transactionCount() const { return transactionCount_; }
    // The newest transaction that revoked the block (freed it as metadata), if any.
    std::optional<std::uint32_t> revokedAt(std::uint64_t volumeBlock) const;

private:
    struct Revoke {
        std::uint64_t volumeBlock = 0;
        std::uint32_t order = 0;
    };
    struct Transaction {
        std::uint32_t sequence = 0;
        std::vector<JournalCopy> copies;
        std::vector<std::uint64_t> revoked;
    };
    struct Header {
        std::uint32_t type = 0;  // 0: not a journal block
        std::uint32_t sequence = 0;
    };
    static Header headerOf(Bytes block);
    std::optional<Transaction> walkTransaction(std::uint64_t start, const std::vector<Header>& headers,
                                               std::vector<bool>& consumed) const;
    std::uint64_t next(std::uint64_t position) const { return position + 1 < end_ ? position + 1 : first_; }

    bool readBlock(std::uint64_t index, std::vector<std::uint8_t>& buffer) const;

    ReadJournal read_;
    JournalSuperblock super_;
    std::uint64_t blockSize_ = 0;
    std::uint64_t first_ = 0, end_ = 0;
    std::uint32_t checksumSeed_ = 0;
    std::vector<JournalCopy> copies_;  // by volume block, then order
    std::vector<Revoke> revokes_;      // by volume block, then order
    std::size_t transactionCount_ = 0;
};

}  // namespace halvard::ext_format
