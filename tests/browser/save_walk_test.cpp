#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "browser/entry_walk.h"
#include "browser/save_walk.h"
#include "browser/fake_view.h"
#include "support/status_log.h"
#include "support/vhdx_builder.h"

namespace halvard {
namespace {

namespace fs = std::filesystem;
using testing::FakeView;
using testing::StatusLog;

std::string slurp(const std::string& path) {
    const auto bytes = testing::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(SaveWalk, RecreatesTheFolderTreeAndWritesEveryFile) {
    FakeView view;
    const EntryId docs = view.add(kVolumeRoot, "Docs", true);
    view.add(docs, "a.txt", false, "alpha");
    const EntryId deep = view.add(docs, "Deep", true);
    view.add(deep, "b.bin", false, std::string(5000, 'b'));
    view.add(docs, "Empty", true);
    view.add(docs, "$BadClus", false, "never");
    view.add(docs, ".", true);  // a self link some volumes carry
    EXPECT_EQ(countFiles(view, docs), 3u);

    testing::TempDir out;
    StatusLog status, size;
    SaveReporting reporting;
    reporting.reporting = {&status, &status, nullptr};
    reporting.fileSizeLine = &size;
    const SaveSummary summary = saveFolder(view, docs, out.path(), reporting);
    EXPECT_EQ(summary.files, 2u);
    EXPECT_EQ(summary.skipped, 1u);
    EXPECT_EQ(summary.folders, 2u);
    EXPECT_EQ(summary.bytes, 5005u);
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_EQ(slurp(out.file("a.txt")), "alpha");
    EXPECT_EQ(slurp(out.file("Deep/b.bin")), std::string(5000, 'b'));
    EXPECT_TRUE(fs::is_directory(out.file("Empty")));
    EXPECT_FALSE(fs::exists(out.file("$BadClus")));
    EXPECT_EQ(status.texts.front(), "saving File  " + out.file("a.txt"));
    // The size in whole KiB, as the engines other than NTFS show it (NTFS shows its size text).
    EXPECT_EQ(size.texts.front(), "File size: 0 kb");
    EXPECT_NE(std::find(size.texts.begin(), size.texts.end(), "File size: 4 kb"), size.texts.end());
    EXPECT_EQ(size.texts.back(), "");
}

// Folders keep the time their entry lists, set after their contents are written; one without a time keeps the
// time of the save.
TEST(SaveWalk, FoldersKeepTheirTimes) {
    FakeView view;
    const EntryId work = view.add(kVolumeRoot, "Work", true);
    view.entries[work].modified = CalendarTime{2021, 6, 15, 12, 30, 0};
    const EntryId inner = view.add(work, "Inner", true);
    view.entries[inner].modified = CalendarTime{2019, 1, 2, 3, 4, 5};
    view.add(inner, "c.txt", false, "c");
    view.add(work, "Plain", true);
    testing::TempDir out;
    const SaveSummary summary = saveFolder(view, kVolumeRoot, out.path());
    EXPECT_EQ(summary.files, 1u);
    auto mtime = [&](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(out.file(path).c_str(), &st), 0) << path;
        return static_cast<std::int64_t>(st.st_mtime);
    };
    EXPECT_EQ(mtime("Work"), localUnixSeconds(CalendarTime{2021, 6, 15, 12, 30, 0}));
    EXPECT_EQ(mtime("Work/Inner"), localUnixSeconds(CalendarTime{2019, 1, 2, 3, 4, 5}));
    EXPECT_GT(mtime("Work/Plain"), mtime("Work"));
    EXPECT_EQ(timeText(localCalendarTime(mtime("Work"))), "06/15/2021  12:30 PM");
}

TEST(SaveWalk, NamesFromTheImageStayInsideTheOutputFolder) {
    FakeView view;
    const EntryId root = view.add(kVolumeRoot, "r", true);
    view.add(root, "../escape.txt", false, "1");
    view.add(root, "..", false, "2");
    view.add(root, "a\x01" "b", false, "3");
    const EntryId sneaky = view.add(root, "..", true);
    view.add(sneaky, "inner.txt", false, "4");
    const EntryId unnamed = view.add(root, "", true);
    view.add(unnamed, "lands-in-parent.txt", false, "5");
    testing::TempDir out;
    const std::string target = out.file("target");
    fs::create_directory(target);
    const SaveSummary summary = saveFolder(view, root, target);
    EXPECT_EQ(summary.files, 5u);
    for (const std::string& path : view.savedPaths) EXPECT_EQ(path.rfind(target + "/", 0), 0u) << path;
    EXPECT_EQ(slurp(target + "/.._escape.txt"), "1");
    EXPECT_EQ(slurp(target + "/_.."), "2");
    EXPECT_EQ(slurp(target + "/a_b"), "3");
    EXPECT_EQ(slurp(target + "/_.. (1)/inner.txt"), "4");  // the file "_.." is in the way
    EXPECT_EQ(slurp(target + "/lands-in-parent.txt"), "5");
    EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 1);
}

TEST(SaveWalk, HostileNamesGetSafeNamesListedInTheSummary) {
    FakeView view;
    const EntryId root = view.add(kVolumeRoot, "r", true);
    view.add(root, "..\\..\\win.ini", false, "1");
    view.add(root, std::string("nul\0inside", 10), false, "2");
    const std::string longName = std::string(300, 'n') + ".txt";
    view.add(root, longName, false, "3");
    view.add(root, longName, false, "4");  // the numbered second name must fit as well
    view.add(root, "plain.txt", false, "5");
    const EntryId folder = view.add(root, "a/b", true);
    view.add(folder, "c", false, "6");
    testing::TempDir out;
    const SaveSummary summary = saveFolder(view, root, out.path());
    EXPECT_EQ(summary.files, 6u);
    EXPECT_TRUE(summary.failures.empty());
    EXPECT_EQ(slurp(out.file(".._.._win.ini")), "1");
    EXPECT_EQ(slurp(out.file("nul_inside")), "2");
    const std::string shortened = std::string(251, 'n') + ".txt";
    const std::string numbered = std::string(247, 'n') + " (1).txt";
    EXPECT_EQ(slurp(out.file(shortened)), "3");
    EXPECT_EQ(slurp(out.file(numbered)), "4");
    EXPECT_EQ(slurp(out.file("a_b/c")), "6");
    for (const auto& item : fs::recursive_directory_iterator(out.path()))
        EXPECT_LE(item.path().filename().string().size(), 255u);

    // Everything but "plain.txt" and "c" went under another name, and the summary says so.
    ASSERT_EQ(summary.renamed.size(), 5u);
    EXPECT_EQ(summary.renamed[0], "..\\..\\win.ini -> " + out.file(".._.._win.ini"));
    EXPECT_EQ(summary.renamed[1], "nul\\x00inside -> " + out.file("nul_inside"));
    EXPECT_EQ(summary.renamed[3], longName + " -> " + out.file(numbered));
    EXPECT_EQ(summary.renamed[4], "a/b -> " + out.file("a_b"));
}

TEST(SaveWalk, SameNamesDoNotOverwriteEachOther) {
    FakeView view;
    const EntryId root = view.add(kVolumeRoot, "r", true);
    view.add(root, "report.doc", false, "live");
    view.add(root, "report.doc", false, "deleted", true);
    view.add(root, "README", false, "x");
    view.add(root, "README", false, "y");
    const EntryId a = view.add(root, "Sub", true);
    const EntryId b = view.add(root, "Sub", true);  // two folders of one name are merged
    view.add(a, "1", false, "one");
    view.add(b, "2", false, "two");
    testing::TempDir out;
    const SaveSummary summary = saveFolder(view, root, out.path());
    EXPECT_EQ(summary.files, 6u);
    EXPECT_EQ(slurp(out.file("report.doc")), "live");
    EXPECT_EQ(slurp(out.file("report (1).doc")), "deleted");
    EXPECT_EQ(slurp(out.file("README (1)")), "y");
    EXPECT_EQ(slurp(out.file("Sub/1")), "one");
    EXPECT_EQ(slurp(out.file("Sub/2")), "two");
}

TEST(SaveWalk, StopEndsTheWalkAndCyclesEndOnTheirOwn) {
    FakeView view;
    const EntryId root = view.add(kVolumeRoot, "r", true);
    for (int i = 0; i < 10; ++i) view.add(root, "f" + std::to_string(i), false, "x");
    StopFlag stop{1};
    testing::TempDir out;
    SaveSummary summary = saveFolder(view, root, out.path(), {}, StopPoll(&stop, nullptr));
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.files, 0u);

    // A folder that lists itself as its own child, as a damaged volume can.
    const EntryId loop = view.add(root, "loop", true);
    view.entries[loop].children.push_back(loop);
    summary = saveFolder(view, root, out.path());
    EXPECT_EQ(summary.files, 10u);
    EXPECT_FALSE(summary.stopped);
}

TEST(SaveWalk, AFullDiskStopsTheWalkAndSaysSo) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a small tmpfs";
    testing::TempDir out;
    const std::string small = out.file("small");
    fs::create_directory(small);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "tmpfs mount refused";
    FakeView view;
    const EntryId root = view.add(kVolumeRoot, "r", true);
    for (int i = 0; i < 8; ++i) view.add(root, "big" + std::to_string(i), false, std::string(20000, 'z'));
    const SaveSummary summary = saveFolder(view, root, small);
    ::umount(small.c_str());
    EXPECT_TRUE(summary.diskFull);
    EXPECT_LT(summary.files, 8u);
    EXPECT_FALSE(summary.failures.empty());
}

// What the volume no longer holds, and what has no content, are counted apart from the failures: a script reads
// the failures as what this save could have written and did not.
TEST(SaveWalk, LostFilesAndDeviceNodesAreCountedNotFailed) {
    testing::TempDir out;
    FakeView view;
    const EntryId root = view.add(kVolumeRoot, "r", true);
    view.add(root, "kept.txt", false, "kept");
    const EntryId lost = view.add(root, "lost.txt", false, {}, true);
    view.entries[lost].lost = "not recoverable: its blocks are not known";
    const EntryId fifo = view.add(root, "pipe", false);
    view.entries[fifo].special = SpecialKind::fifo;
    const SaveSummary summary = saveFolder(view, root, out.path());
    EXPECT_EQ(summary.files, 1u);
    EXPECT_TRUE(summary.failures.empty());
    ASSERT_EQ(summary.unrecoverable.size(), 1u);
    EXPECT_EQ(summary.unrecoverable[0], out.file("lost.txt") + ": not recoverable: its blocks are not known");
    EXPECT_FALSE(fs::exists(out.file("lost.txt")));
    EXPECT_EQ(summary.skipped, 1u);
    ASSERT_EQ(summary.skipNotes.size(), 1u);
    EXPECT_EQ(summary.skipNotes[0], out.file("pipe") + ": a FIFO");
    EXPECT_FALSE(fs::exists(out.file("pipe")));
}

TEST(EntryWalk, PathsPreferLiveEntriesAndWalkDepthFirst) {
    FakeView view;
    const EntryId docs = view.add(kVolumeRoot, "Docs", true);
    view.add(docs, "x.txt", false, "old", true);
    const EntryId live = view.add(docs, "x.txt", false, "new");
    const EntryId sub = view.add(docs, "Sub", true);
    view.add(sub, "y", false, "y");
    EXPECT_EQ(findEntry(view, "/"), kVolumeRoot);
    EXPECT_EQ(findEntry(view, ""), kVolumeRoot);
    EXPECT_EQ(findEntry(view, "/Docs/x.txt"), live);
    EXPECT_EQ(findEntry(view, "Docs//Sub/"), sub);
    EXPECT_EQ(findEntry(view, "/Docs/x.txt/more"), std::nullopt);
    EXPECT_EQ(findEntry(view, "/Nope"), std::nullopt);

    std::vector<std::string> paths;
    visitEntries(view, kVolumeRoot, "/", true, [&](const std::string& p, EntryId) {
        paths.push_back(p);
        return true;
    });
    EXPECT_EQ(paths, (std::vector<std::string>{"/Docs", "/Docs/x.txt", "/Docs/x.txt", "/Docs/Sub", "/Docs/Sub/y"}));
    paths.clear();
    visitEntries(view, docs, "/Docs", false, [&](const std::string& p, EntryId) {
        paths.push_back(p);
        return paths.size() < 2;
    });
    EXPECT_EQ(paths.size(), 2u);
}

}  // namespace
}  // namespace halvard
