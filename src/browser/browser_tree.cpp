#include "browser/browser_tree.h"

#include "browser/entry_walk.h"

namespace halvard {

std::optional<EntryId> entryOfItem(const TreeControl& tree, TreeItemId item) {
    if (item == kNoTreeItem) return std::nullopt;
    if (auto data = tree.itemData(item)) return *data;
    if (tree.itemIcon(item) == TreeIcon::Root) return kVolumeRoot;
    return std::nullopt;
}

bool childrenPending(const TreeControl& tree, TreeItemId item) {
    const TreeItemId first = tree.firstChild(item);
    return first == kNoTreeItem || (tree.itemIcon(first) == TreeIcon::Placeholder && !tree.itemData(first));
}

bool fillChildren(TreeControl& tree, const VolumeView& view, TreeItemId item) {
    const auto folder = entryOfItem(tree, item);
    if (!folder || !isFolderEntry(view, *folder) || !childrenPending(tree, item)) return false;
    // Read before the placeholder goes: a ticked folder with its placeholder gone has no children to show it.
    const bool ticked = tree.checkState(item) == CheckState::Checked;
    const bool folderDeleted = tree.itemColour(item) == TreeColour::Deleted;
    if (const TreeItemId placeholder = tree.firstChild(item); placeholder != kNoTreeItem) tree.deleteItem(placeholder);
    for (EntryId child : childrenOf(view, *folder)) {
        const bool isFolder = view.isFolder(child);
        const TreeColour colour = view.shownDeleted(child, folderDeleted) ? TreeColour::Deleted : TreeColour::Normal;
        const TreeItemId added =
            tree.insertItem(item, view.name(child), isFolder ? TreeIcon::Folder : TreeIcon::File, colour, child);
        if (isFolder && view.hasChildren(child)) tree.insertItem(added, kPlaceholderText, TreeIcon::Placeholder);
    }
    if (ticked) tree.setChecked(item, true);
    return true;
}

void markDeletedChildren(TreeControl& tree, const VolumeView& view, TreeItemId item) {
    const bool folderDeleted = item != kNoTreeItem && tree.itemColour(item) == TreeColour::Deleted;
    for (TreeItemId child = tree.firstChild(item); child != kNoTreeItem; child = tree.nextSibling(child)) {
        const auto data = tree.itemData(child);
        if (data && tree.itemColour(child) != TreeColour::Deleted && view.shownDeleted(*data, folderDeleted))
            tree.setItemColour(child, TreeColour::Deleted);
    }
}

ListRow listRow(const VolumeView& view, EntryId entry, const std::string& firstColumn) {
    const EntryDetails d = view.details(entry);
    auto time = [](const std::optional<CalendarTime>& t) { return t ? timeText(*t) : std::string(); };
    ListRow row;
    row.columns = {firstColumn, time(d.created), time(d.accessed), time(d.modified), d.sizeText, d.attributes};
    row.entry = entry;
    row.deleted = d.deleted;
    return row;
}

std::vector<ListRow> fileRows(const TreeControl& tree, const VolumeView& view, TreeItemId item) {
    std::vector<ListRow> rows;
    const auto entry = entryOfItem(tree, item);
    if (!entry) return rows;
    auto add = [&](TreeItemId fileItem, EntryId file) {
        rows.push_back(listRow(view, file, tree.itemText(fileItem)));
        rows.back().item = fileItem;
    };
    if (!isFolderEntry(view, *entry)) {
        add(item, *entry);
        return rows;
    }
    for (TreeItemId child = tree.firstChild(item); child != kNoTreeItem; child = tree.nextSibling(child)) {
        const auto childEntry = tree.itemData(child);
        if (childEntry && !view.isFolder(*childEntry)) add(child, *childEntry);
    }
    return rows;
}

namespace {

void copyChildren(const TreeControl& from, TreeItemId fromParent, TreeControl& to, TreeItemId toParent) {
    for (TreeItemId item = from.firstChild(fromParent); item != kNoTreeItem; item = from.nextSibling(item)) {
        const TreeItemId copy =
            to.insertItem(toParent, from.itemText(item), from.itemIcon(item), from.itemColour(item), from.itemData(item));
        copyChildren(from, item, to, copy);
        if (from.firstChild(item) == kNoTreeItem && from.checkState(item) == CheckState::Checked)
            to.setChecked(copy, true);
    }
}

}  // namespace

void copyTree(const TreeControl& from, TreeControl& to) { copyChildren(from, kNoTreeItem, to, kNoTreeItem); }

}  // namespace halvard
