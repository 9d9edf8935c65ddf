#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/save_hashes.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// Names a volume may hold that a plain "HASH  NAME" line would break: the lists must still check with coreutils.
TEST(SaveHashes, ListsOfAwkwardNamesCheckWithCoreutils) {
    testing::TempDir dir;
    const std::filesystem::path out = std::filesystem::path(dir.path()) / "out";
    std::filesystem::create_directories(out / "sub folder");
    const std::vector<std::string> names = {"plain.txt", "sub folder/two  spaces.bin", "back\\slash.txt",
                                            "line\nbreak.txt", "carriage\rreturn.txt", " leading space"};
    for (std::size_t i = 0; i < names.size(); ++i) writeFile(out / names[i], std::string(i * 1000 + 1, 'a' + i));
    std::filesystem::create_symlink("plain.txt", out / "a link");

    cli::SaveHashes hashes;
    const std::string list = dir.file("sums");
    ASSERT_EQ(hashes.open(list, out.string()), "");
    for (const auto& name : names) EXPECT_EQ(hashes.add((out / name).string()), "") << name;
    EXPECT_EQ(hashes.add((out / "a link").string()), "");  // passed over
    EXPECT_NE(hashes.add((out / "missing").string()), "");
    ASSERT_EQ(hashes.finish(), "");

    std::ifstream sums(list);
    std::size_t lines = 0;
    for (std::string line; std::getline(sums, line);) ++lines;
    EXPECT_EQ(lines, names.size());
    const std::string check = "cd '" + out.string() + "' && sha256sum -c --strict --quiet '" + list +
                              "' && md5sum -c --strict --quiet '" + list + ".md5'";
    EXPECT_EQ(std::system(check.c_str()), 0);

    // A changed file no longer checks.
    writeFile(out / "line\nbreak.txt", "changed");
    EXPECT_NE(std::system((check + " 2>/dev/null >/dev/null").c_str()), 0);
}

TEST(SaveHashes, EscapesOnlyWhatTheCheckersUnescape) {
    EXPECT_EQ(cli::checksumLine("ab", "plain name.txt"), "ab  plain name.txt\n");
    EXPECT_EQ(cli::checksumLine("ab", "a\\b\nc\rd"), "\\ab  a\\\\b\\nc\\rd\n");
}

TEST(SaveHashes, AListThatCannotBeCreatedIsSaidAtOnce) {
    cli::SaveHashes hashes;
    EXPECT_NE(hashes.open("/nonexistent-folder/sums", "/tmp"), "");
}

}  // namespace
}  // namespace halvard
