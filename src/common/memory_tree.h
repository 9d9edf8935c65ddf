#pragma once
#include <unordered_map>
#include <vector>

#include "common/tree_control.h"

namespace halvard {

// TreeControl kept in memory: the CLI's and the tests' tree.
class MemoryTree final : public TreeControl {
public:
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

    bool isExpanded(TreeItemId item) const;
    std::size_t size() const { return items_.size(); }

private:
    struct Item {
        TreeItemId parent = kNoTreeItem;
        std::string text;
        TreeIcon icon = TreeIcon::None;
        TreeColour colour = TreeColour::Normal;
        std::optional<std::uint64_t> data;
        CheckState check = CheckState::Unchecked;
        bool expanded = false;
        std::vector<TreeItemId> children;
    };

    const Item* find(TreeItemId item) const;
    Item* find(TreeItemId item);
    std::vector<TreeItemId>& childrenOf(TreeItemId parent);
    const std::vector<TreeItemId>* childrenOf(TreeItemId parent) const;
    void setSubtree(TreeItemId item, CheckState state);
    void updateAncestors(TreeItemId parent);

    std::unordered_map<TreeItemId, Item> items_;
    std::vector<TreeItemId> topLevel_;
    TreeItemId nextId_ = 1;
};

}  // namespace halvard
