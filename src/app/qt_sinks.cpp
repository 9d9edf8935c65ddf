#include "app/qt_sinks.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <algorithm>
#include <climits>

#include "app/ui_thread.h"

namespace halvard::gui {

namespace {

// The bar counts in int; larger counts stop at its top.
int toBarValue(std::uint32_t value) { return static_cast<int>(std::min<std::uint32_t>(value, INT_MAX)); }

}  // namespace

QtMessageSink::QtMessageSink(QWidget* owner) : owner_(owner) {}

void QtMessageSink::information(const std::string& text) {
    runOnUiThread([this, &text] {
        QMessageBox box(QMessageBox::Information, QString::fromUtf8(kProductName), QString::fromStdString(text),
                        QMessageBox::Ok, owner_.data());
        box.setTextFormat(Qt::PlainText);
        box.exec();
    });
}

bool QtMessageSink::question(const std::string& text) {
    bool yes = false;
    runOnUiThread([this, &text, &yes] {
        QMessageBox box(QMessageBox::Question, QString::fromUtf8(kProductName), QString::fromStdString(text),
                        QMessageBox::Yes | QMessageBox::No, owner_.data());
        box.setTextFormat(Qt::PlainText);
        box.setDefaultButton(QMessageBox::Yes);
        yes = box.exec() == QMessageBox::Yes;
    });
    return yes;
}

ForwardingMessageSink::ForwardingMessageSink(std::function<MessageSink*()> target) : target_(std::move(target)) {}

void ForwardingMessageSink::information(const std::string& text) {
    runOnUiThread([this, &text] {
        if (silenced_) return;
        if (MessageSink* target = target_()) target->information(text);
    });
}

bool ForwardingMessageSink::question(const std::string& text) {
    bool yes = false;
    runOnUiThread([this, &text, &yes] {
        if (silenced_) return;
        if (MessageSink* target = target_()) yes = target->question(text);
    });
    return yes;
}

QtProgressSink::QtProgressSink(QProgressBar* bar) : bar_(bar) {}

void QtProgressSink::setRange(std::uint32_t lower, std::uint32_t upper) {
    runOnUiThread([this, lower, upper] {
        lower_ = lower;
        upper_ = upper;
        if (!bar_) return;
        const int low = toBarValue(lower);
        const int high = toBarValue(upper);
        if (high > low) {
            bar_->setRange(low, high);
        } else {
            bar_->setRange(0, 1);
            bar_->setValue(0);
        }
    });
}

void QtProgressSink::setPosition(std::uint32_t position) {
    runOnUiThread([this, position] {
        if (!bar_) return;
        const int low = toBarValue(lower_);
        const int high = toBarValue(upper_);
        if (high > low)
            bar_->setValue(std::clamp(toBarValue(position), low, high));
        else
            bar_->setValue(0);
    });
}

QtStatusSink::QtStatusSink(QLabel* label) : label_(label) {
    // Status lines carry names read from the image; never let them pass for markup.
    if (label_) label_->setTextFormat(Qt::PlainText);
}

void QtStatusSink::setStatus(const std::string& text) {
    runOnUiThread([this, &text] {
        if (label_) label_->setText(QString::fromStdString(text));
    });
}

}  // namespace halvard::gui
