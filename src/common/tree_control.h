#pragma once
// The directory tree the engines fill, as an abstract control. MemoryTree keeps it in memory (CLI, tests); the
// GUI adapts a QTreeWidget to it.
#include <cstdint>
#include <optional>
#include <string>

namespace halvard {

using TreeItemId = std::uint64_t;
inline constexpr TreeItemId kNoTreeItem = 0;  // also the parent of top-level items

enum class TreeIcon : std::uint8_t { None, Root, Folder, File, Placeholder };
enum class TreeColour : std::uint8_t { Normal, Deleted };
enum class CheckState : std::uint8_t { Unchecked, Checked, Partial };

// The text of the child that marks a folder whose children are not inserted yet.
inline constexpr const char* kPlaceholderText = "..DUMY..";

class TreeControl {
public:
    virtual ~TreeControl() = default;

    // Appends an item as the last child of `parent` (kNoTreeItem for the top level). `data` refers to the
    // engine's entry; nullopt for items that stand for no entry (the placeholder).
    virtual TreeItemId insertItem(TreeItemId parent, const std::string& text, TreeIcon icon,
                                  TreeColour colour = TreeColour::Normal,
                                  std::optional<std::uint64_t> data = std::nullopt) = 0;
    // Removes an item with its subtree.
    virtual void deleteItem(TreeItemId item) = 0;
    virtual void expandItem(TreeItemId item) = 0;

    virtual TreeItemId parentOf(TreeItemId item) const = 0;
    virtual TreeItemId firstChild(TreeItemId item) const = 0;  // kNoTreeItem: the top level's first item
    virtual TreeItemId nextSibling(TreeItemId item) const = 0;

    virtual std::string itemText(TreeItemId item) const = 0;
    virtual void setItemText(TreeItemId item, const std::string& text) = 0;
    virtual TreeIcon itemIcon(TreeItemId item) const = 0;
    virtual TreeColour itemColour(TreeItemId item) const = 0;
    virtual void setItemColour(TreeItemId item, TreeColour colour) = 0;
    virtual std::optional<std::uint64_t> itemData(TreeItemId item) const = 0;

    // Smart checking: ticking or unticking an item does the same to its whole subtree, and a folder shows
    // ticked when all its children are ticked, partly ticked when some are.
    virtual CheckState checkState(TreeItemId item) const = 0;
    virtual void setChecked(TreeItemId item, bool checked) = 0;
};

}  // namespace halvard
