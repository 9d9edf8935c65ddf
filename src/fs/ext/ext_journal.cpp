#include "fs/ext/ext_journal.h"

#include <algorithm>

#include "image/crc32c.h"

namespace halvard::ext_format {

namespace {

constexpr std::uint64_t kHeaderSize = 12;
constexpr std::uint64_t kUuidSize = 16;
constexpr std::uint64_t kBlockTailSize = 4;  // the checksum at the end of descriptor and revoke blocks
constexpr std::uint32_t kDefaultFastCommitBlocks = 256;

// The journal's checksums run CRC-32C without the usual inversions around each piece.
std::uint32_t chainedCrc32c(std::uint32_t crc, Bytes data) { return ~crc32c(data, ~crc); }

}  // namespace

Journal::Header Journal::headerOf(Bytes block) {
    if (be32(block, 0) != kJournalMagic) return {};
    return {be32(block, 4), be32(block, 8)};
}

JournalSuperblock JournalSuperblock::read(Bytes d) {
    JournalSuperblock s;
    if (be32(d, 0) != kJournalMagic) return s;
    s.blockType = be32(d, 0x04);
    s.blockSize = be32(d, 0x0C);
    s.maxLength = be32(d, 0x10);
    s.first = be32(d, 0x14);
    s.sequence = be32(d, 0x18);
    if (s.blockType == kJournalSuperblockV2) {
        s.incompatible = be32(d, 0x28);
        const Bytes uuid = slice(d, 0x30, kUuidSize);
        std::copy(uuid.begin(), uuid.end(), s.uuid.begin());
        s.fastCommitBlocks = be32(d, 0x54);
    }
    return s;
}

std::uint64_t JournalSuperblock::tagSize() const {
    if (has(kJournalIncompatChecksumV3)) return 16;
    // Block number, a 16-bit checksum, flags, the high half of the number; a further 16 bits with checksums v2.
    std::uint64_t size = 12;
    if (has(kJournalIncompatChecksumV2)) size += 2;
    return has(kJournalIncompat64Bit) ? size : size - 4;
}

std::uint64_t JournalSuperblock::logEnd() const {
    if (!has(kJournalIncompatFastCommit)) return maxLength;
    const std::uint64_t fast = fastCommitBlocks != 0 ? fastCommitBlocks : kDefaultFastCommitBlocks;
    return maxLength > fast ? maxLength - fast : 0;
}

bool Journal::readBlock(std::uint64_t index, std::vector<std::uint8_t>& buffer) const {
    buffer.assign(blockSize_, 0);
    return read_ && read_(index, 0, buffer);
}

bool Journal::load(const ReadJournal& read, std::uint64_t journalBlocks, std::uint64_t blockSize) {
    *this = Journal{};
    read_ = read;
    blockSize_ = blockSize;
    std::vector<std::uint8_t> block;
    if (blockSize == 0 || journalBlocks < 2 || !readBlock(0, block)) return false;
    super_ = JournalSuperblock::read(block);
    if (!super_.valid() || super_.blockSize != blockSize) return false;
    first_ = super_.first;
    end_ = std::min<std::uint64_t>(super_.logEnd(), journalBlocks);
    if (first_ == 0 || first_ >= end_) return false;
    if (super_.hasTagChecksums()) checksumSeed_ = chainedCrc32c(~0u, super_.uuid);

    // Every block of the log once: a transaction is walked from each block that opens one not yet taken by another.
    // Only the header of each block is read: the log may be a gigabyte of which a few blocks are descriptors.
    std::vector<Header> headers(end_);
    std::vector<std::uint8_t> head(kHeaderSize);
    for (std::uint64_t p = first_; p < end_; ++p)
        if (read_(p, 0, head)) headers[p] = headerOf(head);
    std::vector<bool> consumed(end_, false);
    std::vector<Transaction> transactions;
    for (std::uint64_t p = first_; p < end_; ++p) {
        // A transaction opens with its revoke blocks, if any, then its descriptors.
        if (consumed[p] || (headers[p].type != kJournalDescriptor && headers[p].type != kJournalRevoke)) continue;
        std::optional<Transaction> t = walkTransaction(p, headers, consumed);
        if (t) transactions.push_back(std::move(*t));
    }
    transactionCount_ = transactions.size();
    if (transactions.empty()) return true;

    // Sequence numbers wrap at 32 bits: they are ordered by their distance from one of them.
    const std::uint32_t reference = transactions.front().sequence;
    std::stable_sort(transactions.begin(), transactions.end(), [reference](const Transaction& a, const Transaction& b) {
        return static_cast<std::int32_t>(a.sequence - reference) < static_cast<std::int32_t>(b.sequence - reference);
    });
    for (std::size_t i = 0; i < transactions.size(); ++i) {
        const auto order = static_cast<std::uint32_t>(i);
        for (JournalCopy& c : transactions[i].copies) {
            c.order = order;
            copies_.push_back(c);
        }
        for (std::uint64_t b : transactions[i].revoked) revokes_.push_back({b, order});
    }
    const auto byBlockThenOrder = [](const auto& a, const auto& b) {
        return a.volumeBlock != b.volumeBlock ? a.volumeBlock < b.volumeBlock : a.order < b.order;
    };
    std::stable_sort(copies_.begin(), copies_.end(), byBlockThenOrder);
    std::stable_sort(revokes_.begin(), revokes_.end(), byBlockThenOrder);
    return true;
}

std::optional<Journal::Transaction> Journal::walkTransaction(std::uint64_t start, const std::vector<Header>& headers,
                                                            std::vector<bool>& consumed) const {
    Transaction t;
    t.sequence = headers[start].sequence;
    std::vector<std::uint8_t> block;
    const bool checksums = super_.hasTagChecksums();
    const bool wide = super_.has(kJournalIncompat64Bit);
    const bool v3 = super_.has(kJournalIncompatChecksumV3);
    const std::uint64_t tagSize = super_.tagSize();
    const std::uint64_t tagsEnd = blockSize_ - (checksums ? kBlockTailSize : 0);
    std::uint64_t position = start;
    // A transaction never holds more blocks than the log.
    for (std::uint64_t steps = 0; steps < end_ - first_; ++steps) {
        const Header header = headers[position];
        if (header.type == 0 || header.sequence != t.sequence) return std::nullopt;
        // Blocks a walk took, whole transaction or broken, open no further walks: a damaged log costs one pass.
        consumed[position] = true;
        if (header.type == kJournalCommit) return t;
        if ((header.type == kJournalRevoke || header.type == kJournalDescriptor) && !readBlock(position, block))
            return std::nullopt;
        if (header.type == kJournalRevoke) {
            const std::uint64_t used = std::min<std::uint64_t>(be32(block, 12), tagsEnd);
            const std::uint64_t recordSize = wide ? 8 : 4;
            for (std::uint64_t at = 16; at + recordSize <= used; at += recordSize)
                t.revoked.push_back(wide ? be64(block, at) : be32(block, at));
        } else if (header.type == kJournalDescriptor) {
            // The descriptor's own content is taken out before the data blocks that follow reuse the buffer.
            std::vector<JournalCopy> tags;
            for (std::uint64_t at = kHeaderSize; at + tagSize <= tagsEnd;) {
                JournalCopy c;
                c.volumeBlock = be32(block, at);
                const std::uint32_t flags = v3 ? be32(block, at + 4) : be16(block, at + 6);
                if (wide) c.volumeBlock |= static_cast<std::uint64_t>(be32(block, at + 8)) << 32;
                c.checksum = v3 ? be32(block, at + 12) : be16(block, at + 4);
                c.escaped = (flags & kTagEscaped) != 0;
                c.sequence = t.sequence;
                tags.push_back(c);
                at += tagSize + ((flags & kTagSameUuid) ? 0 : kUuidSize);
                if (flags & kTagLast) break;
            }
            for (JournalCopy& c : tags) {
                position = next(position);
                // A data block never carries the magic (it is escaped); one that does is a later transaction's
                // block written over this one's data.
                if (headers[position].type != 0) return std::nullopt;
                consumed[position] = true;
                c.journalBlock = position;
                t.copies.push_back(c);
            }
        } else {
            return std::nullopt;
        }
        position = next(position);
    }
    return std::nullopt;
}

std::span<const JournalCopy> Journal::copies(std::uint64_t volumeBlock) const {
    const auto from = std::lower_bound(copies_.begin(), copies_.end(), volumeBlock,
                                       [](const JournalCopy& c, std::uint64_t b) { return c.volumeBlock < b; });
    const auto to = std::upper_bound(from, copies_.end(), volumeBlock,
                                     [](std::uint64_t b, const JournalCopy& c) { return b < c.volumeBlock; });
    return {from, to};
}

bool Journal::readCopy(const JournalCopy& copy, std::vector<std::uint8_t>& buffer) const {
    if (!readBlock(copy.journalBlock, buffer)) return false;
    if (super_.hasTagChecksums()) {
        std::uint8_t sequence[4] = {static_cast<std::uint8_t>(copy.sequence >> 24),
                                    static_cast<std::uint8_t>(copy.sequence >> 16),
                                    static_cast<std::uint8_t>(copy.sequence >> 8),
                                    static_cast<std::uint8_t>(copy.sequence)};
        const std::uint32_t sum = chainedCrc32c(chainedCrc32c(checksumSeed_, sequence), buffer);
        const std::uint32_t expected = super_.has(kJournalIncompatChecksumV3) ? sum : (sum & 0xFFFF);
        if (expected != copy.checksum) return false;
    }
    if (copy.escaped && buffer.size() >= 4) {
        buffer[0] = 0xC0;
        buffer[1] = 0x3B;
        buffer[2] = 0x39;
        buffer[3] = 0x98;
    }
    return true;
}

std::optional<std::uint32_t> Journal::revokedAt(std::uint64_t volumeBlock) const {
    const auto it = std::upper_bound(revokes_.begin(), revokes_.end(), volumeBlock,
                                     [](std::uint64_t b, const Revoke& r) { return b < r.volumeBlock; });
    if (it == revokes_.begin() || std::prev(it)->volumeBlock != volumeBlock) return std::nullopt;
    return std::prev(it)->order;
}

}  // namespace halvard::ext_format
