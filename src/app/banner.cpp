#include "app/banner.h"

#include <QLinearGradient>
#include <QPainter>

#include "common/sinks.h"

namespace halvard::gui {

namespace {
constexpr int kBannerHeight = 76;
}

Banner::Banner(const QString& subtitle, QWidget* parent) : QWidget(parent), subtitle_(subtitle) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Banner::setSubtitle(const QString& subtitle) {
    subtitle_ = subtitle;
    update();
}

QSize Banner::sizeHint() const { return {560, kBannerHeight}; }
QSize Banner::minimumSizeHint() const { return {240, kBannerHeight}; }

void Banner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient background(rect().topLeft(), rect().topRight());
    background.setColorAt(0.0, QColor(0x12, 0x2b, 0x4a));
    background.setColorAt(0.65, QColor(0x1d, 0x55, 0x7d));
    background.setColorAt(1.0, QColor(0x2a, 0x86, 0x8f));
    painter.fillRect(rect(), background);

    // A disk platter, drawn as two rings, at the left.
    const int diameter = height() - 24;
    const QRectF platter(16, 12, diameter, diameter);
    painter.setPen(QPen(QColor(255, 255, 255, 170), 3));
    painter.setBrush(QColor(255, 255, 255, 28));
    painter.drawEllipse(platter);
    painter.setBrush(QColor(255, 255, 255, 150));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(platter.center(), diameter / 7.0, diameter / 7.0);

    // A thin highlight along the bottom edge.
    painter.fillRect(QRect(0, height() - 3, width(), 3), QColor(0x5f, 0xc4, 0xc9));

    const int textLeft = static_cast<int>(platter.right()) + 16;
    QFont title = font();
    title.setPointSizeF(title.pointSizeF() * 1.6);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(Qt::white);
    const QRect titleRect(textLeft, 6, width() - textLeft - 12, height() / 2 - 4);
    painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignBottom, QString::fromUtf8(kProductName));

    QFont sub = font();
    painter.setFont(sub);
    painter.setPen(QColor(0xd8, 0xe9, 0xf0));
    const QRect subRect(textLeft, height() / 2 + 6, width() - textLeft - 12, height() / 2 - 8);
    painter.drawText(subRect, Qt::AlignLeft | Qt::AlignTop, subtitle_);
}

}  // namespace halvard::gui
