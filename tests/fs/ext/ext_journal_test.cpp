// The ext3/ext4 journal read as a history, on synthetic logs: transactions only with their commit, in sequence
// order across the log's wrap and the 32-bit wrap of sequence numbers, tag layouts of every feature set, escaped
// blocks, revoke records, and copies a later transaction overwrote in the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "fs/ext/ext_journal.h"
#include "image/crc32c.h"
#include "support/put_bytes.h"

namespace halvard {
namespace {

using namespace ext_format;
using namespace testing;  // the byte writers and their buffer type

constexpr std::uint32_t kBlock = 1024;


ByteVector filled(std::uint8_t value) { return ByteVector(kBlock, value); }

// A journal file of `length` blocks written the way the driver writes one.
struct JournalImage {
    std::vector<ByteVector> blocks;
    std::uint32_t incompatible;

    JournalImage(std::uint32_t length, std::uint32_t features)
        : blocks(length, ByteVector(kBlock, 0)), incompatible(features) {
        ByteVector& s = blocks[0];
        putBe32(s, 0, kJournalMagic);
        putBe32(s, 4, kJournalSuperblockV2);
        putBe32(s, 0x0C, kBlock);
        putBe32(s, 0x10, length);
        putBe32(s, 0x14, 1);
        putBe32(s, 0x28, features);
        for (int i = 0; i < 16; ++i) s[0x30 + i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    JournalSuperblock super() const { return JournalSuperblock::read(blocks[0]); }
    std::uint32_t next(std::uint32_t p) const { return p + 1 < blocks.size() ? p + 1 : 1; }
    void header(std::uint32_t at, std::uint32_t type, std::uint32_t sequence) {
        blocks[at].assign(kBlock, 0);
        putBe32(blocks[at], 0, kJournalMagic);
        putBe32(blocks[at], 4, type);
        putBe32(blocks[at], 8, sequence);
    }
    // The checksum the driver puts in a tag: CRC-32C chained over the journal UUID, the sequence and the block.
    std::uint32_t tagChecksum(std::uint32_t sequence, const ByteVector& data) const {
        auto chained = [](std::uint32_t crc, Bytes d) { return ~crc32c(d, ~crc); };
        ByteVector seq(4);
        putBe32(seq, 0, sequence);
        return chained(chained(chained(~0u, slice(blocks[0], 0x30, 16)), seq), data);
    }
    // A descriptor at `at` naming `data` (volume block, content), the data after it, then the commit (if any).
    // Returns the position after the transaction.
    std::uint32_t transaction(std::uint32_t at, std::uint32_t sequence,
                              const std::vector<std::pair<std::uint64_t, ByteVector>>& data, bool commit = true,
                              const std::vector<std::uint64_t>& revoked = {}) {
        const JournalSuperblock s = super();
        if (!revoked.empty()) {
            header(at, kJournalRevoke, sequence);
            const std::size_t record = s.has(kJournalIncompat64Bit) ? 8 : 4;
            for (std::size_t i = 0; i < revoked.size(); ++i) {
                if (record == 8) putBe32(blocks[at], 16 + i * 8, static_cast<std::uint32_t>(revoked[i] >> 32));
                putBe32(blocks[at], 16 + i * record + (record - 4), static_cast<std::uint32_t>(revoked[i]));
            }
            putBe32(blocks[at], 12, static_cast<std::uint32_t>(16 + revoked.size() * record));
            at = next(at);
        }
        header(at, kJournalDescriptor, sequence);
        const std::uint32_t descriptor = at;
        std::size_t tag = 12;
        for (std::size_t i = 0; i < data.size(); ++i) {
            ByteVector content = data[i].second;
            const bool escape = be32(content, 0) == kJournalMagic;
            if (escape) putBe32(content, 0, 0);
            // The first tag carries the UUID after it, the others say it is the same.
            std::uint32_t flags = (i == 0 ? 0 : kTagSameUuid) | (escape ? kTagEscaped : 0) |
                                  (i + 1 == data.size() ? kTagLast : 0);
            ByteVector& d = blocks[descriptor];
            putBe32(d, tag, static_cast<std::uint32_t>(data[i].first));
            if (s.has(kJournalIncompat64Bit)) putBe32(d, tag + 8, static_cast<std::uint32_t>(data[i].first >> 32));
            const std::uint32_t sum = tagChecksum(sequence, content);
            if (s.has(kJournalIncompatChecksumV3)) {
                putBe32(d, tag + 4, flags);
                putBe32(d, tag + 12, sum);
            } else {
                putBe16(d, tag + 6, static_cast<std::uint16_t>(flags));
                if (s.has(kJournalIncompatChecksumV2)) putBe16(d, tag + 4, static_cast<std::uint16_t>(sum));
            }
            tag += s.tagSize() + (i == 0 ? 16 : 0);
            at = next(at);
            blocks[at] = content;
        }
        at = next(at);
        if (commit) {
            header(at, kJournalCommit, sequence);
            at = next(at);
        }
        return at;
    }
    ReadJournal reader() const {
        return [this](std::uint64_t index, std::uint64_t offset, std::vector<std::uint8_t>& out) {
            if (index >= blocks.size() || offset + out.size() > kBlock) return false;
            std::copy_n(blocks[index].begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
            return true;
        };
    }
};

// The contents of a block's copies, oldest first, as first bytes.
std::vector<std::uint8_t> history(const Journal& journal, std::uint64_t block) {
    std::vector<std::uint8_t> firstBytes;
    ByteVector content;
    for (const JournalCopy& c : journal.copies(block))
        if (journal.readCopy(c, content)) firstBytes.push_back(content[100]);
    return firstBytes;
}

TEST(ExtJournal, TagSizesFollowTheFeatures) {
    const std::pair<std::uint32_t, std::uint64_t> cases[] = {
        {0, 8},
        {kJournalIncompat64Bit, 12},
        {kJournalIncompatChecksumV2, 10},
        {kJournalIncompatChecksumV2 | kJournalIncompat64Bit, 14},
        {kJournalIncompatChecksumV3, 16},
        {kJournalIncompatChecksumV3 | kJournalIncompat64Bit, 16}};
    for (const auto& [features, size] : cases) EXPECT_EQ(JournalImage(8, features).super().tagSize(), size) << features;
    JournalImage fast(300, kJournalIncompatFastCommit);
    EXPECT_EQ(fast.super().logEnd(), 300u - 256u);
}

TEST(ExtJournal, CommittedTransactionsInSequenceOrderEvenAcrossTheWrapOfTheLog) {
    for (const std::uint32_t features :
         {0u, kJournalIncompat64Bit, kJournalIncompatChecksumV2, kJournalIncompatChecksumV3 | kJournalIncompat64Bit}) {
        JournalImage j(24, features);
        // An older pass of the log: one transaction at its middle, one that wraps from its end to its start, and
        // one whose commit the newest pass wrote over.
        j.transaction(12, 0xFFFFFFF0u, {{500, filled(1)}, {501, filled(1)}});
        const std::uint32_t after =
            j.transaction(19, 0xFFFFFFF1u, {{500, filled(2)}, {502, filled(2)}, {503, filled(2)}, {504, filled(2)}});
        EXPECT_EQ(after, 2u);
        j.transaction(2, 0xFFFFFFF2u, {{505, filled(5)}});
        // The newest pass: its sequence numbers wrap past 32 bits.
        const std::uint32_t at = j.transaction(4, 0xFFFFFFFFu, {{500, filled(3)}});
        j.transaction(at, 0, {{500, filled(4)}, {(1ULL << 33) + 7, filled(9)}});
        Journal journal;
        ASSERT_TRUE(journal.load(j.reader(), j.blocks.size(), kBlock)) << features;
        EXPECT_EQ(history(journal, 500), (std::vector<std::uint8_t>{1, 2, 3, 4})) << features;
        EXPECT_EQ(history(journal, 501), (std::vector<std::uint8_t>{1})) << features;
        EXPECT_EQ(history(journal, 504), (std::vector<std::uint8_t>{2})) << features;
        EXPECT_TRUE(journal.copies(505).empty()) << features;
        const bool wide = features & kJournalIncompat64Bit;
        EXPECT_EQ(journal.copies((1ULL << 33) + 7).size(), wide ? 1u : 0u) << features;
        EXPECT_EQ(journal.copies(7).size(), wide ? 0u : 1u) << features;
        EXPECT_EQ(journal.transactionCount(), 4u) << features;
    }
}

TEST(ExtJournal, EscapedBlocksGetTheirMagicBackAndRevokesAreKept) {
    JournalImage j(16, kJournalIncompatRevoke | kJournalIncompat64Bit);
    ByteVector magic = filled(6);
    putBe32(magic, 0, kJournalMagic);
    std::uint32_t at = j.transaction(1, 10, {{40, magic}, {41, filled(7)}});
    j.transaction(at, 11, {{42, filled(8)}}, true, {40, (1ULL << 32) + 5});
    Journal journal;
    ASSERT_TRUE(journal.load(j.reader(), j.blocks.size(), kBlock));
    ByteVector content;
    ASSERT_EQ(journal.copies(40).size(), 1u);
    ASSERT_TRUE(journal.readCopy(journal.copies(40)[0], content));
    EXPECT_EQ(be32(content, 0), kJournalMagic);
    EXPECT_EQ(content[100], 6);
    EXPECT_EQ(journal.revokedAt(40), journal.copies(42)[0].order);
    EXPECT_TRUE(journal.revokedAt((1ULL << 32) + 5).has_value());
    EXPECT_FALSE(journal.revokedAt(41).has_value());
}

TEST(ExtJournal, ACopyOverwrittenInTheLogFailsItsChecksum) {
    JournalImage j(16, kJournalIncompatChecksumV3);
    j.transaction(1, 10, {{40, filled(1)}, {41, filled(2)}});
    Journal journal;
    ASSERT_TRUE(journal.load(j.reader(), j.blocks.size(), kBlock));
    ByteVector content;
    EXPECT_TRUE(journal.readCopy(journal.copies(41)[0], content));
    j.blocks[3] = filled(9);  // block 41's copy, written over by data of another transaction
    EXPECT_FALSE(journal.readCopy(journal.copies(41)[0], content));
    EXPECT_TRUE(journal.readCopy(journal.copies(40)[0], content));
}

TEST(ExtJournal, DamagedJournalsAreRefusedOrReadAsFarAsTheyMakeSense) {
    JournalImage j(16, 0);
    j.transaction(1, 10, {{40, filled(1)}});
    Journal journal;
    EXPECT_FALSE(journal.load(j.reader(), j.blocks.size(), 4096));  // another block size than the volume's
    EXPECT_FALSE(journal.load(j.reader(), 1, kBlock));
    JournalImage bad = j;
    putBe32(bad.blocks[0], 0x14, 16);  // the log would start past its end
    EXPECT_FALSE(journal.load(bad.reader(), bad.blocks.size(), kBlock));
    // A descriptor that claims more tags than the log has blocks, each without the last-tag flag: its walk
    // runs into its own descriptor or a block that is not data, and nothing is taken from it.
    bad = j;
    bad.header(5, kJournalDescriptor, 20);
    for (std::size_t at = 12; at + 8 <= kBlock; at += 8) {
        putBe32(bad.blocks[5], at, 77);
        putBe16(bad.blocks[5], at + 6, kTagSameUuid);
    }
    ASSERT_TRUE(journal.load(bad.reader(), bad.blocks.size(), kBlock));
    EXPECT_TRUE(journal.copies(77).empty());
    EXPECT_EQ(journal.copies(40).size(), 1u);
    // A journal larger than its file is read only as far as the file goes.
    ASSERT_TRUE(journal.load(j.reader(), 4, kBlock));
    EXPECT_EQ(journal.copies(40).size(), 1u);
}

}  // namespace
}  // namespace halvard
