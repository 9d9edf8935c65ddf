#include "cli/interrupt_stop.h"

#include <atomic>

namespace halvard::cli {

namespace {
StopFlag sigintFlag{0};
std::atomic<StopFlag*> forwarded{nullptr};
int depth = 0;
extern "C" void stopOnInterrupt(int) {
    sigintFlag.store(1);
    if (StopFlag* flag = forwarded.load()) flag->store(1);
}
}  // namespace

InterruptStop::InterruptStop() {
    if (depth++ == 0) sigintFlag.store(0);
    previousForward_ = forwarded.load();
    previous_ = std::signal(SIGINT, stopOnInterrupt);
}

InterruptStop::~InterruptStop() {
    std::signal(SIGINT, previous_);
    forwarded.store(previousForward_);
    --depth;
}

StopPoll InterruptStop::poll() const { return StopPoll(&sigintFlag, nullptr); }

bool InterruptStop::interrupted() const { return sigintFlag.load() != 0; }

void InterruptStop::forwardTo(StopFlag& flag) {
    if (interrupted()) flag.store(1);
    forwarded.store(&flag);
}

}  // namespace halvard::cli
