// Format checks on synthetic buffers: each format whole (with bytes after it, so that the length is the file's
// own), cut short, damaged inside, and as a look-alike start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "raw/format_check.h"
#include "raw/formats/crc32.h"
#include "raw/signature_definition.h"

namespace halvard {
namespace {

using Buffer = std::vector<std::uint8_t>;

void put(Buffer& b, std::string_view text) { b.insert(b.end(), text.begin(), text.end()); }
void put(Buffer& b, const Buffer& more) { b.insert(b.end(), more.begin(), more.end()); }
void le(Buffer& b, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(i < 8 ? value >> (8 * i) : 0));
}
void be(Buffer& b, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
Buffer filler(std::size_t n, std::uint8_t seed = 7) {
    Buffer b(n);
    std::uint32_t x = seed;
    for (auto& v : b) {
        x = x * 1103515245 + 12345;
        v = static_cast<std::uint8_t>(x >> 16);
    }
    return b;
}

CheckOutcome check(FormatCheck format, const Buffer& data) {
    CandidateBytes bytes{Bytes(data)};
    return runFormatCheck(format, bytes);
}

// The whole file is confirmed at its exact length with junk after it; cut short anywhere past its opening it
// cannot be decided.
void expectWholeAndCut(FormatCheck format, const Buffer& file, std::size_t opening, std::size_t lastCut = 1) {
    Buffer withTail = file;
    put(withTail, filler(3000, 11));
    const CheckOutcome whole = check(format, withTail);
    EXPECT_EQ(whole.verdict, CheckVerdict::Confirmed);
    EXPECT_EQ(whole.length, file.size());
    for (const std::size_t cut : {opening, (opening + file.size()) / 2, file.size() - lastCut}) {
        const Buffer truncated(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(check(format, truncated).verdict, CheckVerdict::Undecided) << "cut at " << cut;
    }
}

void expectRejected(FormatCheck format, const Buffer& data) {
    EXPECT_EQ(check(format, data).verdict, CheckVerdict::Rejected);
}

Buffer segment(std::uint8_t marker, const Buffer& payload) {
    Buffer b{0xFF, marker};
    be(b, payload.size() + 2, 2);
    put(b, payload);
    return b;
}

// Huffman tables for the synthetic scans: DC code "0" for size 11, AC code "0" for the end of block, so that each
// block is 13 bits: 0, eleven bits of DC difference, 0.
Buffer jpegTables() {
    Buffer dht{0x00, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11};
    put(dht, Buffer{0x10, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00});
    return segment(0xC4, dht);
}

// The entropy-coded data of `blocks` such blocks, their DC bits from `seed`, stuffed, with a restart marker after
// every `interval` blocks (0: none), the last byte filled with one-bits.
Buffer jpegScanData(std::size_t blocks, std::uint8_t seed, std::size_t interval = 0) {
    Buffer out;
    const Buffer values = filler(blocks, seed);
    std::uint32_t acc = 0;
    int count = 0;
    const auto flush = [&](bool pad) {
        if (pad && count % 8) {
            const int fill = 8 - count % 8;
            acc = acc << fill | ((1U << fill) - 1);
            count += fill;
        }
        while (count >= 8) {
            const auto byte = static_cast<std::uint8_t>(acc >> (count - 8));
            out.push_back(byte);
            if (byte == 0xFF) out.push_back(0x00);
            count -= 8;
        }
    };
    for (std::size_t b = 0; b < blocks; ++b) {
        if (interval && b && b % interval == 0) {
            flush(true);
            put(out, Buffer{0xFF, static_cast<std::uint8_t>(0xD0 + (b / interval - 1) % 8)});
        }
        acc = acc << 13 | (std::uint32_t{values[b]} << 3 | (b & 7)) << 1;
        count += 13;
        flush(false);
    }
    flush(true);
    return out;
}

// A grey 256 x 160 picture (640 blocks) in one sequential scan, restarted every 320 blocks.
constexpr std::size_t kJpegBlocks = 640;
Buffer jpegHead(bool thumbnail, std::size_t interval = 320) {
    Buffer b{0xFF, 0xD8};
    Buffer exif;
    put(exif, std::string_view("Exif\0\0", 6));
    if (thumbnail) {
        // A whole small JPEG inside the APP1 segment: its EOI is not the outer file's end.
        put(exif, Buffer{0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x01, 0x02, 0xFF, 0xD9});
    }
    put(b, segment(0xE1, exif));
    put(b, segment(0xDB, filler(65)));
    put(b, segment(0xC0, Buffer{8, 0, 160, 1, 0, 1, 1, 0x11, 0}));
    put(b, jpegTables());
    if (interval) put(b, segment(0xDD, Buffer{static_cast<std::uint8_t>(interval >> 8), static_cast<std::uint8_t>(interval)}));
    put(b, segment(0xDA, Buffer{1, 1, 0, 0, 63, 0}));
    return b;
}

Buffer jpeg(bool thumbnail) {
    Buffer b = jpegHead(thumbnail);
    put(b, jpegScanData(kJpegBlocks, 3, 320));
    put(b, Buffer{0xFF, 0xD9});
    return b;
}

TEST(FormatCheck, JpegEndsAtTheEoiAfterTheScanNotInsideTheThumbnail) {
    expectWholeAndCut(FormatCheck::Jpeg, jpeg(true), 200);
    expectWholeAndCut(FormatCheck::Jpeg, jpeg(false), 200);
    // The synthetic data holds stuffed bytes and a restart marker, as a photo's does.
    const Buffer data = jpegScanData(kJpegBlocks, 3, 320);
    bool stuffed = false, restart = false;
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        stuffed = stuffed || (data[i] == 0xFF && data[i + 1] == 0x00);
        restart = restart || (data[i] == 0xFF && data[i + 1] == 0xD0);
    }
    EXPECT_TRUE(stuffed && restart);
    // A second scan after a table segment (progressive files) is walked too.
    Buffer second = jpeg(false);
    second.resize(second.size() - 2);
    put(second, jpegTables());
    put(second, segment(0xDA, Buffer{1, 1, 0, 0, 63, 0}));
    put(second, jpegScanData(kJpegBlocks, 9, 320));
    put(second, Buffer{0xFF, 0xD9});
    expectWholeAndCut(FormatCheck::Jpeg, second, 200);
}

TEST(FormatCheck, JpegLookAlikesAndDamage) {
    // Random bytes reach past any segment length a random field can give, as a volume does.
    Buffer random{0xFF, 0xD8, 0xFF, 0xE0};
    put(random, filler(70000));
    expectRejected(FormatCheck::Jpeg, random);
    expectRejected(FormatCheck::Jpeg, Buffer{0xFF, 0xD8, 0xFF, 0xD9, 0, 0});  // no scan before the EOI
    // A second segment that breaks off: a damaged file, not a look-alike.
    Buffer damaged = jpeg(false);
    damaged[81] = 0x00;  // the FF of the frame header, after APP1 and DQT
    EXPECT_EQ(check(FormatCheck::Jpeg, damaged).verdict, CheckVerdict::Undecided);
    // Another file's SOI in the scan data: the picture was cut and something else written after it.
    Buffer overwritten = jpeg(false);
    overwritten[overwritten.size() - 100] = 0xFF;
    overwritten[overwritten.size() - 99] = 0xD8;
    EXPECT_EQ(check(FormatCheck::Jpeg, overwritten).verdict, CheckVerdict::Undecided);
}

// Scans whose markers are all in place but whose coded data is not the frame's: each is a damaged file.
TEST(FormatCheck, JpegWhoseScanDoesNotDecodeIsDamaged) {
    const auto withScan = [](const Buffer& data, std::size_t interval = 320) {
        Buffer b = jpegHead(false, interval);
        put(b, data);
        put(b, Buffer{0xFF, 0xD9});
        put(b, filler(100, 5));
        return b;
    };
    const auto verdict = [](const Buffer& b) { return check(FormatCheck::Jpeg, b).verdict; };
    EXPECT_EQ(verdict(withScan(jpegScanData(kJpegBlocks, 3, 320))), CheckVerdict::Confirmed);
    EXPECT_EQ(verdict(withScan(jpegScanData(kJpegBlocks, 3, 0), 0)), CheckVerdict::Confirmed);
    // Pieces of two pictures: the first half of one scan, then the second half of another from a little
    // further on, so that its 13-bit blocks do not continue where the first piece's left off.
    const Buffer one = jpegScanData(kJpegBlocks, 3, 0), two = jpegScanData(kJpegBlocks, 9, 0);
    Buffer spliced(one.begin(), one.begin() + 501);
    spliced.insert(spliced.end(), two.begin() + 505, two.end());
    EXPECT_EQ(verdict(withScan(spliced, 0)), CheckVerdict::Undecided);
    // Blocks missing at the end, and blocks more than the frame has.
    EXPECT_EQ(verdict(withScan(jpegScanData(kJpegBlocks - 8, 3, 320))), CheckVerdict::Undecided);
    EXPECT_EQ(verdict(withScan(jpegScanData(kJpegBlocks + 8, 3, 320))), CheckVerdict::Undecided);
    // A restart marker one interval late (the first interval holds too many blocks) or with the wrong number.
    EXPECT_EQ(verdict(withScan(jpegScanData(kJpegBlocks, 3, 400))), CheckVerdict::Undecided);
    Buffer renumbered = jpegScanData(kJpegBlocks, 3, 320);
    for (std::size_t i = 0; i + 1 < renumbered.size(); ++i)
        if (renumbered[i] == 0xFF && renumbered[i + 1] == 0xD0) renumbered[i + 1] = 0xD3;
    EXPECT_EQ(verdict(withScan(renumbered)), CheckVerdict::Undecided);
    // A code no table defines (a one-bit where the DC code must be).
    Buffer badCode = jpegScanData(kJpegBlocks, 3, 320);
    badCode[40] = badCode[41] = 0xFE;
    EXPECT_EQ(verdict(withScan(badCode)), CheckVerdict::Undecided);
    // A Huffman table with more codes than its lengths can hold, and a scan naming a table never defined.
    Buffer overfull = jpeg(false);
    const std::size_t dht = 81 + 13 + 5;  // the DC table's count of 1-bit codes, after the frame header
    ASSERT_EQ(overfull[dht - 4], 0xC4);
    overfull[dht] = 3;
    EXPECT_NE(verdict(overfull), CheckVerdict::Confirmed);
    Buffer noTable = jpeg(false);
    const std::size_t sos = noTable.size() - jpegScanData(kJpegBlocks, 3, 320).size() - 2 - 10;
    ASSERT_EQ(noTable[sos + 1], 0xDA);
    noTable[sos + 6] = 0x22;  // DC and AC tables 2
    EXPECT_EQ(verdict(noTable), CheckVerdict::Undecided);
}

Buffer chunk(std::string_view type, const Buffer& data) {
    Buffer b;
    be(b, data.size(), 4);
    Buffer crcInput;
    put(crcInput, type);
    put(crcInput, data);
    put(b, crcInput);
    be(b, formats::crc32(crcInput), 4);
    return b;
}

Buffer png() {
    Buffer b;
    put(b, "\x89PNG\r\n\x1a\n");
    put(b, chunk("IHDR", Buffer{0, 0, 0, 16, 0, 0, 0, 16, 8, 2, 0, 0, 0}));
    put(b, chunk("IDAT", filler(700)));
    put(b, chunk("IEND", {}));
    return b;
}

TEST(FormatCheck, PngWalksChunksWithTheirCrcs) {
    EXPECT_EQ(formats::crc32(Bytes(reinterpret_cast<const std::uint8_t*>("123456789"), 9)), 0xCBF43926u);
    expectWholeAndCut(FormatCheck::Png, png(), 40);
    Buffer corrupted = png();
    corrupted[100] ^= 1;  // inside IDAT
    EXPECT_EQ(check(FormatCheck::Png, corrupted).verdict, CheckVerdict::Undecided);
    Buffer badHeader = png();
    badHeader[20] ^= 1;  // inside IHDR
    expectRejected(FormatCheck::Png, badHeader);
    Buffer noHeader;
    put(noHeader, "\x89PNG\r\n\x1a\n");
    put(noHeader, chunk("IDAT", filler(30)));
    expectRejected(FormatCheck::Png, noHeader);
}

Buffer gif() {
    Buffer b;
    put(b, "GIF89a");
    le(b, 16, 2);
    le(b, 16, 2);
    put(b, Buffer{0x81, 0, 0});  // global table of 4 colours
    put(b, filler(12));
    put(b, Buffer{0x21, 0xF9, 4, 0, 10, 0, 0, 0});  // graphic control extension
    put(b, Buffer{0x2C, 0, 0, 0, 0, 16, 0, 16, 0, 0, 2});
    put(b, Buffer{200});
    put(b, filler(200));
    put(b, Buffer{5, 0x00, 0x3B, 0x3B, 0x00, 0x3B});  // trailer look-alikes inside a sub-block
    put(b, Buffer{0, 0x3B});
    return b;
}

TEST(FormatCheck, GifWalksBlocksToTheTrailer) {
    expectWholeAndCut(FormatCheck::Gif, gif(), 30);
    Buffer random;
    put(random, "GIF89a");
    put(random, Buffer{16, 0, 16, 0, 0, 0, 0, 0x99});
    expectRejected(FormatCheck::Gif, random);
    Buffer damaged = gif();
    damaged[damaged.size() - 1] = 0x77;  // neither a block nor the trailer
    EXPECT_EQ(check(FormatCheck::Gif, damaged).verdict, CheckVerdict::Undecided);
}

Buffer bmp(std::uint32_t declaredSize) {
    Buffer b;
    put(b, "BM");
    le(b, declaredSize, 4);
    le(b, 0, 4);
    le(b, 54, 4);
    le(b, 40, 4);
    le(b, 10, 4);  // width
    le(b, 4, 4);   // height
    le(b, 1, 2);
    le(b, 24, 2);
    le(b, 0, 4);
    le(b, 160, 4);
    put(b, filler(16));
    put(b, filler(160));  // 4 rows of 32 bytes (30 padded to 32) and more
    return b;
}

TEST(FormatCheck, BmpTakesItsSizeFieldWhenTheHeaderHoldsTogether) {
    Buffer file = bmp(54 + 160);
    file.resize(54 + 160);
    expectWholeAndCut(FormatCheck::Bmp, file, 54);
    expectRejected(FormatCheck::Bmp, bmp(60));  // the pixel rows do not fit
    Buffer badInfo = bmp(214);
    badInfo[14] = 99;
    expectRejected(FormatCheck::Bmp, badInfo);
}

Buffer riffChunk(std::string_view id, const Buffer& data) {
    Buffer b;
    put(b, id);
    le(b, data.size(), 4);
    put(b, data);
    if (data.size() & 1) b.push_back(0);
    return b;
}

Buffer riff(std::string_view form, const Buffer& body) {
    Buffer b;
    put(b, "RIFF");
    le(b, body.size() + 4, 4);
    put(b, form);
    put(b, body);
    return b;
}

TEST(FormatCheck, RiffChunksMustTileTheDeclaredSize) {
    Buffer wavBody = riffChunk("fmt ", filler(16));
    put(wavBody, riffChunk("data", filler(1001)));
    expectWholeAndCut(FormatCheck::Riff, riff("WAVE", wavBody), 30);
    // An AVI continued in an AVIX RIFF right after it.
    Buffer avi = riff("AVI ", riffChunk("LIST", filler(300)));
    put(avi, riff("AVIX", riffChunk("LIST", filler(500))));
    expectWholeAndCut(FormatCheck::Riff, avi, 30);
    Buffer lying = riff("WAVE", wavBody);
    lying[4] += 10;  // the size runs past the chunks
    put(lying, filler(100));
    EXPECT_NE(check(FormatCheck::Riff, lying).verdict, CheckVerdict::Confirmed);
    Buffer random;
    put(random, "RIFF");
    put(random, Buffer{0x40, 0, 0, 0});
    put(random, "WAVE");
    put(random, Buffer{1, 2, 3, 4, 0xFF, 0xFF, 0, 0});
    put(random, filler(100));
    expectRejected(FormatCheck::Riff, random);
}

struct ZipMember {
    std::string name;
    Buffer data;
};

// A stored member's CRC, its two sizes (equal) and its name's length, as both of its headers hold them.
void putCrcSizesAndNameLength(Buffer& b, const ZipMember& m) {
    le(b, formats::crc32(Bytes(m.data)), 4);
    le(b, m.data.size(), 4);
    le(b, m.data.size(), 4);
    le(b, m.name.size(), 2);
}

Buffer zip(const std::vector<ZipMember>& members, std::string_view comment = "") {
    Buffer b, directory;
    for (const ZipMember& m : members) {
        const std::uint64_t at = b.size();
        put(b, "PK\x03\x04");
        le(b, 20, 2);
        le(b, 0, 2);
        le(b, 0, 2);
        le(b, 0, 4);
        putCrcSizesAndNameLength(b, m);
        le(b, 0, 2);
        put(b, m.name);
        put(b, m.data);
        put(directory, "PK\x01\x02");
        le(directory, 20, 2);
        le(directory, 20, 2);
        le(directory, 0, 8);
        putCrcSizesAndNameLength(directory, m);
        le(directory, 0, 12);
        le(directory, at, 4);
        put(directory, m.name);
    }
    const std::uint64_t directoryAt = b.size();
    put(b, directory);
    put(b, "PK\x05\x06");
    le(b, 0, 4);
    le(b, members.size(), 2);
    le(b, members.size(), 2);
    le(b, directory.size(), 4);
    le(b, directoryAt, 4);
    le(b, comment.size(), 2);
    put(b, comment);
    return b;
}

TEST(FormatCheck, ZipEndsAtItsOwnEndRecordWithItsComment) {
    const Buffer inner = zip({{"inner.txt", filler(300)}});
    const Buffer outer = zip({{"a.txt", filler(500)}, {"inner.zip", inner}, {"b.bin", filler(200)}}, "a comment");
    expectWholeAndCut(FormatCheck::Zip, outer, 40);
    expectWholeAndCut(FormatCheck::Zip, inner, 40);
}

TEST(FormatCheck, ZipLookAlikesAndDamage) {
    // A local header followed by random bytes and no directory.
    Buffer lonely = zip({{"one.txt", filler(50)}});
    lonely.resize(30 + 7 + 50);
    put(lonely, filler(5000));
    expectRejected(FormatCheck::Zip, lonely);
    Buffer badName = zip({{"x", filler(10)}});
    badName[30] = 0x01;
    expectRejected(FormatCheck::Zip, badName);
    // The directory overwritten: the members are there, the end cannot be told.
    Buffer noDirectory = zip({{"one.txt", filler(50)}, {"two.txt", filler(60)}});
    noDirectory.resize(2 * 30 + 14 + 110);
    EXPECT_EQ(check(FormatCheck::Zip, noDirectory).verdict, CheckVerdict::Undecided);
}

Buffer pdf(int updates, bool lineEndsCrLf = false) {
    const std::string nl = lineEndsCrLf ? "\r\n" : "\n";
    std::string text = "%PDF-1.7" + nl;
    std::string lastXref;
    for (int section = 0; section <= updates; ++section) {
        const std::size_t object = text.size();
        text += std::to_string(section + 1) + " 0 obj" + nl + "<< /Type /Catalog >>" + nl + "endobj" + nl;
        // A stream holding another file's trailer: its pointer does not lead to a section of this file.
        text += "stream" + nl + "startxref" + nl + "3" + nl + "%%EOF" + nl + "endstream" + nl;
        const std::size_t xref = text.size();
        text += "xref" + nl + "0 1" + nl + std::to_string(object) + nl + "trailer" + nl + "<< >>" + nl;
        text += "startxref" + nl + std::to_string(xref) + nl + "%%EOF" + nl;
    }
    return Buffer(text.begin(), text.end());
}

TEST(FormatCheck, PdfEndsAtTheLastEofOfItsUpdates) {
    // The last cut takes "OF" and the line end: without its line end a PDF is still whole.
    expectWholeAndCut(FormatCheck::Pdf, pdf(0), 9, 3);
    expectWholeAndCut(FormatCheck::Pdf, pdf(2), 9, 3);
    expectWholeAndCut(FormatCheck::Pdf, pdf(1, true), 30, 4);
    // A cross-reference stream ("N G obj") counts as a section.
    std::string text = "%PDF-1.5\n1 0 obj\n<< >>\nendobj\n";
    const std::size_t stream = text.size();
    text += "7 0 obj\n<< /Type /XRef >>\nendobj\nstartxref\n" + std::to_string(stream) + "\n%%EOF\n";
    expectWholeAndCut(FormatCheck::Pdf, Buffer(text.begin(), text.end()), 9, 3);
    Buffer notPdf;
    put(notPdf, "%PDF-x.y");
    expectRejected(FormatCheck::Pdf, notPdf);
}

Buffer sevenZip(const Buffer& packed, const Buffer& header) {
    Buffer tail;
    le(tail, packed.size(), 8);
    le(tail, header.size(), 8);
    le(tail, formats::crc32(Bytes(header)), 4);
    Buffer b;
    put(b, "7z\xBC\xAF\x27\x1C");
    put(b, Buffer{0, 4});
    le(b, formats::crc32(Bytes(tail)), 4);
    put(b, tail);
    put(b, packed);
    put(b, header);
    return b;
}

TEST(FormatCheck, SevenZipEndsWithTheHeaderItsStartHeaderNames) {
    expectWholeAndCut(FormatCheck::SevenZip, sevenZip(filler(900), filler(60, 5)), 32);
    Buffer badCrc = sevenZip(filler(100), filler(20));
    badCrc[8] ^= 1;
    expectRejected(FormatCheck::SevenZip, badCrc);
    Buffer damagedHeader = sevenZip(filler(100), filler(20));
    damagedHeader.back() ^= 1;
    EXPECT_EQ(check(FormatCheck::SevenZip, damagedHeader).verdict, CheckVerdict::Undecided);
}

std::vector<std::uint8_t> vint(std::uint64_t v) {
    Buffer b;
    do {
        b.push_back(static_cast<std::uint8_t>((v & 0x7F) | (v > 0x7F ? 0x80 : 0)));
        v >>= 7;
    } while (b.back() & 0x80);
    return b;
}

Buffer rar5Block(std::vector<Buffer> fields, const Buffer& data = {}) {
    Buffer header;
    for (const Buffer& f : fields) put(header, f);
    Buffer sized = vint(header.size());
    put(sized, header);
    Buffer b;
    le(b, formats::crc32(Bytes(sized)), 4);
    put(b, sized);
    put(b, data);
    return b;
}

Buffer rar4Block(std::uint8_t type, std::uint16_t flags, Buffer rest, const Buffer& data = {}) {
    Buffer header{type};
    le(header, flags, 2);
    le(header, rest.size() + 7, 2);
    put(header, rest);
    Buffer b;
    le(b, formats::crc32(Bytes(header)) & 0xFFFF, 2);
    put(b, header);
    put(b, data);
    return b;
}

TEST(FormatCheck, RarWalksBlocksToTheEndOfArchive) {
    Buffer rar5;
    put(rar5, std::string_view("Rar!\x1a\x07\x01\x00", 8));
    put(rar5, rar5Block({vint(1), vint(0), vint(0)}));
    put(rar5, rar5Block({vint(2), vint(2), vint(400), vint(0), vint(400), vint(0), Buffer(4), vint(0), vint(0), vint(1),
                         Buffer{'a'}},
                        filler(400)));
    put(rar5, rar5Block({vint(5), vint(0), vint(0)}));
    expectWholeAndCut(FormatCheck::Rar, rar5, 20);

    Buffer rar4;
    put(rar4, std::string_view("Rar!\x1a\x07\x00", 7));
    put(rar4, rar4Block(0x73, 0, Buffer(6)));
    Buffer file;
    le(file, 300, 4);  // packed size
    put(file, Buffer(21));
    le(file, 1, 2);  // name length sits inside the fixed part; the check only steps over the data
    put(rar4, rar4Block(0x74, 0x8000, file, filler(300)));
    put(rar4, rar4Block(0x7B, 0, {}));
    expectWholeAndCut(FormatCheck::Rar, rar4, 20);

    Buffer badCrc = rar5;
    badCrc[8] ^= 1;
    expectRejected(FormatCheck::Rar, badCrc);
    Buffer damaged = rar5;
    damaged[30] ^= 1;  // inside the file block's header
    EXPECT_EQ(check(FormatCheck::Rar, damaged).verdict, CheckVerdict::Undecided);
}

Buffer mp3(int frames, bool v1Tag) {
    Buffer b;
    put(b, "ID3");
    put(b, Buffer{4, 0, 0, 0, 0, 1, 0});  // tag size 128 (sync-safe)
    put(b, filler(128));
    for (int i = 0; i < frames; ++i) {
        put(b, Buffer{0xFF, 0xFB, 0x90, 0x64});  // MPEG-1 layer III, 128 kbit/s, 44.1 kHz: 417 bytes
        put(b, filler(413, static_cast<std::uint8_t>(i)));
    }
    if (v1Tag) {
        put(b, "TAG");
        put(b, Buffer(125));
    }
    return b;
}

TEST(FormatCheck, Mp3WalksFramesAfterTheTag) {
    expectWholeAndCut(FormatCheck::Mp3, mp3(20, false), 140);
    const Buffer tagged = mp3(5, true);
    Buffer withTail = tagged;
    put(withTail, Buffer(500));
    EXPECT_EQ(check(FormatCheck::Mp3, withTail).length, tagged.size());
    Buffer badTag;
    put(badTag, "ID3");
    put(badTag, Buffer{3, 0, 0, 0x80, 0, 0, 0});
    put(badTag, filler(500));
    expectRejected(FormatCheck::Mp3, badTag);
}

Buffer box(std::string_view type, const Buffer& body, bool large = false) {
    Buffer b;
    if (large) {
        be(b, 1, 4);
        put(b, type);
        be(b, body.size() + 16, 8);
    } else {
        be(b, body.size() + 8, 4);
        put(b, type);
    }
    put(b, body);
    return b;
}

TEST(FormatCheck, IsoMediaWalksTopLevelBoxes) {
    Buffer movie = box("ftyp", Buffer{'i', 's', 'o', 'm', 0, 0, 2, 0});
    put(movie, box("free", {}));
    put(movie, box("mdat", filler(2000), true));
    put(movie, box("moov", filler(300)));
    expectWholeAndCut(FormatCheck::IsoMedia, movie, 20);
    Buffer noMovie = box("ftyp", Buffer{'M', '4', 'A', ' ', 0, 0, 0, 0});
    put(noMovie, box("mdat", filler(200)));
    put(noMovie, filler(50));
    EXPECT_EQ(check(FormatCheck::IsoMedia, noMovie).verdict, CheckVerdict::Undecided);
    Buffer random = filler(4);
    put(random, "ftyp");
    put(random, filler(100));
    expectRejected(FormatCheck::IsoMedia, random);
}

Buffer sqlite(std::uint32_t pages, std::uint32_t validFor) {
    Buffer b;
    put(b, std::string_view("SQLite format 3\0", 16));
    be(b, 1024, 2);
    put(b, Buffer{1, 1, 0, 64, 32, 32});
    be(b, 9, 4);  // change counter
    be(b, pages, 4);
    put(b, Buffer(60));
    be(b, validFor, 4);
    put(b, Buffer(4));
    put(b, filler(1024 * pages - 100));
    return b;
}

TEST(FormatCheck, SqliteIsPageSizeTimesPageCount) {
    expectWholeAndCut(FormatCheck::Sqlite, sqlite(3, 9), 100);
    EXPECT_EQ(check(FormatCheck::Sqlite, sqlite(3, 8)).verdict, CheckVerdict::Undecided);  // a stale count
    Buffer badHeader = sqlite(3, 9);
    badHeader[21] = 0;
    expectRejected(FormatCheck::Sqlite, badHeader);
}

TEST(FormatCheck, EveryBuiltInFormatRejectsRandomBytesAfterItsSignature) {
    const std::vector<std::pair<FormatCheck, std::string>> starts{
        {FormatCheck::Jpeg, "\xFF\xD8\xFF"}, {FormatCheck::Png, "\x89PNG\r\n\x1a\n"}, {FormatCheck::Gif, "GIF89a"},
        {FormatCheck::Zip, "PK\x03\x04"},    {FormatCheck::Rar, std::string("Rar!\x1a\x07\x01\x00", 8)},
        {FormatCheck::SevenZip, "7z\xBC\xAF\x27\x1C"}, {FormatCheck::Sqlite, std::string("SQLite format 3\0", 16)}};
    for (int seed = 1; seed < 40; ++seed) {
        for (const auto& [format, start] : starts) {
            Buffer data;
            put(data, start);
            put(data, filler(8192, static_cast<std::uint8_t>(seed)));
            EXPECT_NE(check(format, data).verdict, CheckVerdict::Confirmed) << start << " seed " << seed;
        }
    }
}

TEST(FormatCheck, OnlyTheDefaultFilesOwnDefinitionsHaveChecks) {
    auto made = [](std::string extension, std::string start, std::int32_t offset = 0) {
        SignatureDefinition d;
        d.extension = std::move(extension);
        d.startSignature.assign(start.begin(), start.end());
        d.startSignatureOffset = offset;
        return formatCheckFor(d);
    };
    EXPECT_EQ(made("jpg", "\xFF\xD8\xFF"), FormatCheck::Jpeg);
    EXPECT_EQ(made("gif", "GIF8*a"), FormatCheck::Gif);
    EXPECT_EQ(made("docx", "[Content_T", 30), FormatCheck::Zip);
    EXPECT_EQ(made("m4a", "ftypM4A", 4), FormatCheck::IsoMedia);
    EXPECT_EQ(made("db", "SQLite for"), FormatCheck::Sqlite);
    // A user's own definition of a known extension: a shorter signature, another offset, another case.
    EXPECT_EQ(made("png", "\x89PNG"), FormatCheck::None);
    EXPECT_EQ(made("docx", "[Content_T", 0), FormatCheck::None);
    EXPECT_EQ(made("JPG", "\xFF\xD8\xFF"), FormatCheck::None);
    EXPECT_EQ(made("xyz", "PK\x03\x04"), FormatCheck::None);
}

}  // namespace
}  // namespace halvard
