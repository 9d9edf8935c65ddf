#include "browser/placeholder_pass.h"

namespace halvard {

void insertPlaceholders(TreeControl& tree, TreeItemId topItem, const VolumeView& view) {
    for (TreeItemId item = tree.firstChild(topItem); item != kNoTreeItem; item = tree.nextSibling(item)) {
        const auto data = tree.itemData(item);
        if (data && view.isFolder(*data) && view.hasChildren(*data))
            tree.insertItem(item, kPlaceholderText, TreeIcon::Placeholder);
    }
}

}  // namespace halvard
