#include <gtest/gtest.h>

#include "browser/fake_view.h"
#include "browser/search.h"

namespace halvard {
namespace {

using testing::FakeView;

struct Found {
    std::vector<std::string> paths;
    std::vector<bool> walks;
    SearchOutcome outcome;
};

Found run(const FakeView& view, const std::string& pattern, const StopPoll& stop = {}) {
    Found found;
    SearchHooks hooks;
    hooks.found = [&](const std::string& path, EntryId) { found.paths.push_back(path); };
    hooks.folderWalk = [&](bool walking) { found.walks.push_back(walking); };
    found.outcome = searchVolume(view, pattern, SearchPathStyle{}, hooks, stop);
    return found;
}

FakeView sampleVolume() {
    FakeView view;
    const EntryId docs = view.add(kVolumeRoot, "Docs", true);
    view.add(docs, "Report.TXT", false);
    const EntryId photos = view.add(docs, "photos", true);  // a folder that matches is no result
    view.add(photos, "beach.jpg", false, "", true);          // deleted files are found like the others
    view.add(photos, "beach.png", false);
    view.add(docs, ".", true);                                // never walked
    view.add(kVolumeRoot, "readme.txt", false);
    view.add(kVolumeRoot, "txt-empty", true);                 // an empty top-level folder is matched by name
    return view;
}

TEST(Search, FindsEveryAlternativeIgnoringCaseWithPathsFromTheTopItem) {
    const Found found = run(sampleVolume(), "TXT|JPG");
    EXPECT_EQ(found.paths, (std::vector<std::string>{"ROOT\\Docs\\Report.TXT", "ROOT\\Docs\\photos\\beach.jpg",
                                                     "ROOT\\readme.txt", "ROOT\\txt-empty"}));
    EXPECT_EQ(found.outcome.found, 4u);
    EXPECT_EQ(found.walks, (std::vector<bool>{true, false}));  // the tree greys for the one folder with children
    EXPECT_TRUE(run(sampleVolume(), "PHOTOS").paths.empty());
}

TEST(Search, BadAndEmptyPatternsAndStop) {
    for (const char* bad : {"*", "(", "[a"}) {
        const Found found = run(sampleVolume(), bad);
        EXPECT_TRUE(found.outcome.patternRefused) << bad;
        EXPECT_TRUE(found.paths.empty());
    }
    const Found empty = run(sampleVolume(), "");
    EXPECT_FALSE(empty.outcome.patternRefused);
    EXPECT_TRUE(empty.paths.empty());

    StopFlag flag{1};
    const Found stopped = run(sampleVolume(), "txt", StopPoll(&flag, nullptr));
    EXPECT_TRUE(stopped.outcome.stopped);
    EXPECT_TRUE(stopped.paths.empty());
}

TEST(Search, CommandLineStyleAndFoldersLinkedIntoACycle) {
    FakeView view;
    const EntryId a = view.add(kVolumeRoot, "a", true);
    const EntryId b = view.add(a, "b", true);
    view.add(b, "x.log", false);
    view.entries[b].children.push_back(a);  // damaged: b lists its own parent
    std::vector<std::string> paths;
    SearchHooks hooks;
    hooks.found = [&](const std::string& path, EntryId) { paths.push_back(path); };
    searchVolume(view, "LOG", SearchPathStyle{"", '/'}, hooks);
    EXPECT_EQ(paths, (std::vector<std::string>{"/a/b/x.log"}));
}

}  // namespace
}  // namespace halvard
