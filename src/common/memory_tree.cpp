#include "common/memory_tree.h"

#include <algorithm>

namespace halvard {

const MemoryTree::Item* MemoryTree::find(TreeItemId item) const {
    auto it = items_.find(item);
    return it == items_.end() ? nullptr : &it->second;
}

MemoryTree::Item* MemoryTree::find(TreeItemId item) {
    auto it = items_.find(item);
    return it == items_.end() ? nullptr : &it->second;
}

std::vector<TreeItemId>& MemoryTree::childrenOf(TreeItemId parent) {
    if (parent == kNoTreeItem) return topLevel_;
    return items_.at(parent).children;
}

const std::vector<TreeItemId>* MemoryTree::childrenOf(TreeItemId parent) const {
    if (parent == kNoTreeItem) return &topLevel_;
    const Item* p = find(parent);
    return p ? &p->children : nullptr;
}

TreeItemId MemoryTree::insertItem(TreeItemId parent, const std::string& text, TreeIcon icon, TreeColour colour,
                                  std::optional<std::uint64_t> data) {
    if (parent != kNoTreeItem && !find(parent)) return kNoTreeItem;
    const TreeItemId id = nextId_++;
    items_.emplace(id, Item(parent, text, icon, colour, data));
    childrenOf(parent).push_back(id);
    updateAncestors(parent);
    return id;
}

void MemoryTree::deleteItem(TreeItemId item) {
    Item* it = find(item);
    if (!it) return;
    const TreeItemId parent = it->parent;
    std::vector<TreeItemId> pending{item};
    while (!pending.empty()) {
        const TreeItemId current = pending.back();
        pending.pop_back();
        auto node = items_.find(current);
        if (node == items_.end()) continue;
        pending.insert(pending.end(), node->second.children.begin(), node->second.children.end());
        items_.erase(node);
    }
    auto& siblings = childrenOf(parent);
    siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
    updateAncestors(parent);
}

void MemoryTree::expandItem(TreeItemId item) {
    if (Item* it = find(item)) it->expanded = true;
}

bool MemoryTree::isExpanded(TreeItemId item) const { return fieldOf(item, &Item::expanded, false); }

TreeItemId MemoryTree::parentOf(TreeItemId item) const { return fieldOf(item, &Item::parent, kNoTreeItem); }

TreeItemId MemoryTree::firstChild(TreeItemId item) const {
    const auto* children = childrenOf(item);
    return children && !children->empty() ? children->front() : kNoTreeItem;
}

TreeItemId MemoryTree::nextSibling(TreeItemId item) const {
    const Item* it = find(item);
    if (!it) return kNoTreeItem;
    const auto* siblings = childrenOf(it->parent);
    auto pos = std::find(siblings->begin(), siblings->end(), item);
    if (pos == siblings->end() || ++pos == siblings->end()) return kNoTreeItem;
    return *pos;
}

std::string MemoryTree::itemText(TreeItemId item) const { return fieldOf(item, &Item::text, std::string()); }

void MemoryTree::setItemText(TreeItemId item, const std::string& text) {
    if (Item* it = find(item)) it->text = text;
}

TreeIcon MemoryTree::itemIcon(TreeItemId item) const { return fieldOf(item, &Item::icon, TreeIcon::None); }

TreeColour MemoryTree::itemColour(TreeItemId item) const { return fieldOf(item, &Item::colour, TreeColour::Normal); }

void MemoryTree::setItemColour(TreeItemId item, TreeColour colour) {
    if (Item* it = find(item)) it->colour = colour;
}

std::optional<std::uint64_t> MemoryTree::itemData(TreeItemId item) const {
    return fieldOf(item, &Item::data, std::optional<std::uint64_t>());
}

CheckState MemoryTree::checkState(TreeItemId item) const { return fieldOf(item, &Item::check, CheckState::Unchecked); }

void MemoryTree::setChecked(TreeItemId item, bool checked) {
    Item* it = find(item);
    if (!it) return;
    setSubtree(item, checked ? CheckState::Checked : CheckState::Unchecked);
    updateAncestors(it->parent);
}

void MemoryTree::setSubtree(TreeItemId item, CheckState state) {
    std::vector<TreeItemId> pending{item};
    while (!pending.empty()) {
        const TreeItemId current = pending.back();
        pending.pop_back();
        Item& node = items_.at(current);
        node.check = state;
        pending.insert(pending.end(), node.children.begin(), node.children.end());
    }
}

void MemoryTree::updateAncestors(TreeItemId parent) {
    while (parent != kNoTreeItem) {
        Item& node = items_.at(parent);
        if (node.children.empty()) break;  // an item that lost its last child keeps its own state
        bool all = true;
        bool any = false;
        for (TreeItemId child : node.children) {
            const CheckState state = items_.at(child).check;
            all = all && state == CheckState::Checked;
            any = any || state != CheckState::Unchecked;
        }
        node.check = all ? CheckState::Checked : (any ? CheckState::Partial : CheckState::Unchecked);
        parent = node.parent;
    }
}

}  // namespace halvard
