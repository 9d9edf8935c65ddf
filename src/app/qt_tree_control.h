#pragma once
// The tree control over a QTreeWidget: every item has a check box with smart checking (Qt's auto-tristate: a
// folder follows its children, ticking it ticks its subtree), an icon by kind and a red text for deleted entries.
// User-interface thread only: the browser page hands the finished tree of a parse over to it (see BrowserPage).
#include <QTreeWidget>
#include <unordered_map>

#include "common/tree_control.h"

namespace halvard::gui {

// A QTreeWidget that tells a click on an item's label apart from one on its check box or expand button.
class BrowserTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit BrowserTree(QWidget* parent = nullptr);

signals:
    void labelClicked(QTreeWidgetItem* item);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class QtTreeControl final : public TreeControl {
public:
    explicit QtTreeControl(QTreeWidget& tree);

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
    TreeColour itemColour(TreeItemId item) const override;
    void setItemColour(TreeItemId item, TreeColour colour) override;
    std::optional<std::uint64_t> itemData(TreeItemId item) const override;

    CheckState checkState(TreeItemId item) const override;
    void setChecked(TreeItemId item, bool checked) override;

    // Between the widget's items and the ids the core uses.
    TreeItemId idOf(const QTreeWidgetItem* item) const;
    QTreeWidgetItem* itemOf(TreeItemId id) const;
    // Empties the widget.
    void clear();

private:
    void forget(QTreeWidgetItem* item);

    QTreeWidget& tree_;
    std::unordered_map<TreeItemId, QTreeWidgetItem*> items_;
    TreeItemId nextId_ = 1;
};

}  // namespace halvard::gui
