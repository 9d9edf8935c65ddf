#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/host_files.h"
#include "image/disk_export.h"
#include "image/vhdx_reader.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

using testing::TempDir;
using testing::VhdxSpec;

constexpr std::uint64_t kMiB = 1024 * 1024;

struct Recorder final : ProgressSink, StatusSink, MessageSink {
    std::vector<std::string> statuses, messages;
    std::vector<std::uint32_t> positions;
    std::uint32_t upper = 0;
    void setRange(std::uint32_t, std::uint32_t u) override { upper = u; }
    void setPosition(std::uint32_t p) override { positions.push_back(p); }
    void setStatus(const std::string& t) override { statuses.push_back(t); }
    void information(const std::string& t) override { messages.push_back(t); }
    bool question(const std::string&) override { return true; }
    Reporting reporting() { return {this, this, this}; }
};

class DiskExportTest : public ::testing::Test {
protected:
    std::unique_ptr<VhdxReader> open(const VhdxSpec& spec) {
        const std::string path = dir.file("disk.vhdx");
        testing::writeFile(path, testing::buildVhdx(spec));
        auto reader = std::make_unique<VhdxReader>();
        EXPECT_TRUE(reader->open(path));
        return reader;
    }
    // A tmpfs mounted in the test's folder until the test ends; empty when it cannot be had (not root).
    std::string mountTmpfs(const std::string& name, const char* options) {
        const std::string path = dir.file(name);
        std::filesystem::create_directory(path);
        if (::geteuid() != 0 || ::mount("tmpfs", path.c_str(), "tmpfs", 0, options) != 0) return {};
        mounted.push_back(path);
        return path;
    }
    void TearDown() override {
        for (const std::string& path : mounted) ::umount(path.c_str());
    }
    TempDir dir;
    Recorder recorder;
    std::vector<std::string> mounted;
};

TEST_F(DiskExportTest, CopiesTheWholeDiskInFiveMebibyteChunks) {
    VhdxSpec spec;
    spec.virtualSize = 12 * kMiB + 512;  // two whole chunks and a last one of 2 MiB + 512 bytes
    spec.allocatedBlocks = {0, 4, 11, 12};
    auto reader = open(spec);
    const std::string out = dir.file("out.img");
    const ExportResult result = exportDiskImage(*reader, reader->totalSectors, out, recorder.reporting(), {});
    EXPECT_EQ(result.outcome, ExportOutcome::Completed);
    EXPECT_EQ(result.bytesDone, spec.virtualSize);
    EXPECT_EQ(result.unreadableSectors, 0u);
    EXPECT_EQ(testing::readFile(out), testing::expectedDisk(spec));
    ASSERT_EQ(recorder.statuses.size(), 4u);
    EXPECT_EQ(recorder.statuses[0], "5 MB of 12 MB or 0.004883 GB of 0.011719 GB Saved");
    EXPECT_EQ(recorder.statuses[2], "12 MB of 12 MB or 0.011719 GB of 0.011719 GB Saved");
    EXPECT_EQ(recorder.statuses.back(), kExportDoneText);
    EXPECT_EQ(recorder.upper, spec.virtualSize / 512);
    // Every 10 MiB, and full at the end.
    EXPECT_EQ(recorder.positions, (std::vector<std::uint32_t>{0, 10 * 2048, 12 * 2048 + 1}));
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(DiskExportTest, ProgressTextMatchesTheOneGibibyteExample) {
    EXPECT_EQ(exportProgressText(5 * kMiB, 1024 * kMiB), "5 MB of 1024 MB or 0.004883 GB of 1.000000 GB Saved");
}

TEST_F(DiskExportTest, StopLeavesAFileAsLongAsWhatWasWritten) {
    VhdxSpec spec;
    spec.virtualSize = 16 * kMiB;
    spec.allocatedBlocks = {0, 1, 2, 3, 4, 5, 6, 7};
    auto reader = open(spec);
    StopFlag stop{1};
    const std::string out = dir.file("out.img");
    const ExportResult result = exportDiskImage(*reader, reader->totalSectors, out, recorder.reporting(),
                                                StopPoll(&stop, nullptr));
    EXPECT_EQ(result.outcome, ExportOutcome::Stopped);
    EXPECT_EQ(result.bytesDone, 5 * kMiB);
    EXPECT_EQ(std::filesystem::file_size(out), 5 * kMiB);
    EXPECT_EQ(recorder.statuses.back(), kExportDoneText);
}

TEST_F(DiskExportTest, UnreadableSectorsAreWrittenAsZerosAndCounted) {
    VhdxSpec spec;
    spec.virtualSize = 4 * kMiB;
    spec.allocatedBlocks = {0, 3};
    spec.payloadPastEnd = kMiB / 2;  // half of block 3 is missing from the file
    auto reader = open(spec);
    const std::string out = dir.file("out.img");
    const ExportResult result = exportDiskImage(*reader, reader->totalSectors, out, recorder.reporting(), {});
    EXPECT_EQ(result.outcome, ExportOutcome::Completed);
    EXPECT_EQ(result.unreadableSectors, kMiB / 2 / 512);
    auto expected = testing::expectedDisk(spec);
    std::fill(expected.end() - kMiB / 2, expected.end(), 0);
    EXPECT_EQ(testing::readFile(out), expected);

    // The same in a later chunk, read into a buffer that still holds an earlier chunk's data: every chunk here
    // has a block the image does not store, so none is copied by the kernel.
    spec.virtualSize = 15 * kMiB;
    spec.allocatedBlocks = {0, 1, 3, 4, 5, 6, 7, 8, 10, 11, 12, 14};
    auto later = open(spec);
    const std::string laterOut = dir.file("later.img");
    const ExportResult laterResult = exportDiskImage(*later, later->totalSectors, laterOut, recorder.reporting(), {});
    EXPECT_EQ(laterResult.unreadableSectors, kMiB / 2 / 512);
    auto laterExpected = testing::expectedDisk(spec);
    std::fill(laterExpected.end() - kMiB / 2, laterExpected.end(), 0);
    EXPECT_EQ(testing::readFile(laterOut), laterExpected);
}

TEST_F(DiskExportTest, NamesFollowTheImageAndNeverReplaceAFile) {
    const std::string folder = dir.path();
    EXPECT_EQ(chooseExportPath(folder, "/images/disk.vhdx"), folder + "/disk.vhdx.img");
    testing::writeFile(folder + "/disk.vhdx.img", {1});
    EXPECT_EQ(chooseExportPath(folder + "/", "/images/disk.vhdx"), folder + "/1disk.vhdx.img");
    testing::writeFile(folder + "/1disk.vhdx.img", {1});
    EXPECT_EQ(chooseExportPath(folder, "disk.vhdx"), folder + "/2disk.vhdx.img");
    EXPECT_EQ(chooseExportPath(folder, "/images/"), folder + "/Recovered_diskimg.img");
    testing::writeFile(folder + "/Recovered_diskimg.img", {1});
    EXPECT_EQ(chooseExportPath(folder, ""), folder + "/1Recovered_diskimg.img");
}

TEST_F(DiskExportTest, CreationFailureIsReported) {
    VhdxSpec spec;
    spec.allocatedBlocks = {0};
    auto reader = open(spec);
    const ExportResult result =
        exportDiskImage(*reader, reader->totalSectors, dir.file("no/such/folder/out.img"), recorder.reporting(), {});
    EXPECT_EQ(result.outcome, ExportOutcome::CreateFailed);
    EXPECT_EQ(recorder.messages, (std::vector<std::string>{"File cannot be Created"}));
}

// Blocks that lie back to back in the image file are handed to the kernel whole; on a target of another file
// system (a tmpfs) the kernel refuses and the chunks are read and written instead. Both give the same disk.
TEST_F(DiskExportTest, StretchesStoredBackToBackCopyAlikeOnAnyTarget) {
    VhdxSpec spec;
    spec.virtualSize = 32 * kMiB;
    spec.blockSize = 8 * kMiB;
    spec.allocatedBlocks = {0, 1, 3};
    auto reader = open(spec);
    ASSERT_TRUE(reader->fileStretch(0, kExportChunkSize).has_value());
    EXPECT_FALSE(reader->fileStretch(5 * kMiB, kExportChunkSize).has_value());  // crosses into the next block
    EXPECT_FALSE(reader->fileStretch(16 * kMiB, 512).has_value());  // block 2 is not stored
    EXPECT_FALSE(reader->fileStretch(100, 512).has_value());  // not on a sector's start

    std::vector<std::string> targets{dir.file("out.img")};
    if (const std::string other = mountTmpfs("other", "size=40m"); !other.empty()) targets.push_back(other + "/out.img");
    for (const std::string& out : targets) {
        const ExportResult result = exportDiskImage(*reader, reader->totalSectors, out, recorder.reporting(), {});
        EXPECT_EQ(result.outcome, ExportOutcome::Completed) << out;
        EXPECT_EQ(result.unreadableSectors, 0u);
        EXPECT_TRUE(testing::readFile(out) == testing::expectedDisk(spec)) << out;
    }
}

// A real small file system as the target: the reservation must fail before anything is copied when what the
// image stores does not fit, and must not when only the disk's size does not (the output is sparse).
TEST_F(DiskExportTest, TooSmallTargetIsRefusedBeforeCopying) {
    const std::string mountPoint = mountTmpfs("small", "size=2m");
    if (mountPoint.empty()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    VhdxSpec spec;
    spec.virtualSize = 8 * kMiB;
    spec.allocatedBlocks = {0, 2, 5};
    auto reader = open(spec);
    const std::string out = mountPoint + "/out.img";
    const ExportResult result = exportDiskImage(*reader, reader->totalSectors, out, recorder.reporting(), {});
    EXPECT_EQ(result.outcome, ExportOutcome::InsufficientSpace);
    EXPECT_EQ(recorder.messages, (std::vector<std::string>{"Insufficient Disk Space in saving Location"}));
    EXPECT_FALSE(std::filesystem::exists(out));

    VhdxSpec sparse;
    sparse.virtualSize = 64 * kMiB;
    sparse.allocatedBlocks = {0, 40};
    auto sparseReader = open(sparse);
    const ExportResult fits = exportDiskImage(*sparseReader, sparseReader->totalSectors, out, recorder.reporting(), {});
    EXPECT_EQ(fits.outcome, ExportOutcome::Completed);
    EXPECT_EQ(testing::readFile(out), testing::expectedDisk(sparse));
}

// Unstored blocks are never read and stay holes; stored zeros become holes too, so the output takes the room of
// the data alone. A disk that stores nothing is a file of holes at once.
TEST_F(DiskExportTest, OutputIsSparseWhereTheDiskHoldsZeros) {
    VhdxSpec spec;
    spec.virtualSize = 48 * kMiB;
    spec.allocatedBlocks = {1, 30};
    spec.overlays[30 * kMiB] = std::vector<std::uint8_t>(kMiB / 2, 0);  // stored zeros inside block 30
    auto reader = open(spec);
    const std::string out = dir.file("out.img");
    const ExportResult result = exportDiskImage(*reader, reader->totalSectors, out, recorder.reporting(), {});
    EXPECT_EQ(result.outcome, ExportOutcome::Completed);
    EXPECT_EQ(result.bytesDone, spec.virtualSize);
    EXPECT_EQ(testing::readFile(out), testing::expectedDisk(spec));
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_LE(static_cast<std::uint64_t>(st.st_blocks) * 512, kMiB + kMiB / 2 + 64 * 1024);
    EXPECT_EQ(recorder.statuses.back(), kExportDoneText);
    EXPECT_EQ(recorder.statuses[recorder.statuses.size() - 2], "48 MB of 48 MB or 0.046875 GB of 0.046875 GB Saved");

    VhdxSpec empty;
    empty.virtualSize = 1ULL << 40;
    empty.blockSize = 32 * kMiB;
    auto emptyReader = open(empty);
    const ExportResult whole = exportDiskImage(*emptyReader, emptyReader->totalSectors, out, recorder.reporting(), {});
    EXPECT_EQ(whole.outcome, ExportOutcome::Completed);
    EXPECT_EQ(whole.bytesDone, empty.virtualSize);
    EXPECT_EQ(std::filesystem::file_size(out), empty.virtualSize);
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_blocks, 0);
}

// Blocks the kernel copies keep the holes the image file itself has (an image written sparsely by its tool):
// they read as zeros and are not written, as a copy by other tools leaves them.
TEST_F(DiskExportTest, KernelCopyLeavesTheImageFilesHolesOut) {
    VhdxSpec spec;
    spec.virtualSize = 16 * kMiB;
    spec.blockSize = 8 * kMiB;
    spec.allocatedBlocks = {0, 1};
    const std::string path = dir.file("holed.vhdx");
    testing::writeFile(path, testing::buildVhdx(spec));
    VhdxReader probe;
    ASSERT_TRUE(probe.open(path));
    const auto stretch = probe.fileStretch(0, spec.blockSize);
    ASSERT_TRUE(stretch.has_value());
    {
        const int fd = ::open(path.c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        const int punched = ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                                        static_cast<off_t>(stretch->offset + 2 * kMiB), static_cast<off_t>(4 * kMiB));
        ::close(fd);
        if (punched != 0) GTEST_SKIP() << "the file system here cannot punch holes";
    }
    VhdxReader reader;
    ASSERT_TRUE(reader.open(path));
    const std::string out = dir.file("out.img");
    const ExportResult result = exportDiskImage(reader, reader.totalSectors, out, recorder.reporting(), {});
    EXPECT_EQ(result.outcome, ExportOutcome::Completed);
    auto expected = testing::expectedDisk(spec);
    std::fill(expected.begin() + 2 * kMiB, expected.begin() + 6 * kMiB, 0);
    EXPECT_TRUE(testing::readFile(out) == expected);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_LE(static_cast<std::uint64_t>(st.st_blocks) * 512, 12 * kMiB + 64 * 1024);
}

// The target fills up while the copy runs (another program takes the space after the first chunk): the write
// failure is told with the disk-full text, the copy ends, and the file keeps exactly the chunks written.
TEST_F(DiskExportTest, TargetFillingUpDuringTheCopyKeepsThePartialFile) {
    const std::string mountPoint = mountTmpfs("filling", "size=20m");
    if (mountPoint.empty()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    VhdxSpec spec;
    spec.virtualSize = 16 * kMiB;
    for (std::uint64_t b = 0; b < 16; ++b) spec.allocatedBlocks.insert(b);
    auto reader = open(spec);

    struct Filler final : StatusSink {
        std::string path;
        bool filled = false;
        void setStatus(const std::string&) override {
            if (filled) return;
            filled = true;
            HostFile file;
            const std::vector<char> block(1 << 16, 'f');
            if (file.create(path))
                while (file.write(block.data(), block.size())) {}
        }
    } filler;
    filler.path = mountPoint + "/filler";
    const std::string out = mountPoint + "/out.img";
    const ExportResult result =
        exportDiskImage(*reader, reader->totalSectors, out, {nullptr, &filler, &recorder}, {});
    EXPECT_EQ(result.outcome, ExportOutcome::WriteFailed);
    EXPECT_EQ(recorder.messages, (std::vector<std::string>{"Insufficient Disk Space in saving Location"}));
    EXPECT_EQ(result.bytesDone, kExportChunkSize);
    const auto written = testing::readFile(out);
    EXPECT_EQ(written.size(), kExportChunkSize);
    std::vector<std::uint8_t> expected(kExportChunkSize);
    reader->readAt(0, expected.data(), expected.size());
    EXPECT_TRUE(written == expected);
}

}  // namespace
}  // namespace halvard
