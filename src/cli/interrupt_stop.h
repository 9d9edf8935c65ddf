#pragma once
// Ctrl-C as the Stop button: while an InterruptStop lives, SIGINT sets its flag, which the work's loops poll.
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

private:
    void (*previous_)(int) = SIG_DFL;
};

}  // namespace halvard::cli
