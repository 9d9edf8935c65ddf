#include "app/checked_list.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

namespace halvard::gui {

CheckHeader::CheckHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) { setSectionsClickable(true); }

void CheckHeader::setChecked(bool checked) {
    if (checked_ == checked) return;
    checked_ = checked;
    viewport()->update();
}

void CheckHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    if (logicalIndex != 0) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    // The check box sits before the header text, as in the rows below it.
    QStyleOptionButton box;
    const int size = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    const int inset = 4 + size + 4;
    painter->save();
    QHeaderView::paintSection(painter, rect.adjusted(inset, 0, 0, 0), logicalIndex);
    painter->restore();
    box.rect = QRect(rect.left() + 4, rect.center().y() - size / 2, size, size);
    box.state = QStyle::State_Enabled | (checked_ ? QStyle::State_On : QStyle::State_Off);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, this);
}

void CheckHeader::mousePressEvent(QMouseEvent* event) {
    if (logicalIndexAt(event->position().toPoint()) == 0) {
        checked_ = !checked_;
        viewport()->update();
        emit toggled(checked_);
    }
    QHeaderView::mousePressEvent(event);
}

CheckedList::CheckedList(const QStringList& headers, QWidget* parent)
    : QTableWidget(0, static_cast<int>(headers.size()), parent), header_(new CheckHeader(this)) {
    setHorizontalHeader(header_);
    setHorizontalHeaderLabels(headers);
    header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header_->setStretchLastSection(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    connect(header_, &CheckHeader::toggled, this, &CheckedList::headerToggled);
    connect(this, &QTableWidget::itemChanged, this, &CheckedList::cellChanged);
}

int CheckedList::addRow(const QStringList& texts, bool red) {
    const bool wasSetting = settingChecks_;
    settingChecks_ = true;
    const int row = rowCount();
    insertRow(row);
    for (int column = 0; column < columnCount(); ++column) {
        auto* cell = new QTableWidgetItem(column < texts.size() ? texts[column] : QString());
        Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        if (column == 0) flags |= Qt::ItemIsUserCheckable;
        cell->setFlags(flags);
        if (column == 0) cell->setCheckState(Qt::Unchecked);
        if (red) cell->setForeground(QColor(255, 0, 0));
        setItem(row, column, cell);
    }
    settingChecks_ = wasSetting;
    updateHeader();
    return row;
}

void CheckedList::clearRows() {
    setRowCount(0);
    updateHeader();
}

void CheckedList::updateHeader() {
    bool all = true;
    for (int row = 0; row < rowCount() && all; ++row)
        if (const QTableWidgetItem* cell = item(row, 0)) all = cell->checkState() == Qt::Checked;
    header_->setChecked(all);
}

void CheckedList::headerToggled(bool checked) {
    settingChecks_ = true;
    for (int row = 0; row < rowCount(); ++row)
        if (QTableWidgetItem* cell = item(row, 0)) cell->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    settingChecks_ = false;
}

void CheckedList::cellChanged(QTableWidgetItem* cell) {
    if (settingChecks_ || cell->column() != 0) return;
    updateHeader();
    emit rowCheckToggled(cell->row(), cell->checkState() == Qt::Checked);
}

}  // namespace halvard::gui
