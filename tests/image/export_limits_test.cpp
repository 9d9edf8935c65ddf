// Copies at the edges of what a disk or a target holds: a flat image that ends inside a sector, and a disk larger
// than the target's file system lets any file be.
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "image/disk_export.h"
#include "image/image_info.h"
#include "image/image_kind.h"
#include "support/qcow2_builder.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

using testing::TempDir;

struct Silent final : ProgressSink, StatusSink, MessageSink {
    std::vector<std::string> messages;
    void setRange(std::uint32_t, std::uint32_t) override {}
    void setPosition(std::uint32_t) override {}
    void setStatus(const std::string&) override {}
    void information(const std::string& t) override { messages.push_back(t); }
    bool question(const std::string&) override { return true; }
    Reporting reporting() { return {this, this, this}; }
};

// Every byte of an odd-sized flat file is the disk's: its last, partial sector reads as the bytes there are, a read
// past them is still refused, and the copy equals the file.
TEST(ExportLimits, OddSizedFlatImageIsCopiedByteForByte) {
    TempDir dir;
    std::vector<std::uint8_t> bytes(61441);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = testing::patternByte(i) | 1;
    bytes[510] = 0x55;
    bytes[511] = 0xAA;
    const std::string path = dir.file("odd.img");
    testing::writeFile(path, bytes);

    OpenedImage opened = openImage(path);
    ASSERT_TRUE(opened.reader) << opened.error;
    DiskReader& reader = *opened.reader;
    EXPECT_EQ(reader.totalSectors, 121u);
    EXPECT_EQ(reader.diskBytes(), 61441u);
    std::vector<std::uint8_t> last(512, 0xCC);
    EXPECT_TRUE(reader.readAt(120 * 512, last.data(), last.size()));
    EXPECT_EQ(last[0], bytes[61440]);
    EXPECT_EQ(std::count(last.begin() + 1, last.end(), 0), 511);
    std::vector<std::uint8_t> beyond(1024);
    EXPECT_FALSE(reader.readAt(120 * 512, beyond.data(), beyond.size()));  // runs past the disk's last sector

    const ImageInfo info = describeImage(path);
    ASSERT_TRUE(info.ok) << info.error;
    EXPECT_EQ(info.virtualSize, 61441u);

    Silent silent;
    const std::string out = dir.file("out.img");
    const ExportResult result = exportDiskImage(reader, reader.totalSectors, out, silent.reporting(), {});
    EXPECT_EQ(result.outcome, ExportOutcome::Completed);
    EXPECT_EQ(result.unreadableSectors, 0u);
    EXPECT_EQ(result.bytesDone, 61441u);
    EXPECT_EQ(testing::readFile(out), bytes);
}

// Whether files in `folder` may be `bytes` long.
bool fileMayBe(const std::string& folder, std::uint64_t bytes) {
    const std::string probe = folder + "/probe";
    const int fd = ::open(probe.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return true;
    const bool may = ::ftruncate(fd, static_cast<off_t>(bytes)) == 0;
    ::close(fd);
    ::unlink(probe.c_str());
    return may;
}

// A 16 TiB disk that stores nothing, onto a file system whose largest file is smaller (ext4 with 4 KiB blocks):
// not a lack of space, and said so, with the limit; the room check does not walk the empty disk.
TEST(ExportLimits, DiskLargerThanTheTargetsLargestFileIsToldAsSuch) {
    TempDir dir;
    constexpr std::uint64_t kDisk = 16ULL << 40;
    if (fileMayBe(dir.path(), kDisk)) GTEST_SKIP() << "the test folder's file system takes 16 TiB files";
    testing::Qcow2Spec spec;
    spec.size = kDisk;
    spec.clusterBits = 21;
    const std::string path = dir.file("big.qcow2");
    testing::writeFile(path, testing::Qcow2Builder(spec).bytes());
    OpenedImage opened = openImage(path);
    ASSERT_TRUE(opened.reader) << opened.error;

    Silent silent;
    const std::string out = dir.file("big.img");
    const auto start = std::chrono::steady_clock::now();
    const ExportResult result = exportDiskImage(*opened.reader, opened.reader->totalSectors, out, silent.reporting(), {});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(result.outcome, ExportOutcome::FileTooLarge);
    EXPECT_EQ(result.bytesDone, 0u);
    ASSERT_EQ(silent.messages.size(), 1u);
    const std::string& text = silent.messages[0];
    EXPECT_EQ(text, result.message);
    EXPECT_EQ(text.find("Insufficient"), std::string::npos) << text;
    EXPECT_NE(text.find("17592186044416 bytes"), std::string::npos) << text;
    // The largest file the folder takes is named, to the byte.
    std::uint64_t largest = 0;
    for (std::uint64_t step = kDisk / 2; step; step /= 2)
        if (fileMayBe(dir.path(), largest + step)) largest += step;
    EXPECT_NE(text.find("largest file it allows is " + std::to_string(largest) + " bytes"), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace halvard
