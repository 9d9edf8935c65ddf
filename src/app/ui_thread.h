#pragma once
// Runs a piece of user-interface work on the user-interface thread and waits until it is done, whichever thread
// asks. A worker that reports progress or raises a message box is held until the page has dealt with it, like a
// synchronous window message; on the user-interface thread itself the work simply runs in place (a blocking
// queued call to one's own thread would deadlock).
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <utility>

namespace halvard::gui {

template <typename Work>
void runOnUiThread(Work&& work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || QThread::currentThread() == application->thread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(application, std::forward<Work>(work), Qt::BlockingQueuedConnection);
}

}  // namespace halvard::gui
