#pragma once
#include <unordered_map>
#include <utility>
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
        Item(TreeItemId parent, std::string text, TreeIcon icon, TreeColour colour, std::optional<std::uint64_t> data)
            : parent(parent), text(std::move(text)), icon(icon), colour(colour), data(data) {}

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
    // One field of an item, or `fallback` when there is no such item.
    template <typename T>
    T fieldOf(TreeItemId item, T Item::*field, T fallback) const {
        const Item* it = find(item);
        return it ? it->*field : fallback;
    }
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
