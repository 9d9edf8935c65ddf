#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/program_files.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

// A build folder keeps the shipped files beside the program, an installed system in PREFIX/share/halvard.
TEST(ProgramFiles, BesideTheProgramFirstThenTheInstalledShareFolder) {
    testing::TempDir dir;
    const std::filesystem::path prefix(dir.path());
    std::filesystem::create_directories(prefix / "bin");
    std::filesystem::create_directories(prefix / "share" / "halvard");
    const std::string bin = (prefix / "bin").string();

    EXPECT_EQ(programDataFileFrom(bin, "FileSetting.txt"), bin + "/FileSetting.txt") << "missing everywhere";
    std::ofstream(prefix / "share" / "halvard" / "FileSetting.txt") << "x";
    EXPECT_EQ(programDataFileFrom(bin, "FileSetting.txt"), (prefix / "share/halvard/FileSetting.txt").string());
    std::ofstream(prefix / "bin" / "FileSetting.txt") << "x";
    EXPECT_EQ(programDataFileFrom(bin, "FileSetting.txt"), bin + "/FileSetting.txt");
}

}  // namespace
}  // namespace halvard
