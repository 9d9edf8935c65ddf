// The VHDX log at the byte level: entries that verify and the ways they fail, an entry wrapping around the end of
// the log, the choice of the active sequence, and the overlay the replay writes into. The whole road (a dirty
// image, a torn log) runs on the images of tests/fixtures/make_vhdx_fixtures.sh.
#include <gtest/gtest.h>

#include <cstring>

#include "image/crc32c.h"
#include "image/file_overlay.h"
#include "image/vhdx_log.h"
#include "support/put_bytes.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

using testing::TempDir;
using testing::putLe;
using Buffer = std::vector<std::uint8_t>;

const Guid kLog = Guid::fromText("6B2C1F0A-3D4E-4F50-8A9B-0C1D2E3F4A5B");
constexpr std::uint64_t kSector = 4096;

Buffer sectorOf(std::uint8_t fill) {
    Buffer s(kSector, fill);
    s[0] = 0xA1;      // bytes kept by the descriptor, not the data sector
    s[4095] = 0xB2;
    return s;
}

struct Write {
    std::uint64_t fileOffset;
    Buffer data;  // 4 KiB, or empty for a zero descriptor of `zeroLength`
    std::uint64_t zeroLength = 0;
};

// One log entry as the format lays it out; `sequenceInData` lets a data sector carry another sequence number.
Buffer entry(std::uint64_t sequence, std::uint32_t tail, const std::vector<Write>& writes, std::uint64_t fileSize,
             std::uint64_t sequenceInData = 0) {
    if (!sequenceInData) sequenceInData = sequence;
    std::size_t dataSectors = 0;
    for (const Write& w : writes) dataSectors += !w.data.empty();
    const std::size_t descriptorSectors = (64 + 32 * writes.size() + kSector - 1) / kSector;
    Buffer e((descriptorSectors + dataSectors) * kSector, 0);
    std::memcpy(e.data(), "loge", 4);
    putLe(e, 8, e.size(), 4);
    putLe(e, 12, tail, 4);
    putLe(e, 16, sequence, 8);
    putLe(e, 24, writes.size(), 4);
    std::memcpy(e.data() + 32, kLog.bytes.data(), 16);
    putLe(e, 48, fileSize, 8);
    putLe(e, 56, fileSize, 8);
    std::size_t at = 64, data = descriptorSectors * kSector;
    for (const Write& w : writes) {
        if (w.data.empty()) {
            std::memcpy(e.data() + at, "zero", 4);
            putLe(e, at + 8, w.zeroLength, 8);
        } else {
            std::memcpy(e.data() + at, "desc", 4);
            std::memcpy(e.data() + at + 4, w.data.data() + 4092, 4);
            std::memcpy(e.data() + at + 8, w.data.data(), 8);
            std::memcpy(e.data() + data, "data", 4);
            putLe(e, data + 4, sequenceInData >> 32, 4);
            std::memcpy(e.data() + data + 8, w.data.data() + 8, 4084);
            putLe(e, data + 4092, sequenceInData & 0xFFFFFFFF, 4);
            data += kSector;
        }
        putLe(e, at + 16, w.fileOffset, 8);
        putLe(e, at + 24, sequence, 8);
        at += 32;
    }
    putLe(e, 4, crc32c(e), 4);
    return e;
}

// Places `bytes` in the circular `log` from `position`.
void place(Buffer& log, std::uint64_t position, const Buffer& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) log[(position + i) % log.size()] = bytes[i];
}

TEST(VhdxLogEntry, VerifiesEveryPartAndRebuildsTheSectorsItWrites) {
    Buffer log(16 * kSector, 0);
    place(log, 0, entry(7, 0, {{8 * kSector, sectorOf(0x33)}, {0, {}, 2 * kSector}}, 1 << 20));
    vhdx::LogEntry parsed;
    ASSERT_TRUE(vhdx::parseLogEntry(log, 0, kLog, parsed));
    ASSERT_EQ(parsed.descriptors.size(), 2u);
    EXPECT_TRUE(parsed.descriptors[1].zero);
    EXPECT_EQ(parsed.descriptors[1].zeroLength, 2 * kSector);
    ASSERT_EQ(parsed.sectors.size(), 1u);
    EXPECT_EQ(parsed.sectors[0], sectorOf(0x33)) << "leading and trailing bytes come back from the descriptor";

    EXPECT_FALSE(vhdx::parseLogEntry(log, 0, Guid::fromText("00000000-0000-0000-0000-000000000001"), parsed))
        << "another log's entry";
    Buffer torn = log;
    torn[kSector + 100] ^= 1;
    EXPECT_FALSE(vhdx::parseLogEntry(torn, 0, kLog, parsed)) << "a data byte changed after the checksum";
    Buffer mixed(16 * kSector, 0);
    place(mixed, 0, entry(7, 0, {{8 * kSector, sectorOf(0x33)}}, 1 << 20, 8));
    EXPECT_FALSE(vhdx::parseLogEntry(mixed, 0, kLog, parsed)) << "a data sector of another sequence";
    Buffer absurd = log;
    putLe(absurd, 24, 0xFFFFFFFF, 4);
    putLe(absurd, 4, 0, 4);
    putLe(absurd, 4, crc32c(Bytes(absurd).first(2 * kSector)), 4);
    EXPECT_FALSE(vhdx::parseLogEntry(absurd, 0, kLog, parsed)) << "more descriptors than the entry holds";
    EXPECT_FALSE(vhdx::parseLogEntry(log, 100, kLog, parsed)) << "not at a sector boundary";
    EXPECT_FALSE(vhdx::parseLogEntry(Buffer(100, 0), 0, kLog, parsed)) << "a log shorter than a sector";

    // An entry that starts in the log's last sector goes on at its start.
    Buffer wrapped(16 * kSector, 0);
    place(wrapped, 15 * kSector, entry(9, 15 * kSector, {{0, sectorOf(0x44)}}, 1 << 20));
    ASSERT_TRUE(vhdx::parseLogEntry(wrapped, 15 * kSector, kLog, parsed));
    EXPECT_EQ(parsed.sectors.at(0), sectorOf(0x44));
}

// A file of 1 MiB whose log (64 KiB at 64 KiB) holds `entries` at their positions; returns what the replay found
// and the file's bytes as the overlay shows them.
struct Replayed {
    vhdx::LogState state;
    Buffer bytes;
};

Replayed replay(const std::vector<std::pair<std::uint64_t, Buffer>>& entries, std::uint64_t fileSize = 1 << 20) {
    Buffer file(fileSize, 0x11);
    Buffer log(16 * kSector, 0);
    for (const auto& [position, bytes] : entries) place(log, position, bytes);
    std::copy(log.begin(), log.end(), file.begin() + 16 * kSector);
    TempDir dir;
    testing::writeFile(dir.file("image"), file);
    ImageFile image;
    EXPECT_TRUE(image.open(dir.file("image")));
    vhdx::Header header;
    header.logGuid = kLog;
    header.logOffset = 16 * kSector;
    header.logLength = 16 * kSector;
    auto overlay = std::make_shared<FileOverlay>();
    Replayed out;
    out.state = vhdx::replayLog(image, header, *overlay);
    image.setOverlay(overlay);
    out.bytes = image.readVector(0, image.size());
    return out;
}

TEST(VhdxLogReplay, TheNewestCompleteSequenceWins) {
    // An old run (5, 6) and a newer one (20, 21) whose head's tail points at its first entry.
    const std::uint64_t a = 40 * kSector, b = 41 * kSector;
    const Replayed r = replay({{0, entry(5, 0, {{a, sectorOf(0x55)}}, 1 << 20)},
                               {2 * kSector, entry(6, 0, {{b, sectorOf(0x66)}}, 1 << 20)},
                               {4 * kSector, entry(20, 4 * kSector, {{a, sectorOf(0x20)}}, 1 << 20)},
                               {6 * kSector, entry(21, 4 * kSector, {{0, {}, kSector}}, 1 << 20)}});
    EXPECT_TRUE(r.state.replayed);
    EXPECT_EQ(r.state.entries, 2u);
    EXPECT_EQ(r.state.headSequence, 21u);
    EXPECT_EQ(Buffer(r.bytes.begin() + a, r.bytes.begin() + a + kSector), sectorOf(0x20));
    EXPECT_EQ(r.bytes[b], 0x11) << "the older run is not applied";
    EXPECT_EQ(r.bytes[0], 0) << "the zero descriptor";
    EXPECT_EQ(r.bytes[kSector], 0x11);
}

TEST(VhdxLogReplay, SequencesThatCannotBeTrustedAreNotApplied) {
    // The head's tail names an entry that is not there: no complete sequence.
    Replayed r = replay({{4 * kSector, entry(20, 2 * kSector, {{0, sectorOf(0x20)}}, 1 << 20)}});
    EXPECT_FALSE(r.state.replayed);
    ASSERT_FALSE(r.state.problems.empty());
    EXPECT_EQ(r.bytes[100], 0x11);

    // The entry after the head is torn: the head still counts, and the tear is reported.
    Buffer torn = entry(31, 0, {{0, sectorOf(0x31)}}, 1 << 20);
    torn[kSector + 7] ^= 1;
    r = replay({{0, entry(30, 0, {{0, sectorOf(0x30)}}, 1 << 20)}, {2 * kSector, torn}});
    EXPECT_TRUE(r.state.replayed);
    EXPECT_EQ(r.state.headSequence, 30u);
    EXPECT_EQ(r.bytes[100], 0x30);
    ASSERT_EQ(r.state.problems.size(), 1u);
    EXPECT_NE(r.state.problems[0].find("sequence 31"), std::string::npos);

    // A log that would grow the file: the file reads longer, with zeros, and the write lands past the old end.
    r = replay({{0, entry(40, 0, {{(1 << 20) + kSector, sectorOf(0x40)}}, (1 << 20) + 4 * kSector)}});
    ASSERT_EQ(r.bytes.size(), (1u << 20) + 4 * kSector);
    EXPECT_EQ(r.bytes[(1 << 20) + 10], 0);
    EXPECT_EQ(r.bytes[(1 << 20) + kSector + 10], 0x40);
}

TEST(FileOverlay, LaterWritesWinAndZerosCutThrough) {
    FileOverlay overlay;
    overlay.write(10, Buffer(10, 0xAA));
    overlay.write(15, Buffer(10, 0xBB));
    overlay.zero(12, 2);
    EXPECT_EQ(overlay.end(), 25u);
    Buffer view(30, 0x01);
    overlay.applyTo(0, view.data(), view.size());
    const Buffer expected = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0xAA, 0xAA, 0, 0, 0xAA, 0xBB, 0xBB, 0xBB, 0xBB, 0xBB,
                             0xBB, 0xBB, 0xBB, 0xBB, 0xBB, 1, 1, 1, 1, 1};
    EXPECT_EQ(view, expected);
    Buffer part(4, 0x01);
    overlay.applyTo(13, part.data(), part.size());  // a window that starts inside the pieces
    EXPECT_EQ(part, (Buffer{0, 0xAA, 0xBB, 0xBB}));
}

}  // namespace
}  // namespace halvard
