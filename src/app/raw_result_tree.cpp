#include "app/raw_result_tree.h"

namespace halvard::gui {

TreeItemId RawResultTree::insertItem(TreeItemId parent, const std::string& text, TreeIcon icon, TreeColour colour,
                                     std::optional<std::uint64_t> data) {
    return onUi(
        [&](QtTreeControl& tree) {
            // Read before the new item joins: once it does, a ticked parent counts it (unticked) among its children.
            QTreeWidgetItem* above = tree.itemOf(parent);
            const Qt::CheckState inherited = above ? above->checkState(0) : Qt::Unchecked;
            const TreeItemId id = tree.insertItem(parent, text, icon, colour, data);
            if (QTreeWidgetItem* item = tree.itemOf(id)) item->setCheckState(0, inherited);
            return id;
        },
        kNoTreeItem);
}

}  // namespace halvard::gui
