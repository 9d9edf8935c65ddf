#include <gtest/gtest.h>

#include <filesystem>

#include "browser/fake_view.h"
#include "browser/recycle_bin.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

using testing::FakeView;

// An "$I" file: version, size, deletion time, then (version 2) the path length, then the UTF-16 path.
std::string infoFile(int version, const std::u16string& path) {
    std::string bytes(24, '\0');
    bytes[0] = static_cast<char>(version);
    if (version == 2) {
        bytes.append(4, '\0');
        bytes[24] = static_cast<char>(path.size() + 1);
    }
    for (char16_t unit : path + u'\0') {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

TEST(RecycleBin, ReadsBothLayoutsOfTheInformationFile) {
    EXPECT_EQ(formerNameFromInfoFile(bytesOf(infoFile(1, u"C:\\Users\\me\\plan.docx"))), "plan.docx");
    EXPECT_EQ(formerNameFromInfoFile(bytesOf(infoFile(2, u"D:\\Fotos\\Ærø.jpg"))), "Ærø.jpg");
    EXPECT_EQ(formerNameFromInfoFile(bytesOf(infoFile(1, u"noslash"))), "noslash");
    EXPECT_FALSE(formerNameFromInfoFile(bytesOf(infoFile(1, u"C:\\dir\\"))));
    EXPECT_FALSE(formerNameFromInfoFile(std::vector<std::uint8_t>(2048, 'a')));
    EXPECT_FALSE(formerNameFromInfoFile({}));
}

TEST(RecycleBin, RenamesRecycledFilesOnlyInTheExactlyNamedBin) {
    testing::TempDir scratch;
    FakeView view;
    const EntryId bin = view.add(kVolumeRoot, "$RECYCLE.BIN", true);
    const EntryId user = view.add(bin, "S-1-5-21", true);
    view.add(user, "$IAB12.txt", false, infoFile(2, u"C:\\docs\\letter.txt"));
    const EntryId recycled = view.add(user, "$RAB12.txt", false, "content");
    const EntryId lonely = view.add(user, "$RZZ99.txt", false, "no info file");
    view.add(user, "$IBIG.txt", false, infoFile(1, u"C:\\" + std::u16string(1100, u'x')));  // over 2047 bytes
    const EntryId big = view.add(user, "$RBIG.txt", false);
    const EntryId lower = view.add(kVolumeRoot, "$recycle.bin", true);
    const EntryId otherUser = view.add(lower, "S-1-5-22", true);
    view.add(otherUser, "$IAB12.txt", false, infoFile(1, u"C:\\x.txt"));
    const EntryId untouched = view.add(otherUser, "$RAB12.txt", false);

    EXPECT_EQ(renameRecycledFiles(view, scratch.path()), 1u);
    EXPECT_EQ(view.name(recycled), "letter.txt");
    EXPECT_EQ(view.name(lonely), "$RZZ99.txt");
    EXPECT_EQ(view.name(big), "$RBIG.txt");
    EXPECT_EQ(view.name(untouched), "$RAB12.txt");
    EXPECT_TRUE(std::filesystem::is_empty(scratch.path()));  // the read copies are gone
}

}  // namespace
}  // namespace halvard
