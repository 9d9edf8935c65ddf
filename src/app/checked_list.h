#pragma once
// The browser's file list: rows with check boxes, and a check box in the first column's header. A click on that
// header ticks every row, or unticks every row when it was ticked; the header shows ticked while no row is
// unticked (an empty list counts as all ticked).
#include <QHeaderView>
#include <QTableWidget>

namespace halvard::gui {

class CheckHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit CheckHeader(QWidget* parent = nullptr);
    bool isChecked() const { return checked_; }
    void setChecked(bool checked);

signals:
    void toggled(bool checked);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    bool checked_ = true;
};

class CheckedList : public QTableWidget {
    Q_OBJECT
public:
    explicit CheckedList(const QStringList& headers, QWidget* parent = nullptr);

    CheckHeader* checkHeader() const { return header_; }
    // Appends a row; the first cell carries the check box. Returns the row.
    int addRow(const QStringList& texts, bool red);
    void clearRows();
    // Makes the header follow the rows.
    void updateHeader();

signals:
    // A row's check box was clicked by the user (not changed by the header).
    void rowCheckToggled(int row, bool checked);

private:
    void headerToggled(bool checked);
    void cellChanged(QTableWidgetItem* item);

    CheckHeader* header_;
    bool settingChecks_ = false;
};

}  // namespace halvard::gui
