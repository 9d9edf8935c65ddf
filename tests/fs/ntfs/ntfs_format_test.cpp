// MFT records, run lists and LZNT1 units, each from bytes built here, with damaged variants.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "fs/ntfs/data_runs.h"
#include "fs/ntfs/lznt1.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/ntfs_boot_sector.h"
#include "support/ntfs_builder.h"

namespace halvard {
namespace {

using namespace ntfs_format;
using testing::ByteVector;
using testing::RecordBuilder;

TEST(NtfsFixups, RestoresEveryStrideTheSequenceCovers) {
    for (std::uint32_t size : {1024u, 4096u}) {
        RecordBuilder builder(size);
        // A value that runs across byte 510 (the end of the first stride).
        ByteVector value(600);
        for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(i * 7 + 1);
        builder.resident(0x80, value);
        const ByteVector plain = builder.plain(0xBEEF);
        ByteVector disk = builder.build(0xBEEF);
        for (std::uint32_t end = 512; end <= size; end += 512) {
            EXPECT_EQ(disk[end - 2], 0xEF);
            EXPECT_EQ(disk[end - 1], 0xBE);
        }
        ASSERT_TRUE(applyFixups(disk));
        EXPECT_EQ(disk, plain) << size;
    }
}

TEST(NtfsFixups, TornWriteIsStillFixedAndArrayOutsideIsRefused) {
    ByteVector disk = RecordBuilder().fileName(5, "a.txt").build(7);
    const ByteVector plain = RecordBuilder().fileName(5, "a.txt").plain(7);
    disk[1022] = 0x99;  // second sector from an older write: its sequence number does not match
    ASSERT_TRUE(applyFixups(disk));
    EXPECT_EQ(disk[1022], plain[1022]);

    ByteVector outside = RecordBuilder().build();
    outside[0x04] = 0xFC;  // array at 1020 with 3 words runs past the record
    outside[0x05] = 0x03;
    const ByteVector before = outside;
    EXPECT_FALSE(applyFixups(outside));
    EXPECT_EQ(outside, before);

    ByteVector zeros(1024, 0);
    EXPECT_TRUE(applyFixups(zeros));  // an empty slot has nothing to fix
}

TEST(NtfsRecord, AttributeWalkStopsAtDamageAndKeepsWhatCameBefore) {
    RecordBuilder builder;
    builder.standardInformation(1, 2, 3).fileName(5, "kept.txt");
    const std::uint32_t damagedAt = builder.nextAttributeOffset();
    builder.fileName(5, "lost.txt");
    ByteVector record = builder.plain();
    // The third attribute claims to run 4000 bytes: past the record's end.
    record[damagedAt + 4] = 0xA0;
    record[damagedAt + 5] = 0x0F;
    const auto headers = readAttributeHeaders(record);
    ASSERT_EQ(headers.size(), 2u);
    EXPECT_EQ(headers[1].type, kFileName);
    EXPECT_EQ(FileNameValue::read(headers[1].value(record))->name, "kept.txt");

    // A length of 0 ends the walk instead of looping on the same header.
    record[damagedAt + 4] = 0;
    record[damagedAt + 5] = 0;
    EXPECT_EQ(readAttributeHeaders(record).size(), 2u);

    // A first-attribute offset past the record yields nothing.
    record[0x14] = 0xFF;
    record[0x15] = 0xFF;
    EXPECT_TRUE(readAttributeHeaders(record).empty());
}

TEST(NtfsRecord, ResidentValueMustLieInItsAttribute) {
    RecordBuilder builder;
    const std::uint32_t at = builder.nextAttributeOffset();
    builder.resident(0x80, ByteVector(40, 0x41));
    ByteVector record = builder.plain();
    record[at + 0x10] = 0x00;  // value length 0x1000: more than the attribute holds
    record[at + 0x11] = 0x10;
    const auto headers = readAttributeHeaders(record);
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_FALSE(headers[0].valueFits);
    EXPECT_TRUE(headers[0].value(record).empty());
}

TEST(NtfsRecord, FileNameOfFullLengthAndCutShort) {
    const std::string longName(255, 'n');
    const auto full = FileNameValue::read(testing::fileNameValue(5, longName));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->nameLength, 0xFF);
    EXPECT_TRUE(full->nameComplete);
    EXPECT_EQ(full->name, longName);

    ByteVector cut = testing::fileNameValue(5, longName);
    cut.resize(0x42 + 20);  // the value ends after ten characters
    const auto shortened = FileNameValue::read(cut);
    ASSERT_TRUE(shortened);
    EXPECT_FALSE(shortened->nameComplete);
    EXPECT_EQ(shortened->name, std::string(10, 'n'));
    EXPECT_FALSE(FileNameValue::read(ByteVector(0x41, 0)));
}

TEST(NtfsRuns, DecodesSignedOffsetsSparseRunsAndTheVcnLimit) {
    // 0x31: 1-byte length, 3-byte offset. Second run goes back by 0x10 clusters with a 3-byte field whose top bit
    // is set (0xFFFFF0 = -16).
    const ByteVector list = {0x31, 0x04, 0x00, 0x00, 0x10,  // 4 clusters at 0x100000
                             0x01, 0x08,                    // 8 sparse clusters
                             0x31, 0x02, 0xF0, 0xFF, 0xFF,  // 2 clusters at 0x100000 - 16
                             0x00};
    const RunListDecoding d = decodeRunList(list, 14);
    EXPECT_FALSE(d.damaged);
    ASSERT_EQ(d.runs.size(), 3u);
    EXPECT_EQ(d.runs[0], (DataRun{0x100000, 4, false}));
    EXPECT_EQ(d.runs[1], (DataRun{0, 8, true}));
    EXPECT_EQ(d.runs[2], (DataRun{0x100000 - 16, 2, false}));

    // The attribute says 10 clusters: the third run does not fit and the second is cut to what does.
    const RunListDecoding limited = decodeRunList(list, 10);
    EXPECT_TRUE(limited.damaged);
    ASSERT_EQ(limited.runs.size(), 2u);
    EXPECT_EQ(limited.runs[1].length, 6u);

    // A length field of 9 bytes, an offset field running past the list, and a list without terminator.
    EXPECT_TRUE(decodeRunList(ByteVector{0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 0}, 100).damaged);
    EXPECT_TRUE(decodeRunList(ByteVector{0x41, 0x04, 0x00}, 100).damaged);
    const RunListDecoding unterminated = decodeRunList(ByteVector{0x11, 0x04, 0x20}, 100);
    EXPECT_TRUE(unterminated.damaged);
    EXPECT_EQ(unterminated.runs.size(), 1u);
}

TEST(NtfsRuns, RunMapFindsClustersAcrossPiecesAndHoles) {
    RunMap map({{100, 4, false}, {0, 4, true}});
    map.append({{500, 2, false}}, 12);  // VCNs 8..11 belong to a piece that was not found
    ASSERT_NE(map.find(3), nullptr);
    EXPECT_EQ(map.find(3)->lcn, 100);
    EXPECT_TRUE(map.find(5)->sparse);
    EXPECT_EQ(map.find(9), nullptr);
    EXPECT_EQ(map.find(13)->lcn, 500);
    EXPECT_EQ(map.endVcn(), 14u);
    EXPECT_EQ(map.find(14), nullptr);
}

TEST(NtfsBootSector, GeometryOfLargeClustersAndRecordSizes) {
    ByteVector sector(512, 0);
    std::memcpy(sector.data() + 3, "NTFS    ", 8);
    sector[0x0B] = 0x00;
    sector[0x0C] = 0x02;  // 512 bytes per sector
    sector[0x0D] = 0xF4;  // 2^(256 - 244) = 4096 sectors: 2 MiB clusters
    sector[0x40] = 0xF6;  // 2^10-byte records
    NtfsBootSector b = NtfsBootSector::read(sector);
    EXPECT_TRUE(b.signature);
    EXPECT_EQ(b.clusterSize(), 2u << 20);
    EXPECT_EQ(b.recordSize(b.clusterSize()), 1024u);
    sector[0x0D] = 8;
    sector[0x40] = 1;  // one cluster per record
    b = NtfsBootSector::read(sector);
    EXPECT_EQ(b.recordSize(b.clusterSize()), 4096u);
    sector[0x0D] = 3;  // not a power of two
    sector[0x40] = 0x7F;
    b = NtfsBootSector::read(sector);
    EXPECT_EQ(b.clusterSize(), 0u);
    EXPECT_EQ(b.recordSize(4096), 0u);
}

int decode(const ByteVector& input, ByteVector& output, std::size_t capacity = 65536) {
    output.assign(capacity, 0xCC);
    UncompressContext context;
    static const std::uint8_t none = 0;
    EXPECT_TRUE(ntfs_uncompress_setup(context, input.empty() ? &none : input.data(), output.data(), capacity));
    context.inputLength = input.size();
    const int rc = ntfs_uncompress_compunit(context);
    output.resize(context.outputCount);
    return rc;
}

TEST(NtfsLznt1, StoredChunkIsCopied) {
    ByteVector input = {0xFF, 0x3F};  // bit 15 clear, 4096 bytes follow
    for (int i = 0; i < 4096; ++i) input.push_back(static_cast<std::uint8_t>(i * 31));
    ByteVector out;
    EXPECT_EQ(decode(input, out), 0);
    EXPECT_EQ(out, ByteVector(input.begin() + 2, input.end()));
}

TEST(NtfsLznt1, OverlappingBackReferenceRepeatsItsOwnOutput) {
    // "ab", then a token at position 2: split 0, displacement 2, length 10 -> "ab" repeated.
    const std::uint16_t token = ((2 - 1) << 12) | (10 - 3);
    const ByteVector body = {0b00000100, 'a', 'b', static_cast<std::uint8_t>(token), static_cast<std::uint8_t>(token >> 8)};
    ByteVector input = {static_cast<std::uint8_t>(body.size() - 1), 0xB0};
    input.insert(input.end(), body.begin(), body.end());
    ByteVector out;
    EXPECT_EQ(decode(input, out), 0);
    EXPECT_EQ(std::string(out.begin(), out.end()), "abababababab");
}

TEST(NtfsLznt1, MalformedUnitsKeepTheBytesBeforeTheFault) {
    ByteVector out;
    // A token whose displacement reaches before the chunk's start.
    const std::uint16_t far = ((9 - 1) << 12) | 0;
    ByteVector input = {0x03, 0xB0, 0b00000010, 'x', static_cast<std::uint8_t>(far), static_cast<std::uint8_t>(far >> 8)};
    EXPECT_EQ(decode(input, out), 1);
    EXPECT_EQ(std::string(out.begin(), out.end()), "x");
    // A token cut off by the chunk's end.
    input = {0x02, 0xB0, 0b00000010, 'y', 0x01};
    EXPECT_EQ(decode(input, out), 1);
    // A chunk header claiming more than the input holds.
    input = {0x20, 0xB0, 0x00, 'z'};
    EXPECT_EQ(decode(input, out), 1);
    // A token that would write past the output's capacity.
    const std::uint16_t longCopy = 0x0FFF;  // displacement 1, length 4098 at position 1
    input = {0x03, 0xB0, 0b00000010, 'w', static_cast<std::uint8_t>(longCopy), static_cast<std::uint8_t>(longCopy >> 8)};
    EXPECT_EQ(decode(input, out, 64), 1);
    EXPECT_LE(out.size(), 64u);
    // No input at all is an empty unit, not an error.
    EXPECT_EQ(decode({}, out), 0);
    EXPECT_TRUE(out.empty());
}

TEST(NtfsLznt1, RoundTripsUnitsOfManyChunks) {
    std::mt19937 random(11);
    std::vector<ByteVector> samples;
    ByteVector text;
    while (text.size() < 65536) {
        const std::string line = "line " + std::to_string(text.size() % 977) + ": the quick brown fox\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    text.resize(65536);
    samples.push_back(text);
    ByteVector mixed(65536);
    for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] = (i / 3000) % 2 ? static_cast<std::uint8_t>(random()) : 'Q';
    samples.push_back(mixed);
    samples.push_back(ByteVector(9000, 0));  // a short last unit: three chunks, the last one partial
    for (const ByteVector& sample : samples) {
        ByteVector out;
        EXPECT_EQ(decode(testing::lznt1Compress(sample), out), 0);
        EXPECT_EQ(out, sample);
    }
}

TEST(NtfsLznt1, ShortChunkIsPaddedSoTheNextStartsOnItsBoundary) {
    // First chunk decodes to 3 bytes only, the second to "z": the "z" belongs at 4096.
    ByteVector input = {0x03, 0xB0, 0x00, 'a', 'b', 'c', 0x01, 0xB0, 0x00, 'z'};
    ByteVector out;
    EXPECT_EQ(decode(input, out), 0);
    ASSERT_EQ(out.size(), 4097u);
    EXPECT_EQ(out[2], 'c');
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(out[4096], 'z');
}

}  // namespace
}  // namespace halvard

namespace halvard::ntfs_format {
namespace {

std::vector<std::uint8_t> reparseValue(std::uint32_t tag, const std::u16string& substitute, const std::u16string& print,
                                       std::uint16_t printOffsetShift = 0) {
    std::vector<std::uint8_t> names;
    auto put = [&](const std::u16string& s) {
        for (char16_t c : s) {
            names.push_back(static_cast<std::uint8_t>(c & 0xFF));
            names.push_back(static_cast<std::uint8_t>(c >> 8));
        }
    };
    put(substitute);
    put(print);
    const bool link = tag == ReparsePoint::kSymbolicLink;
    std::vector<std::uint8_t> v(link ? 0x14 : 0x10, 0);
    auto le16at = [&](std::size_t at, std::uint16_t x) {
        v[at] = static_cast<std::uint8_t>(x & 0xFF);
        v[at + 1] = static_cast<std::uint8_t>(x >> 8);
    };
    for (int k = 0; k < 4; ++k) v[k] = static_cast<std::uint8_t>((tag >> (8 * k)) & 0xFF);
    le16at(0x04, static_cast<std::uint16_t>(v.size() - 8 + names.size()));
    le16at(0x08, 0);
    le16at(0x0A, static_cast<std::uint16_t>(2 * substitute.size()));
    le16at(0x0C, static_cast<std::uint16_t>(2 * substitute.size() + printOffsetShift));
    le16at(0x0E, static_cast<std::uint16_t>(2 * print.size()));
    v.insert(v.end(), names.begin(), names.end());
    return v;
}

TEST(NtfsReparse, LinkAndJunctionTargetsAndValuesThatAreNoPath) {
    const auto link = ReparsePoint::read(reparseValue(ReparsePoint::kSymbolicLink, u"\\??\\C:\\x\\y.txt", u"C:\\x\\y.txt"));
    ASSERT_TRUE(link);
    EXPECT_EQ(link->target, "C:\\x\\y.txt");
    // A junction without a print name shows its substitute name without the prefix.
    const auto junction = ReparsePoint::read(reparseValue(ReparsePoint::kMountPoint, u"\\??\\D:\\Data", u""));
    ASSERT_TRUE(junction);
    EXPECT_EQ(junction->target, "D:\\Data");
    // A print name that points past the value is not read; other reparse kinds hold no path.
    const auto outside = ReparsePoint::read(reparseValue(ReparsePoint::kSymbolicLink, u"", u"C:\\z", 400));
    ASSERT_TRUE(outside);
    EXPECT_EQ(outside->target, "");
    EXPECT_FALSE(ReparsePoint::read(reparseValue(0x80000014, u"", u"C:\\z")));
    EXPECT_FALSE(ReparsePoint::read(std::vector<std::uint8_t>{0x0C, 0, 0, 0xA0}));
}

}  // namespace
}  // namespace halvard::ntfs_format
