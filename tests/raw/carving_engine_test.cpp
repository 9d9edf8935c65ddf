#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "common/host_files.h"
#include "common/memory_tree.h"
#include "raw/carved_files.h"
#include "raw/carving_engine.h"
#include "raw/formats/crc32.h"
#include "support/ntfs_builder.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

constexpr std::uint64_t kMiB = 1048576;

SignatureDefinition definition(const std::string& extension, std::vector<std::uint8_t> start,
                               std::vector<std::uint8_t> end, std::int64_t approx,
                               const std::string& category = "Things") {
    SignatureDefinition d;
    d.extension = extension;
    d.startSignature = std::move(start);
    d.endSignature = std::move(end);
    d.approxFileSize = approx;
    d.category = category;
    return d;
}

struct Carved {
    std::uint64_t start;
    std::int64_t length;
    std::string extension;
    bool operator==(const Carved&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Carved& c) {
    return os << "{" << c.start << ", " << c.length << ", " << c.extension << "}";
}

// Scans `volume` with `definitions`; results as {start, length, extension}, sorted by start.
class Scan {
public:
    Scan(std::vector<std::uint8_t> volume, std::vector<SignatureDefinition> definitions)
        : reader(std::move(volume)) {
        engine.addDefinitions(std::move(definitions));
        engine.setVolumeSize(reader.bytes.size());
        engine.setDevice(&reader);
        engine.setTreeControl(&tree);
        EXPECT_TRUE(engine.carveVolume("out"));
    }
    std::vector<Carved> carved() const {
        std::vector<Carved> out;
        for (const CarveResult& r : engine.results())
            out.push_back({r.startOffset, r.length, engine.definitions()[r.definition].extension});
        std::sort(out.begin(), out.end(), [](const Carved& a, const Carved& b) { return a.start < b.start; });
        return out;
    }

    testing::MemoryReader reader;
    MemoryTree tree;
    CarvingEngine engine;
};

void put(std::vector<std::uint8_t>& volume, std::uint64_t at, std::vector<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), volume.begin() + static_cast<std::ptrdiff_t>(at));
}

TEST(CarvingEngine, EndSignaturesAreFoundAnywhereEvenAcrossSectorsAndBlocks) {
    std::vector<std::uint8_t> volume(3 * kMiB, 0);
    put(volume, 0, {0xFF, 0xD8, 0xFF});
    put(volume, 698, {0xFF, 0xD9});                  // mid-sector
    put(volume, kMiB - 512, {0xFF, 0xD8, 0xFF});     // starts in a block's last sector
    put(volume, kMiB + 511, {0xFF, 0xD9});           // end across a sector boundary
    put(volume, kMiB + kMiB / 2, {0xFF, 0xD8, 0xFF});
    put(volume, 2 * kMiB - 1, {0xFF, 0xD9});         // end across a block boundary
    Scan scan(volume, {definition("jpg", {0xFF, 0xD8, 0xFF}, {0xFF, 0xD9}, 4 * kMiB, "Pictures")});
    EXPECT_EQ(scan.carved(), (std::vector<Carved>{{0, 700, "jpg"},
                                                  {kMiB - 512, 1025, "jpg"},
                                                  {kMiB + kMiB / 2, kMiB / 2 + 1, "jpg"}}));

    // The tree: the top item, the category with its count, each file named by its start with its result index.
    const TreeItemId top = scan.tree.firstChild(kNoTreeItem);
    EXPECT_EQ(scan.tree.itemText(top), "RAW RECOVERY ");
    const TreeItemId category = scan.tree.firstChild(top);
    EXPECT_EQ(scan.tree.itemText(category), "Pictures (3)");
    const TreeItemId first = scan.tree.firstChild(category);
    EXPECT_EQ(scan.tree.itemText(first), "0 .jpg");
    EXPECT_EQ(scan.tree.itemData(first), 0u);
}

TEST(CarvingEngine, StartMatchingRules) {
    std::vector<std::uint8_t> volume(kMiB, 0);
    put(volume, 0, {0x41});                 // a one-byte signature never matches
    put(volume, 512, {0x57, 0x58, 0x44});   // both "W*D" and "WXD" match: the first loaded wins
    put(volume, 1024, {0x57, 0x51, 0x44});  // the wildcard takes any byte
    put(volume, 1536 + 300, {0x4F, 0x46});  // signature 300 bytes into the sector
    put(volume, 2048 + 44, {0x4F, 0x46});   // not at 300 - 256
    put(volume, 2560 + 1, {0x57, 0x58, 0x44});  // not at a sector start
    put(volume, 3072, {0x57, 0x5A, 0x59});      // "*ZY" loaded before "WZY" wins though its first byte is a wildcard
    std::vector<SignatureDefinition> definitions{
        definition("one", {0x41}, {}, 100),        definition("wld", {0x57, 0x2A, 0x44}, {}, 100),
        definition("dup", {0x57, 0x58, 0x44}, {}, 100), definition("off", {0x4F, 0x46}, {}, 100),
        definition("lwc", {0x2A, 0x5A, 0x59}, {}, 100), definition("wzy", {0x57, 0x5A, 0x59}, {}, 100)};
    definitions[3].startSignatureOffset = 300;
    Scan scan(volume, definitions);
    EXPECT_EQ(scan.carved(), (std::vector<Carved>{{512, 100, "wld"}, {1024, 100, "wld"}, {1536, 100, "off"},
                                                  {3072, 100, "lwc"}}));
}

TEST(CarvingEngine, UnpairedStartsRunToTheNextStartOrTheApproximateSize) {
    std::vector<std::uint8_t> volume(2 * kMiB, 0);
    put(volume, 0, {0x53, 0x54});
    put(volume, 4096, {0x53, 0x54});
    put(volume, 5000, {0x45, 0x4E});  // pairs with the later start
    put(volume, 8192, {0x53, 0x54});
    put(volume, 9000, {0x53, 0x54});  // not at a sector start
    put(volume, 12288, {0x53, 0x54});
    put(volume, 2 * kMiB - 512, {0x53, 0x54});  // the approximate size is cut at the volume end
    Scan scan(volume, {definition("st", {0x53, 0x54}, {0x45, 0x4E}, 6000)});
    EXPECT_EQ(scan.carved(), (std::vector<Carved>{{0, 4096, "st"},
                                                  {4096, 906, "st"},
                                                  {8192, 4096, "st"},
                                                  {12288, 6000, "st"},
                                                  {2 * kMiB - 512, 512, "st"}}));
}

TEST(CarvingEngine, SizeFieldsGiveTheLengthAndSkipTheFile) {
    std::vector<std::uint8_t> volume(2 * kMiB, 0);
    put(volume, 0, {0x53, 0x5A, 0xE8, 0x03});     // 2-byte size 1000, plus a 4-byte header
    put(volume, 512, {0x53, 0x5A, 0x10, 0x00});   // inside the first file: skipped
    put(volume, 1024, {0x53, 0x5A, 0x10, 0x00});  // the sector after it
    put(volume, 4096, {0x53, 0x5A, 0xFF, 0xFF});  // larger than the approximate size: no file
    SignatureDefinition sized = definition("sz", {0x53, 0x5A}, {}, 60000);
    sized.sizeFieldOffset = 2;
    sized.sizeFieldLength = 2;
    sized.headerSize = 4;
    // Approximate mode skips, but never past the block it found the file in.
    SignatureDefinition skipping = definition("ap", {0x41, 0x50}, {}, 100);
    skipping.skipSize = 2 * kMiB;
    put(volume, 8192, {0x41, 0x50});
    put(volume, 8704, {0x41, 0x50});
    put(volume, kMiB, {0x41, 0x50});
    Scan scan(volume, {sized, skipping});
    EXPECT_EQ(scan.carved(),
              (std::vector<Carved>{{0, 1004, "sz"}, {1024, 20, "sz"}, {8192, 100, "ap"}, {kMiB, 100, "ap"}}));
}

// Stops when the progress reaches a block, as a user pressing Stop while that block is due.
class StopAtBlock final : public ProgressSink {
public:
    StopAtBlock(StopFlag& flag, std::uint32_t block) : flag_(flag), block_(block) {}
    void setRange(std::uint32_t, std::uint32_t) override {}
    void setPosition(std::uint32_t position) override {
        if (position == block_) flag_.store(1);
    }

private:
    StopFlag& flag_;
    std::uint32_t block_;
};

TEST(CarvingEngine, StopEndsTheScanButKeepsStartsFoundSoFar) {
    std::vector<std::uint8_t> volume(3 * kMiB, 0);
    put(volume, 4096, {0x53, 0x54});      // no end before the stop
    put(volume, 2 * kMiB, {0x53, 0x54});  // in a block the scan never reaches
    testing::MemoryReader reader(volume);
    StopFlag flag{0};
    StopAtBlock progress(flag, 1);
    CarvingEngine engine;
    engine.addDefinitions({definition("st", {0x53, 0x54}, {0x45, 0x4E}, 2 * kMiB)});
    engine.setVolumeSize(volume.size());
    engine.setDevice(&reader);
    engine.setReporting({&progress, nullptr, nullptr});
    engine.setStopPoll(StopPoll(&flag, nullptr));
    EXPECT_TRUE(engine.carveVolume("out"));
    ASSERT_EQ(engine.results().size(), 1u);
    EXPECT_EQ(engine.results()[0].startOffset, 4096u);
    EXPECT_EQ(engine.results()[0].length, static_cast<std::int64_t>(2 * kMiB));
}

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> pngFile() {
    std::vector<std::uint8_t> png = bytesOf("\x89PNG\r\n\x1a\n");
    auto chunk = [&](const std::string& type, std::vector<std::uint8_t> data) {
        for (int i = 3; i >= 0; --i) png.push_back(static_cast<std::uint8_t>(data.size() >> (8 * i)));
        std::vector<std::uint8_t> body = bytesOf(type);
        body.insert(body.end(), data.begin(), data.end());
        png.insert(png.end(), body.begin(), body.end());
        const std::uint32_t crc = formats::crc32(Bytes(body));
        for (int i = 3; i >= 0; --i) png.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    };
    chunk("IHDR", {0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0});
    chunk("IEND", {});
    return png;
}

TEST(CarvingEngine, FormatChecksSettleCandidatesAndUserDefinitionsStayAsTheyWere) {
    // A PDF whose stream holds a PNG at a sector start and a stray "%%EOF" before its own end.
    std::string pdf = "%PDF-1.4\n1 0 obj\n<< >>\nstream\n";
    pdf.resize(512, ' ');
    const std::vector<std::uint8_t> png = pngFile();
    pdf += std::string(png.begin(), png.end()) + "\n%%EOF\nendstream\nendobj\n";
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 1\n0000000000 65535 f \ntrailer\n<< >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    std::vector<std::uint8_t> volume(3 * kMiB, 0);
    put(volume, 0, bytesOf(pdf));
    put(volume, kMiB, bytesOf("%PDF-1.4\nno cross-reference here\n%%EOF\n"));  // damaged: kept by its signatures
    std::vector<std::uint8_t> lookAlike = png;
    lookAlike[20] ^= 1;  // IHDR no longer matches its CRC
    put(volume, 2 * kMiB, lookAlike);

    auto definitions = [](FormatCheck check) {
        SignatureDefinition pdfDefinition = definition("pdf", bytesOf("%PDF-"), bytesOf("%%EOF\n"), kMiB);
        SignatureDefinition pngDefinition =
            definition("png", bytesOf("\x89PNG\r\n\x1a\n"), bytesOf("IEND\xae\x42\x60\x82"), kMiB);
        pdfDefinition.formatCheck = check == FormatCheck::None ? check : FormatCheck::Pdf;
        pngDefinition.formatCheck = check == FormatCheck::None ? check : FormatCheck::Png;
        return std::vector<SignatureDefinition>{pdfDefinition, pngDefinition};
    };
    const auto pdfLength = static_cast<std::int64_t>(pdf.size());
    Scan checked(volume, definitions(FormatCheck::Pdf));
    EXPECT_EQ(checked.carved(), (std::vector<Carved>{{0, pdfLength, "pdf"}, {kMiB, 39, "pdf"}}));
    EXPECT_EQ(checked.engine.droppedCount(), 1u);
    for (const CarveResult& r : checked.engine.results())
        EXPECT_EQ(r.validation, r.startOffset == 0 ? CarveValidation::Validated : CarveValidation::Damaged);

    // Without checks: the first "%%EOF" ends the PDF, the PNG inside it and the look-alike are listed.
    Scan plain(volume, definitions(FormatCheck::None));
    EXPECT_EQ(plain.carved(), (std::vector<Carved>{{0, static_cast<std::int64_t>(512 + png.size() + 7), "pdf"},
                                                   {512, static_cast<std::int64_t>(png.size()), "png"},
                                                   {kMiB, 39, "pdf"},
                                                   {2 * kMiB, static_cast<std::int64_t>(png.size()), "png"}}));
    EXPECT_EQ(plain.engine.droppedCount(), 0u);
    for (const CarveResult& r : plain.engine.results()) EXPECT_EQ(r.validation, CarveValidation::NotChecked);
}

TEST(CarvingEngine, StartsWhoseEndNeverComesDoNotMakeTheChecksReadWithoutEnd) {
    // A PDF header in every sector and no end: each check would read to the volume's end (16 GiB in all).
    std::vector<std::uint8_t> volume(4 * kMiB, ' ');
    for (std::uint64_t at = 0; at < volume.size(); at += 512) put(volume, at, bytesOf("%PDF-1.4\n"));
    SignatureDefinition pdf = definition("pdf", bytesOf("%PDF-"), bytesOf("%%EOF\n"), 64 * kMiB);
    pdf.formatCheck = FormatCheck::Pdf;
    Scan scan(volume, {pdf});
    ASSERT_EQ(scan.engine.results().size(), volume.size() / 512);
    for (const CarveResult& r : scan.engine.results()) EXPECT_EQ(r.validation, CarveValidation::Damaged);
}

TEST(CarvingEngine, CarvedFilesAreWrittenWithoutReplacingOthers) {
    std::vector<std::uint8_t> volume(kMiB, 0);
    for (std::size_t i = 0; i < volume.size(); ++i) volume[i] = static_cast<std::uint8_t>(i * 7);
    testing::MemoryReader reader(volume);
    testing::TempDir dir;
    testing::writeFile(dir.file("512 .bin"), {1, 2, 3});
    const std::vector<CarveResult> chosen{{512, 3000, 0, "512 .bin"}, {0, 10, 0, "../0 .bin"}};
    const CarvedFilesOutcome outcome = writeCarvedFiles(reader, chosen, dir.path(), {}, {});
    EXPECT_EQ(outcome.filesWritten, 2u);
    EXPECT_EQ(testing::readFile(dir.file("512 .bin")), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(testing::readFile(dir.file("512  (1).bin")),
              std::vector<std::uint8_t>(volume.begin() + 512, volume.begin() + 3512));
    EXPECT_EQ(std::filesystem::file_size(dir.file(safeHostName("../0 .bin"))), 10u);
}

}  // namespace
}  // namespace halvard
