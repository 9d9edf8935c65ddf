#pragma once
// One page's worker thread and the reporting it goes through.
//
// The work reports progress, status texts and messages; each report is carried out on the user-interface thread
// while the work waits, as a synchronous window message would be. Once the body has returned, the page's end
// steps run on the user-interface thread. The user-interface thread never waits for the work, with one exception:
// a page destroyed while its work still runs tells the work to stop and waits for it (serving its reports
// meanwhile), so that nothing the work uses is freed under it.
#include <functional>
#include <memory>

#include "app/qt_sinks.h"
#include "common/sinks.h"
#include "common/worker.h"

class QLabel;
class QProgressBar;
class QWidget;

namespace halvard::gui {

class WizardPage;

class PageWorker {
public:
    PageWorker(WizardPage& page, QProgressBar* bar, QLabel* status);
    PageWorker(const PageWorker&) = delete;
    PageWorker& operator=(const PageWorker&) = delete;
    // Does what shutDown does, with no stop request of its own: the owner calls shutDown first.
    ~PageWorker();

    // For the work: progress on the page's bar, status on its line, messages through the page's current sink.
    // All three may be used from any thread.
    const Reporting& reporting() const { return reporting_; }
    MessageSink* messages() { return &messages_; }
    PauseGate& gate() { return worker_.gate(); }
    // Pause and Resume as the pages' buttons do them: only while the work runs, said on the status line.
    void pause();
    void resume();

    // From start until the end steps have run (user-interface thread).
    bool busy() const { return busy_; }
    // True once the page has begun to go away; end steps and messages are dropped from then on.
    bool shuttingDown() const { return shuttingDown_; }

    // Starts `body` on the worker thread; `endSteps` runs on the user-interface thread after it. Refused while
    // busy.
    bool start(std::function<void()> body, std::function<void()> endSteps);

    // For the owner's destructor: drops further messages and end steps, calls `requestStop` (which sets the work's
    // stop flags), lets a paused worker go on and waits for the body to end while serving its reports.
    void shutDown(const std::function<void()>& requestStop = {});

private:
    void finish();

    WizardPage& page_;
    QLabel* statusLine_;
    QtProgressSink progress_;
    QtStatusSink status_;
    ForwardingMessageSink messages_;
    Reporting reporting_;
    Worker worker_;
    std::function<void()> endSteps_;
    bool busy_ = false;
    bool shuttingDown_ = false;
};

}  // namespace halvard::gui
