#pragma once
// The Qt faces of the reporting seams. Each may be called from a worker thread: the call is carried to the
// user-interface thread and the worker waits for it. The widgets are watched, so a page that goes away while a
// worker still reports makes the calls do nothing instead of touching freed memory.
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>

#include "common/sinks.h"

class QLabel;
class QProgressBar;
class QWidget;

namespace halvard::gui {

// Message boxes with the product's caption: information with an OK button, questions with Yes and No.
class QtMessageSink : public MessageSink {
public:
    explicit QtMessageSink(QWidget* owner = nullptr);
    void information(const std::string& text) override;
    bool question(const std::string& text) override;

private:
    QPointer<QWidget> owner_;
};

// Hands messages on to whatever sink a page uses at the moment of the call (looked up on the user-interface
// thread, so a page may swap its sink), and drops them once silenced: a page that is going away shows nothing more.
// With nothing to ask, a question is answered No.
class ForwardingMessageSink : public MessageSink {
public:
    explicit ForwardingMessageSink(std::function<MessageSink*()> target);
    void information(const std::string& text) override;
    bool question(const std::string& text) override;
    // User-interface thread only.
    void silence() { silenced_ = true; }

private:
    std::function<MessageSink*()> target_;
    bool silenced_ = false;  // only touched on the user-interface thread
};

// A progress bar driven by range and position. A range whose upper bound is not above its lower bound shows an
// empty bar (Qt would otherwise show its busy animation), and positions outside the range are clamped to it
// (Qt would otherwise ignore them).
class QtProgressSink : public ProgressSink {
public:
    explicit QtProgressSink(QProgressBar* bar);
    void setRange(std::uint32_t lower, std::uint32_t upper) override;
    void setPosition(std::uint32_t position) override;

private:
    QPointer<QProgressBar> bar_;
    // Only touched on the user-interface thread.
    std::uint32_t lower_ = 0;
    std::uint32_t upper_ = 100;
};

// One line of status text; each text replaces the one before.
class QtStatusSink : public StatusSink {
public:
    explicit QtStatusSink(QLabel* label);
    void setStatus(const std::string& text) override;

private:
    QPointer<QLabel> label_;
};

}  // namespace halvard::gui
