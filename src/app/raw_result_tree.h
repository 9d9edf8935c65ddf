#pragma once
// The raw recovery page's tree with check boxes behind the TreeControl seam, so the carving engine can fill it
// from its worker thread: every call is carried out on the user-interface thread while the caller waits, by the
// same tree control the browser page uses. Once the widget is gone, calls do nothing and answer "no item".
#include <QPointer>
#include <QTreeWidget>
#include <type_traits>

#include "app/qt_tree_control.h"
#include "app/ui_thread.h"

namespace halvard::gui {

class RawResultTree final : public TreeControl {
public:
    explicit RawResultTree(QTreeWidget* widget) : widget_(widget), items_(*widget) {}

    // A result joins its category with the category's tick, so a ticked category still saves all it holds.
    TreeItemId insertItem(TreeItemId parent, const std::string& text, TreeIcon icon,
                          TreeColour colour = TreeColour::Normal,
                          std::optional<std::uint64_t> data = std::nullopt) override;
    void deleteItem(TreeItemId item) override {
        onUi([&](QtTreeControl& tree) { tree.deleteItem(item); });
    }
    void expandItem(TreeItemId item) override {
        onUi([&](QtTreeControl& tree) { tree.expandItem(item); });
    }
    TreeItemId parentOf(TreeItemId item) const override {
        return onUi([&](QtTreeControl& tree) { return tree.parentOf(item); }, kNoTreeItem);
    }
    TreeItemId firstChild(TreeItemId item) const override {
        return onUi([&](QtTreeControl& tree) { return tree.firstChild(item); }, kNoTreeItem);
    }
    TreeItemId nextSibling(TreeItemId item) const override {
        return onUi([&](QtTreeControl& tree) { return tree.nextSibling(item); }, kNoTreeItem);
    }
    std::string itemText(TreeItemId item) const override {
        return onUi([&](QtTreeControl& tree) { return tree.itemText(item); }, std::string());
    }
    void setItemText(TreeItemId item, const std::string& text) override {
        onUi([&](QtTreeControl& tree) { tree.setItemText(item, text); });
    }
    TreeIcon itemIcon(TreeItemId item) const override {
        return onUi([&](QtTreeControl& tree) { return tree.itemIcon(item); }, TreeIcon::None);
    }
    TreeColour itemColour(TreeItemId item) const override {
        return onUi([&](QtTreeControl& tree) { return tree.itemColour(item); }, TreeColour::Normal);
    }
    void setItemColour(TreeItemId item, TreeColour colour) override {
        onUi([&](QtTreeControl& tree) { tree.setItemColour(item, colour); });
    }
    std::optional<std::uint64_t> itemData(TreeItemId item) const override {
        return onUi([&](QtTreeControl& tree) { return tree.itemData(item); }, std::optional<std::uint64_t>());
    }
    CheckState checkState(TreeItemId item) const override {
        return onUi([&](QtTreeControl& tree) { return tree.checkState(item); }, CheckState::Unchecked);
    }
    void setChecked(TreeItemId item, bool checked) override {
        onUi([&](QtTreeControl& tree) { tree.setChecked(item, checked); });
    }

    // The id of a widget item, kNoTreeItem for one this tree did not insert (user-interface thread).
    TreeItemId idOf(const QTreeWidgetItem* item) const { return items_.idOf(item); }
    QTreeWidgetItem* itemOf(TreeItemId id) const { return items_.itemOf(id); }

private:
    // Runs `work` on the tree control on the user-interface thread, unless the widget has been deleted.
    template <typename Work>
    void onUi(Work work) const {
        runOnUiThread([&] {
            if (widget_) work(items_);
        });
    }
    // The same for a question: its answer, or `fallback` without the widget.
    template <typename Work, typename Answer = std::invoke_result_t<Work, QtTreeControl&>>
    Answer onUi(Work work, Answer fallback) const {
        runOnUiThread([&] {
            if (widget_) fallback = work(items_);
        });
        return fallback;
    }

    QPointer<QTreeWidget> widget_;
    mutable QtTreeControl items_;
};

}  // namespace halvard::gui
