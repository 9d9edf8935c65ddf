#include "app/raw_result_tree.h"

namespace halvard::gui {

TreeItemId RawResultTree::insertItem(TreeItemId parent, const std::string& text, TreeIcon icon, TreeColour colour,
                                     std::optional<std::uint64_t> data) {
    return onUi(
        [&](QtTreeControl& tree) {
            const TreeItemId id = tree.insertItem(parent, text, icon, colour, data);
            QTreeWidgetItem* above = tree.itemOf(parent);
            if (QTreeWidgetItem* item = tree.itemOf(id); item && above) item->setCheckState(0, above->checkState(0));
            return id;
        },
        kNoTreeItem);
}

}  // namespace halvard::gui
