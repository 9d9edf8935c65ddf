#include <gtest/gtest.h>

#include "browser/browser_tree.h"
#include "browser/fake_view.h"
#include "common/memory_tree.h"

namespace halvard {
namespace {

using testing::FakeView;

struct Browsed {
    FakeView view;
    MemoryTree tree;
    TreeItemId root = kNoTreeItem;
    TreeItemId docsItem = kNoTreeItem;
    EntryId docs = 0;

    Browsed() {
        docs = view.add(kVolumeRoot, "Docs", true);
        view.add(docs, "gone.txt", false, "x", true);
        const EntryId sub = view.add(docs, "Sub", true);
        view.add(sub, "inner.txt", false);
        view.add(docs, "Empty", true);
        view.add(docs, "live.txt", false, "abc");
        root = tree.insertItem(kNoTreeItem, "ROOT", TreeIcon::Root);
        docsItem = tree.insertItem(root, "Docs", TreeIcon::Folder, TreeColour::Normal, docs);
        tree.insertItem(docsItem, kPlaceholderText, TreeIcon::Placeholder);
    }

    std::vector<std::string> childTexts(TreeItemId item) const {
        std::vector<std::string> texts;
        for (TreeItemId c = tree.firstChild(item); c != kNoTreeItem; c = tree.nextSibling(c))
            texts.push_back(tree.itemText(c));
        return texts;
    }
};

// However a folder is opened (expand button or label click), its deleted entries show red.
TEST(BrowserTree, FillingReplacesThePlaceholderOnceAndColoursDeletedEntries) {
    Browsed b;
    EXPECT_EQ(entryOfItem(b.tree, b.root), kVolumeRoot);
    EXPECT_FALSE(entryOfItem(b.tree, b.tree.firstChild(b.docsItem)));
    EXPECT_TRUE(childrenPending(b.tree, b.docsItem));
    ASSERT_TRUE(fillChildren(b.tree, b.view, b.docsItem));
    EXPECT_EQ(b.childTexts(b.docsItem), (std::vector<std::string>{"gone.txt", "Sub", "Empty", "live.txt"}));
    const TreeItemId gone = b.tree.firstChild(b.docsItem);
    EXPECT_EQ(b.tree.itemColour(gone), TreeColour::Deleted);
    const TreeItemId sub = b.tree.nextSibling(gone);
    EXPECT_EQ(b.tree.itemColour(sub), TreeColour::Normal);
    EXPECT_EQ(b.childTexts(sub), (std::vector<std::string>{kPlaceholderText}));  // has children of its own
    EXPECT_TRUE(b.childTexts(b.tree.nextSibling(sub)).empty());                  // "Empty" has none
    EXPECT_FALSE(fillChildren(b.tree, b.view, b.docsItem));                       // only once
    EXPECT_FALSE(fillChildren(b.tree, b.view, gone));                             // not a folder
}

// The top level the engine filled shows its deleted entries red too.
TEST(BrowserTree, TopLevelDeletedEntriesAreMarked) {
    Browsed b;
    const EntryId lost = b.view.add(kVolumeRoot, "lost.txt", false, "l", true);
    const TreeItemId lostItem = b.tree.insertItem(b.root, "lost.txt", TreeIcon::File, TreeColour::Normal, lost);
    markDeletedChildren(b.tree, b.view, b.root);
    EXPECT_EQ(b.tree.itemColour(lostItem), TreeColour::Deleted);
    EXPECT_EQ(b.tree.itemColour(b.docsItem), TreeColour::Normal);
}

TEST(BrowserTree, ChildrenTakeTheFolderTickAndRowsListOnlyFiles) {
    Browsed b;
    b.tree.setChecked(b.docsItem, true);
    fillChildren(b.tree, b.view, b.docsItem);
    EXPECT_EQ(b.tree.checkState(b.docsItem), CheckState::Checked);
    EXPECT_EQ(b.tree.checkState(b.tree.firstChild(b.docsItem)), CheckState::Checked);

    const std::vector<ListRow> rows = fileRows(b.tree, b.view, b.docsItem);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].columns[0], "gone.txt");
    EXPECT_TRUE(rows[0].deleted);
    EXPECT_EQ(rows[1].columns[4], "3 Bytes");
    EXPECT_EQ(b.tree.itemText(rows[1].item), "live.txt");
    // A file's own item lists that file alone.
    ASSERT_EQ(fileRows(b.tree, b.view, rows[1].item).size(), 1u);

    MemoryTree copy;
    copyTree(b.tree, copy);
    EXPECT_EQ(copy.size(), b.tree.size());
    EXPECT_EQ(copy.checkState(copy.firstChild(copy.firstChild(kNoTreeItem))), CheckState::Checked);
}

}  // namespace
}  // namespace halvard
