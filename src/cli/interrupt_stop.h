#pragma once
// Ctrl-C as the Stop button: while an InterruptStop lives, SIGINT sets its flag, which the work's loops poll.
// One may live inside another (a command's, around the volume scan's): the inner one keeps a stop already asked.
#include <csignal>

#include "common/worker.h"

namespace halvard::cli {

class InterruptStop {
public:
    InterruptStop();
    ~InterruptStop();
    InterruptStop(const InterruptStop&) = delete;
    InterruptStop& operator=(const InterruptStop&) = delete;

    StopPoll poll() const;
    bool interrupted() const;
    // Ctrl-C also sets `flag` while this lives: for work that polls a stop flag of its own (the volume scan).
    void forwardTo(StopFlag& flag);

private:
    void (*previous_)(int) = SIG_DFL;
    StopFlag* previousForward_ = nullptr;
};

}  // namespace halvard::cli
