#include "app/qt_tree_control.h"

#include <QApplication>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace halvard::gui {

namespace {

enum Role { IdRole = Qt::UserRole, IconRole, DataRole, ColourRole };

QIcon iconFor(TreeIcon icon) {
    QStyle* style = QApplication::style();
    switch (icon) {
        case TreeIcon::Root: return style->standardIcon(QStyle::SP_DriveHDIcon);
        case TreeIcon::Folder: return style->standardIcon(QStyle::SP_DirIcon);
        case TreeIcon::File: return style->standardIcon(QStyle::SP_FileIcon);
        default: return {};
    }
}

}  // namespace

BrowserTree::BrowserTree(QWidget* parent) : QTreeWidget(parent) {}

void BrowserTree::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const QModelIndex index = indexAt(at);
    QTreeWidgetItem* item = itemFromIndex(index);
    bool onLabel = false;
    if (item && index.column() == 0 && event->button() == Qt::LeftButton) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualRect(index);
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect check = style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
        onLabel = option.rect.contains(at) && !check.contains(at);
    }
    QTreeWidget::mouseReleaseEvent(event);
    if (onLabel) emit labelClicked(item);
}

QtTreeControl::QtTreeControl(QTreeWidget& tree) : tree_(tree) {}

TreeItemId QtTreeControl::insertItem(TreeItemId parent, const std::string& text, TreeIcon icon, TreeColour colour,
                                     std::optional<std::uint64_t> data) {
    QTreeWidgetItem* parentItem = parent == kNoTreeItem ? nullptr : itemOf(parent);
    if (parent != kNoTreeItem && !parentItem) return kNoTreeItem;
    auto* item = new QTreeWidgetItem;
    const TreeItemId id = nextId_++;
    item->setText(0, QString::fromStdString(text));
    item->setIcon(0, iconFor(icon));
    item->setData(0, IdRole, QVariant::fromValue<qulonglong>(id));
    item->setData(0, IconRole, static_cast<int>(icon));
    if (data) item->setData(0, DataRole, QVariant::fromValue<qulonglong>(*data));
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
    item->setCheckState(0, Qt::Unchecked);
    items_.emplace(id, item);
    if (parentItem)
        parentItem->addChild(item);
    else
        tree_.addTopLevelItem(item);
    setItemColour(id, colour);
    return id;
}

void QtTreeControl::forget(QTreeWidgetItem* item) {
    items_.erase(idOf(item));
    for (int i = 0; i < item->childCount(); ++i) forget(item->child(i));
}

void QtTreeControl::deleteItem(TreeItemId id) {
    QTreeWidgetItem* item = itemOf(id);
    if (!item) return;
    forget(item);
    delete item;
}

void QtTreeControl::clear() {
    items_.clear();
    tree_.clear();
}

void QtTreeControl::expandItem(TreeItemId id) {
    if (QTreeWidgetItem* item = itemOf(id)) item->setExpanded(true);
}

TreeItemId QtTreeControl::idOf(const QTreeWidgetItem* item) const {
    return item ? item->data(0, IdRole).toULongLong() : kNoTreeItem;
}

QTreeWidgetItem* QtTreeControl::itemOf(TreeItemId id) const {
    const auto found = items_.find(id);
    return found == items_.end() ? nullptr : found->second;
}

TreeItemId QtTreeControl::parentOf(TreeItemId id) const {
    const QTreeWidgetItem* item = itemOf(id);
    return item ? idOf(item->parent()) : kNoTreeItem;
}

TreeItemId QtTreeControl::firstChild(TreeItemId id) const {
    if (id == kNoTreeItem) return idOf(tree_.topLevelItem(0));
    const QTreeWidgetItem* item = itemOf(id);
    return item && item->childCount() > 0 ? idOf(item->child(0)) : kNoTreeItem;
}

TreeItemId QtTreeControl::nextSibling(TreeItemId id) const {
    QTreeWidgetItem* item = itemOf(id);
    if (!item) return kNoTreeItem;
    if (QTreeWidgetItem* parent = item->parent()) return idOf(parent->child(parent->indexOfChild(item) + 1));
    return idOf(tree_.topLevelItem(tree_.indexOfTopLevelItem(item) + 1));
}

std::string QtTreeControl::itemText(TreeItemId id) const {
    const QTreeWidgetItem* item = itemOf(id);
    return item ? item->text(0).toStdString() : std::string();
}

void QtTreeControl::setItemText(TreeItemId id, const std::string& text) {
    if (QTreeWidgetItem* item = itemOf(id)) item->setText(0, QString::fromStdString(text));
}

TreeIcon QtTreeControl::itemIcon(TreeItemId id) const {
    const QTreeWidgetItem* item = itemOf(id);
    return item ? static_cast<TreeIcon>(item->data(0, IconRole).toInt()) : TreeIcon::None;
}

TreeColour QtTreeControl::itemColour(TreeItemId id) const {
    const QTreeWidgetItem* item = itemOf(id);
    return item ? static_cast<TreeColour>(item->data(0, ColourRole).toInt()) : TreeColour::Normal;
}

void QtTreeControl::setItemColour(TreeItemId id, TreeColour colour) {
    QTreeWidgetItem* item = itemOf(id);
    if (!item) return;
    item->setData(0, ColourRole, static_cast<int>(colour));
    if (colour == TreeColour::Deleted)
        item->setForeground(0, QColor(255, 0, 0));
    else
        item->setData(0, Qt::ForegroundRole, QVariant());
}

std::optional<std::uint64_t> QtTreeControl::itemData(TreeItemId id) const {
    const QTreeWidgetItem* item = itemOf(id);
    if (!item) return std::nullopt;
    const QVariant data = item->data(0, DataRole);
    if (!data.isValid()) return std::nullopt;
    return data.toULongLong();
}

CheckState QtTreeControl::checkState(TreeItemId id) const {
    const QTreeWidgetItem* item = itemOf(id);
    if (!item) return CheckState::Unchecked;
    switch (item->checkState(0)) {
        case Qt::Checked: return CheckState::Checked;
        case Qt::PartiallyChecked: return CheckState::Partial;
        default: return CheckState::Unchecked;
    }
}

void QtTreeControl::setChecked(TreeItemId id, bool checked) {
    if (QTreeWidgetItem* item = itemOf(id)) item->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

}  // namespace halvard::gui
