#include "app/raw_result_tree.h"

#include <QApplication>
#include <QStyle>

#include "app/ui_thread.h"

namespace halvard::gui {

namespace {
constexpr int kIdRole = Qt::UserRole;
constexpr int kDataRole = Qt::UserRole + 1;
constexpr int kIconRole = Qt::UserRole + 2;
}  // namespace

QTreeWidgetItem* RawResultTree::itemOf(TreeItemId id) const {
    const auto found = items_.find(id);
    return found == items_.end() ? nullptr : found->second;
}

TreeItemId RawResultTree::idOf(const QTreeWidgetItem* item) const {
    return item ? item->data(0, kIdRole).toULongLong() : kNoTreeItem;
}

TreeItemId RawResultTree::insertItem(TreeItemId parent, const std::string& text, TreeIcon icon, TreeColour,
                                     std::optional<std::uint64_t> data) {
    TreeItemId id = kNoTreeItem;
    runOnUiThread([&] {
        if (!widget_) return;
        QTreeWidgetItem* above = itemOf(parent);
        auto* item = above ? new QTreeWidgetItem(above) : new QTreeWidgetItem(widget_.data());
        item->setText(0, QString::fromStdString(text));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
        item->setCheckState(0, above ? above->checkState(0) : Qt::Unchecked);
        const QStyle::StandardPixmap pixmap =
            icon == TreeIcon::File ? QStyle::SP_FileIcon : QStyle::SP_DirIcon;
        item->setIcon(0, QApplication::style()->standardIcon(pixmap));
        id = nextId_++;
        item->setData(0, kIdRole, QVariant::fromValue<qulonglong>(id));
        item->setData(0, kIconRole, static_cast<int>(icon));
        if (data) item->setData(0, kDataRole, QVariant::fromValue<qulonglong>(*data));
        items_[id] = item;
    });
    return id;
}

void RawResultTree::deleteItem(TreeItemId item) {
    runOnUiThread([&] {
        QTreeWidgetItem* widgetItem = itemOf(item);
        if (!widgetItem) return;
        std::vector<QTreeWidgetItem*> below{widgetItem};
        for (std::size_t i = 0; i < below.size(); ++i) {
            items_.erase(idOf(below[i]));
            for (int c = 0; c < below[i]->childCount(); ++c) below.push_back(below[i]->child(c));
        }
        delete widgetItem;
    });
}

void RawResultTree::expandItem(TreeItemId item) {
    runOnUiThread([&] {
        if (QTreeWidgetItem* widgetItem = itemOf(item)) widgetItem->setExpanded(true);
    });
}

TreeItemId RawResultTree::parentOf(TreeItemId item) const {
    TreeItemId parent = kNoTreeItem;
    runOnUiThread([&] {
        if (QTreeWidgetItem* widgetItem = itemOf(item)) parent = idOf(widgetItem->parent());
    });
    return parent;
}

TreeItemId RawResultTree::firstChild(TreeItemId item) const {
    TreeItemId child = kNoTreeItem;
    runOnUiThread([&] {
        if (!widget_) return;
        if (item == kNoTreeItem) {
            child = idOf(widget_->topLevelItem(0));
        } else if (QTreeWidgetItem* widgetItem = itemOf(item)) {
            child = idOf(widgetItem->child(0));
        }
    });
    return child;
}

TreeItemId RawResultTree::nextSibling(TreeItemId item) const {
    TreeItemId sibling = kNoTreeItem;
    runOnUiThread([&] {
        QTreeWidgetItem* widgetItem = itemOf(item);
        if (!widgetItem || !widget_) return;
        QTreeWidgetItem* parent = widgetItem->parent();
        const int index = parent ? parent->indexOfChild(widgetItem) : widget_->indexOfTopLevelItem(widgetItem);
        sibling = idOf(parent ? parent->child(index + 1) : widget_->topLevelItem(index + 1));
    });
    return sibling;
}

std::string RawResultTree::itemText(TreeItemId item) const {
    std::string text;
    runOnUiThread([&] {
        if (QTreeWidgetItem* widgetItem = itemOf(item)) text = widgetItem->text(0).toStdString();
    });
    return text;
}

void RawResultTree::setItemText(TreeItemId item, const std::string& text) {
    runOnUiThread([&] {
        if (QTreeWidgetItem* widgetItem = itemOf(item)) widgetItem->setText(0, QString::fromStdString(text));
    });
}

TreeIcon RawResultTree::itemIcon(TreeItemId item) const {
    TreeIcon icon = TreeIcon::None;
    runOnUiThread([&] {
        if (QTreeWidgetItem* widgetItem = itemOf(item))
            icon = static_cast<TreeIcon>(widgetItem->data(0, kIconRole).toInt());
    });
    return icon;
}

std::optional<std::uint64_t> RawResultTree::itemData(TreeItemId item) const {
    std::optional<std::uint64_t> data;
    runOnUiThread([&] {
        QTreeWidgetItem* widgetItem = itemOf(item);
        if (widgetItem && widgetItem->data(0, kDataRole).isValid())
            data = widgetItem->data(0, kDataRole).toULongLong();
    });
    return data;
}

CheckState RawResultTree::checkState(TreeItemId item) const {
    CheckState state = CheckState::Unchecked;
    runOnUiThread([&] {
        QTreeWidgetItem* widgetItem = itemOf(item);
        if (!widgetItem) return;
        const Qt::CheckState qt = widgetItem->checkState(0);
        state = qt == Qt::Checked ? CheckState::Checked
                : qt == Qt::PartiallyChecked ? CheckState::Partial
                                             : CheckState::Unchecked;
    });
    return state;
}

void RawResultTree::setChecked(TreeItemId item, bool checked) {
    runOnUiThread([&] {
        if (QTreeWidgetItem* widgetItem = itemOf(item)) widgetItem->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    });
}

}  // namespace halvard::gui
