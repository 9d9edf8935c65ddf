#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "browser/fake_view.h"
#include "cli/mount_tree.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

struct MountFixture {
    testing::FakeView view;
    EntryId docs = 0, live = 0, deletedTwin = 0, deletedOnly = 0, unsafe = 0, secondDocs = 0, inner = 0;

    MountFixture() {
        docs = view.add(kVolumeRoot, "Docs", true);
        live = view.add(docs, "report.txt", false, "live report");
        deletedTwin = view.add(docs, "report.txt", false, "old report", true);
        deletedOnly = view.add(docs, "gone.bin", false, "gone", true);
        unsafe = view.add(docs, "a/b\x01.txt", false, "unsafe");
        secondDocs = view.add(kVolumeRoot, "Docs", true, {}, true);
        inner = view.add(secondDocs, "inner.txt", false, "inner");
    }
};

std::vector<std::string> names(const std::vector<cli::MountChild>& children) {
    std::vector<std::string> out;
    for (const auto& c : children) out.push_back(c.name);
    return out;
}

// The mount names entries as a save names its files: safe host names, the second of one name numbered.
TEST(MountTree, NamesAreSafeUniqueAndDeletedOnesOnlyWhenAsked) {
    MountFixture f;
    cli::MountTree all(f.view, true);
    EXPECT_EQ(names(all.listing(kVolumeRoot)), (std::vector<std::string>{"Docs", "Docs (1)"}));
    EXPECT_EQ(names(all.listing(f.docs)),
              (std::vector<std::string>{"report.txt", "report (1).txt", "gone.bin", "a_b_.txt"}));
    EXPECT_EQ(all.resolve("/Docs/report (1).txt"), f.deletedTwin);
    EXPECT_EQ(all.resolve("/Docs (1)/inner.txt"), f.inner);
    EXPECT_EQ(all.resolve("//Docs//a_b_.txt"), f.unsafe);
    EXPECT_EQ(all.resolve("/"), kVolumeRoot);
    EXPECT_FALSE(all.resolve("/Docs/report.txt/below"));
    EXPECT_FALSE(all.resolve("/Docs/missing"));

    cli::MountTree liveOnly(f.view, false);
    EXPECT_EQ(names(liveOnly.listing(kVolumeRoot)), (std::vector<std::string>{"Docs"}));
    EXPECT_EQ(names(liveOnly.listing(f.docs)), (std::vector<std::string>{"report.txt", "a_b_.txt"}));
}

TEST(MountTree, ContentIsTheSavedFileAndDamageEndsInEio) {
    MountFixture f;
    f.view.entries[f.deletedTwin].damaged = true;
    cli::MountTree tree(f.view, true);
    char buffer[64] = {};

    ASSERT_EQ(tree.open(f.live), 0);
    EXPECT_EQ(tree.read(f.live, buffer, sizeof buffer, 5), 6);
    EXPECT_EQ(std::string(buffer, 6), "report");
    EXPECT_EQ(tree.read(f.live, buffer, sizeof buffer, 11), 0) << "a whole file ends in end of file";
    EXPECT_EQ(tree.attributes(f.live).st_size, 11);

    ASSERT_EQ(tree.open(f.deletedTwin), 0);
    EXPECT_EQ(tree.read(f.deletedTwin, buffer, sizeof buffer, 0), 10);
    EXPECT_EQ(tree.read(f.deletedTwin, buffer, sizeof buffer, 10), -EIO) << "a damaged file ends in EIO";

    // Opened twice, released twice: the content stays until the last release.
    ASSERT_EQ(tree.open(f.live), 0);
    tree.release(f.live);
    EXPECT_EQ(tree.read(f.live, buffer, 4, 0), 4);
    tree.release(f.live);
    EXPECT_EQ(tree.read(f.live, buffer, 4, 0), -EBADF);
    tree.release(f.deletedTwin);

    EXPECT_EQ(tree.open(f.docs), EISDIR);
    EXPECT_EQ(tree.open(kVolumeRoot), EISDIR);
}

TEST(MountTree, LinksAndFoldersShowTheirKindReadOnly) {
    MountFixture f;
    const EntryId link = f.view.add(f.docs, "shortcut", false);
    f.view.entries[link].target = "../report.txt";
    cli::MountTree tree(f.view, true);
    EXPECT_TRUE(S_ISLNK(tree.attributes(link).st_mode));
    EXPECT_EQ(tree.linkTarget(link), "../report.txt");
    EXPECT_TRUE(S_ISDIR(tree.attributes(f.docs).st_mode));
    EXPECT_TRUE(S_ISDIR(tree.attributes(kVolumeRoot).st_mode));
    EXPECT_EQ(tree.attributes(f.live).st_mode & 0222, 0u) << "nothing is writable";
}

// Device nodes, FIFOs and sockets are what they are, with no device number and nothing to open.
TEST(MountTree, DeviceNodesKeepTheirKind) {
    MountFixture f;
    const SpecialKind kinds[] = {SpecialKind::characterDevice, SpecialKind::blockDevice, SpecialKind::fifo,
                                 SpecialKind::socket};
    const mode_t types[] = {S_IFCHR, S_IFBLK, S_IFIFO, S_IFSOCK};
    for (int i = 0; i < 4; ++i) {
        const EntryId node = f.view.add(f.docs, "node" + std::to_string(i), false, "garbage");
        f.view.entries[node].special = kinds[i];
        cli::MountTree tree(f.view, true);
        const struct stat st = tree.attributes(node);
        EXPECT_EQ(st.st_mode & S_IFMT, types[i]);
        EXPECT_EQ(st.st_rdev, 0u);
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(tree.open(node), ENXIO);
        const std::vector<std::string> listed = names(tree.listing(f.docs));
        EXPECT_NE(std::find(listed.begin(), listed.end(), "node" + std::to_string(i)), listed.end());
    }
}

}  // namespace
}  // namespace halvard
