#include "cli/interrupt_stop.h"

namespace halvard::cli {

namespace {
StopFlag sigintFlag{0};
extern "C" void stopOnInterrupt(int) { sigintFlag.store(1); }
}  // namespace

InterruptStop::InterruptStop() {
    sigintFlag.store(0);
    previous_ = std::signal(SIGINT, stopOnInterrupt);
}

InterruptStop::~InterruptStop() { std::signal(SIGINT, previous_); }

StopPoll InterruptStop::poll() const { return StopPoll(&sigintFlag, nullptr); }

bool InterruptStop::interrupted() const { return sigintFlag.load() != 0; }

}  // namespace halvard::cli
