#pragma once
// The browser's tree and file list, apart from any window: which entry an item stands for, the lazy filling of a
// folder's children in place of its "..DUMY.." placeholder, and the rows of the file list.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "browser/volume_view.h"
#include "common/tree_control.h"

namespace halvard {

// The entry an item stands for: its data, or kVolumeRoot for the volume's top item. Null for the placeholder.
std::optional<EntryId> entryOfItem(const TreeControl& tree, TreeItemId item);

// Whether a folder item still waits for its children: its first child is the placeholder, or it has none.
bool childrenPending(const TreeControl& tree, TreeItemId item);

// Puts the folder's real children under `item` in place of its placeholder, in the engine's order: folders with
// the folder icon (and a placeholder when they have children themselves), files with the file icon, each with its
// entry as data and the folder's check state, deleted ones in red however the folder was opened. False (nothing
// changed) when the item is no folder entry or its children are already there.
bool fillChildren(TreeControl& tree, const VolumeView& view, TreeItemId item);

// Shows the deleted entries among the items below `item` (the top level the engine filled) in red.
void markDeletedChildren(TreeControl& tree, const VolumeView& view, TreeItemId item);

// One row of the file list: name (or path), creation, access and modification time, size, attributes.
struct ListRow {
    std::array<std::string, 6> columns;
    EntryId entry = 0;
    TreeItemId item = kNoTreeItem;  // the tree item it came from; kNoTreeItem for a search result
    bool deleted = false;
};

ListRow listRow(const VolumeView& view, EntryId entry, const std::string& firstColumn);

// The rows of the files among an item's children in the tree (for a file item: that file's own row).
std::vector<ListRow> fileRows(const TreeControl& tree, const VolumeView& view, TreeItemId item);

// Copies the whole of `from` into `to` (appended at its top level): texts, icons, colours, data, check states.
void copyTree(const TreeControl& from, TreeControl& to);

}  // namespace halvard
