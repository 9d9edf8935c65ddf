#pragma once
// The strip across the top of every page: the product name over a gradient, with a line saying what the page is
// for. Painted rather than loaded, so it scales with the window and needs no image files.
#include <QString>
#include <QWidget>

namespace halvard::gui {

class Banner : public QWidget {
    Q_OBJECT
public:
    explicit Banner(const QString& subtitle, QWidget* parent = nullptr);

    const QString& subtitle() const { return subtitle_; }
    void setSubtitle(const QString& subtitle);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString subtitle_;
};

}  // namespace halvard::gui
