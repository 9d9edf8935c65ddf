#include "app/page_worker.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMetaObject>
#include <QThread>

#include "app/wizard_page.h"

namespace halvard::gui {

PageWorker::PageWorker(WizardPage& page, QProgressBar* bar, QLabel* status)
    : page_(page), statusLine_(status), progress_(bar), status_(status), messages_([&page] { return &page.messages(); }) {
    reporting_.progress = &progress_;
    reporting_.status = &status_;
    reporting_.messages = &messages_;
}

PageWorker::~PageWorker() { shutDown(); }

void PageWorker::pause() {
    if (!busy_) return;
    gate().pause();
    statusLine_->setText(QStringLiteral("Pause button pressed"));
}

void PageWorker::resume() {
    if (!busy_) return;
    gate().resume();
    statusLine_->setText(QStringLiteral("Resume button pressed"));
}

bool PageWorker::start(std::function<void()> body, std::function<void()> endSteps) {
    if (busy_ || shuttingDown_) return false;
    // The previous body has returned (its end steps ran); collect its thread before starting anew.
    worker_.join();
    endSteps_ = std::move(endSteps);
    busy_ = true;
    const bool started = worker_.start([this, body = std::move(body)] {
        body();
        // Queued to the page: if the page is destroyed first, the call is dropped with it.
        QMetaObject::invokeMethod(&page_, [this] { finish(); }, Qt::QueuedConnection);
    });
    if (!started) busy_ = false;
    return started;
}

void PageWorker::finish() {
    // The body has returned; only the thread's last store is left, so this wait is short.
    worker_.join();
    busy_ = false;
    if (shuttingDown_) return;
    auto steps = std::move(endSteps_);
    endSteps_ = nullptr;
    if (steps) steps();
}

void PageWorker::shutDown(const std::function<void()>& requestStop) {
    shuttingDown_ = true;
    messages_.silence();
    if (requestStop) requestStop();
    worker_.gate().releaseAll();
    // The work may be waiting for the user-interface thread to carry out a report: keep serving those (and
    // nothing the user does) until it has left.
    while (worker_.running()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(1);
    }
    worker_.join();
    busy_ = false;
}

}  // namespace halvard::gui
