#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/cli.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

using testing::TempDir;
using testing::VhdxSpec;

struct CliRun {
    int status = -1;
    std::string out, err;
};

CliRun halvardCli(std::vector<std::string> args) {
    args.insert(args.begin(), "halvard");
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    CliRun run;
    run.status = cli::run(static_cast<int>(argv.size()), argv.data(), {out, err, false});
    run.out = out.str();
    run.err = err.str();
    return run;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        spec.virtualSize = 6 * 1024 * 1024;
        spec.allocatedBlocks = {0, 5};
        image = dir.file("disk.vhdx");
        testing::writeFile(image, testing::buildVhdx(spec));
    }
    TempDir dir;
    VhdxSpec spec;
    std::string image;
};

TEST_F(CliTest, InfoReportsTheGeometryAsJsonAndText) {
    CliRun run = halvardCli({"info", image, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["format"], "VHDX");
    EXPECT_EQ(j["version"], 1);
    EXPECT_EQ(j["virtual_size"], spec.virtualSize);
    EXPECT_EQ(j["block_size"], spec.blockSize);
    EXPECT_EQ(j["logical_sector_size"], 512);
    EXPECT_EQ(j["differencing"], false);
    EXPECT_EQ(j["allocated_blocks"], 2);

    run = halvardCli({"info", image});
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Virtual disk size:    6291456 bytes (6.00 MB, 6 MB)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Allocated blocks:     2 of 6"), std::string::npos) << run.out;
}

TEST_F(CliTest, BadInputGivesOneClearLineAndStatusTwo) {
    testing::writeFile(dir.file("empty.img"), {});
    testing::writeFile(dir.file("garbage.vhdx"), std::vector<std::uint8_t>(4096, 0x5A));
    auto cut = testing::buildVhdx(spec);
    cut.resize(70 * 1024);
    testing::writeFile(dir.file("cut.vhdx"), cut);
    VhdxSpec odd = spec;
    odd.blockSize = 1000;
    odd.allocatedBlocks.clear();
    testing::writeFile(dir.file("odd.vhdx"), testing::buildVhdx(odd));

    const std::vector<std::pair<std::string, std::string>> cases{
        {dir.file("missing.vhdx"), "No such file"},
        {dir.path(), "directory"},
        {dir.file("empty.img"), "empty"},
        {dir.file("garbage.vhdx"), "not a VHDX image"},
        {dir.file("cut.vhdx"), "Region entry corrupt"},
        {dir.file("odd.vhdx"), "block size"},
    };
    for (const auto& [path, text] : cases) {
        const CliRun run = halvardCli({"info", path});
        EXPECT_EQ(run.status, 2) << path;
        EXPECT_NE(run.err.find(text), std::string::npos) << path << ": " << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
}

TEST_F(CliTest, UsageErrorsGiveStatusOne) {
    EXPECT_EQ(halvardCli({}).status, 1);
    EXPECT_EQ(halvardCli({"info"}).status, 1);
    EXPECT_EQ(halvardCli({"frobnicate", image}).status, 1);
    EXPECT_EQ(halvardCli({"info", image, "--bogus"}).status, 1);
    const CliRun help = halvardCli({"export", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--force"), std::string::npos);
}

TEST_F(CliTest, ExportWritesTheDiskAndNeverReplacesWithoutBeingTold) {
    const std::string out = dir.file("out.img");
    CliRun run = halvardCli({"export", image, out});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testing::readFile(out), testing::expectedDisk(spec));

    run = halvardCli({"export", image, out});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("already exists"), std::string::npos);
    EXPECT_EQ(halvardCli({"export", image, out, "--force"}).status, 0);

    // The image itself is never a target, forced or not.
    const auto before = testing::readFile(image);
    run = halvardCli({"export", image, image, "--force"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(testing::readFile(image), before);

    // A folder as the target gets the numbered names.
    const std::string folder = dir.file("exports");
    std::filesystem::create_directory(folder);
    EXPECT_EQ(halvardCli({"export", image, folder}).status, 0);
    EXPECT_EQ(halvardCli({"export", image, folder}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(folder + "/disk.vhdx.img"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/1disk.vhdx.img"));
}

TEST_F(CliTest, ExportOfATruncatedImageSaysWhatIsMissing) {
    VhdxSpec cut = spec;
    cut.payloadPastEnd = 512 * 1024;
    testing::writeFile(image, testing::buildVhdx(cut));
    const CliRun run = halvardCli({"export", image, dir.file("out.img")});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("1024 sectors could not be read"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace halvard

#include "support/disk_builder.h"

namespace halvard {
namespace {

TEST(CliVolumes, ListsTablesAndFindsGptByItself) {
    testing::TempDir dir;
    const std::string image = dir.file("disk.raw");
    {
        testing::DiskBuilder d(image, 400000);
        d.putGpt({{"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", 2048, 206847, "Basic data partition"}});
        d.putSector(2048, testing::ntfsBootSector(204799));
        d.putSector(206847, testing::ntfsBootSector(204799));
    }
    CliRun run = halvardCli({"volumes", image, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("walking the GPT"), std::string::npos);
    const auto j = nlohmann::json::parse(run.out);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["volume"], 0);
    EXPECT_EQ(j[0]["file_system"], "NTFS");
    // The boot sector's 204,799 sectors and its backup: the partition's 100 MiB.
    EXPECT_EQ(j[0]["size_text"], "100   MB");
    EXPECT_EQ(j[0]["size_mib"], 100);
    EXPECT_EQ(j[0]["size_sectors"], 204800);
    EXPECT_EQ(j[0]["start_sector"], 2048);

    run = halvardCli({"volumes", image});
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("VOLUME   FILE_SYSTEM"), std::string::npos);
    EXPECT_NE(run.out.find("0        NTFS                           100   MB       2048"), std::string::npos)
        << run.out;

    // The whole-disk scan, with its range and without skipping.
    run = halvardCli({"volumes", image, "--advanced", "--no-skip", "--json"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(nlohmann::json::parse(run.out).size(), 2u);  // the boot sector and its backup
    // A range that starts inside the volume finds only its backup boot sector.
    run = halvardCli({"volumes", image, "--advanced", "--start", "4096", "--json"});
    const auto found = nlohmann::json::parse(run.out);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]["start_sector"], 206847);
    EXPECT_EQ(halvardCli({"volumes", image, "--start", "-5"}).status, 1);
}

TEST(CliVolumes, AnEmptyDiskSaysSo) {
    testing::TempDir dir;
    const std::string image = dir.file("blank.raw");
    { testing::DiskBuilder d(image, 4096); }
    const CliRun run = halvardCli({"volumes", image});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("no volumes found; try --advanced"), std::string::npos);
}

// A partition or a hand-made volume running past the disk's end is cut at it, and stderr says so; the size
// text has one form whatever found the volume.
TEST(CliVolumes, VolumesPastTheDiskEndAreCut) {
    testing::TempDir dir;
    const std::string image = dir.file("disk.raw");
    {
        testing::DiskBuilder d(image, 4096);
        d.putMbr(0, {{0x01, 2048, 0xFFFFFFFF}});
        d.putSector(2048, testing::fat16BootSector(2048, 2, "mkfs.fat"));
    }
    CliRun run = halvardCli({"volumes", image, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    auto j = nlohmann::json::parse(run.out);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["size_sectors"], 2048);
    EXPECT_EQ(j[0]["size_text"], "1   MB");
    EXPECT_NE(j[0].value("note", "").find("cut to 2048 sectors"), std::string::npos) << j[0];
    EXPECT_NE(run.err.find("note: volume 0 runs past the disk's end"), std::string::npos) << run.err;
    run = halvardCli({"volumes", image, "--advanced", "--json"});
    j = nlohmann::json::parse(run.out);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["size_text"], "1   MB");  // the same form for a FAT boot sector found by the scan

    run = halvardCli({"carve", image, "--volume", "custom:RAW:1024:2000000", "--out", dir.file("out")});
    EXPECT_NE(run.err.find("cut to 3072 sectors"), std::string::npos) << run.err;
    run = halvardCli({"carve", image, "--volume", "custom:RAW:4096:1", "--out", dir.file("out2")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("START is past the disk's end"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace halvard
