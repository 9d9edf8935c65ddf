#pragma once
// The raw recovery page's tree with check boxes behind the TreeControl seam, so the carving engine can fill it
// from its worker thread: every call is carried out on the user-interface thread while the caller waits.
#include <QPointer>
#include <QTreeWidget>
#include <unordered_map>

#include "common/tree_control.h"

namespace halvard::gui {

class RawResultTree final : public TreeControl {
public:
    explicit RawResultTree(QTreeWidget* widget) : widget_(widget) {}

    TreeItemId insertItem(TreeItemId parent, const std::string& text, TreeIcon icon,
                          TreeColour colour = TreeColour::Normal,
                          std::optional<std::uint64_t> data = std::nullopt) override;
    void deleteItem(TreeItemId item) override;
    void expandItem(TreeItemId item) override;
    TreeItemId parentOf(TreeItemId item) const override;
    TreeItemId firstChild(TreeItemId item) const override;
    TreeItemId nextSibling(TreeItemId item) const override;
    std::string itemText(TreeItemId item) const override;
    void setItemText(TreeItemId item, const std::string& text) override;
    TreeIcon itemIcon(TreeItemId item) const override;
    TreeColour itemColour(TreeItemId) const override { return TreeColour::Normal; }
    void setItemColour(TreeItemId, TreeColour) override {}
    std::optional<std::uint64_t> itemData(TreeItemId item) const override;
    CheckState checkState(TreeItemId item) const override;
    void setChecked(TreeItemId item, bool checked) override;

    // The id of a widget item, kNoTreeItem for one this tree did not insert (user-interface thread).
    TreeItemId idOf(const QTreeWidgetItem* item) const;
    QTreeWidgetItem* itemOf(TreeItemId id) const;

private:
    QPointer<QTreeWidget> widget_;
    std::unordered_map<TreeItemId, QTreeWidgetItem*> items_;
    TreeItemId nextId_ = 1;
};

}  // namespace halvard::gui
