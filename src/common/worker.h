#pragma once
// Long work runs on one worker thread per page. The user can pause, resume and stop it:
//  - stop: the page sets the `stopRequested` flags that the work's loops poll; the loops leave and the work runs
//    its normal end steps.
//  - pause: instead of suspending the thread from outside (which could freeze it while it holds a lock), every
//    poll point passes a pause gate. Pauses nest: pausing twice needs two resumes.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace halvard {

class PauseGate {
public:
    void pause();
    // Undoes one pause; extra resumes are ignored.
    void resume();
    // Blocks the calling worker while the gate is paused.
    void waitWhilePaused();
    int depth() const;
    // Lets every waiter go at once (used when the work is abandoned: exit, page destruction).
    void releaseAll();

private:
    mutable std::mutex mutex_;
    std::condition_variable resumed_;
    int depth_ = 0;
    // Mirrors depth_ so that the poll in hot loops costs one load while nothing is paused.
    std::atomic<bool> paused_{false};
};

// A stop flag as engines and pages hold it: 0 = run, 1 = stop.
using StopFlag = std::atomic<std::uint8_t>;

// What a loop polls at the top of every pass: passes the pause gate, then tells whether to stop.
class StopPoll {
public:
    StopPoll() = default;
    StopPoll(const StopFlag* flag, PauseGate* gate) : flag_(flag), gate_(gate) {}

    bool stopNow() const {
        if (gate_) gate_->waitWhilePaused();
        return flag_ && flag_->load(std::memory_order_relaxed) != 0;
    }

private:
    const StopFlag* flag_ = nullptr;
    PauseGate* gate_ = nullptr;
};

// One worker thread with its pause gate. The thread is joined when the worker is destroyed or restarted, so the
// owner sets the work's stop flags before either; the user-interface thread never waits on it otherwise.
class Worker {
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker();

    // Starts `body` on a new thread. Refused (false) while a previous body still runs.
    bool start(std::function<void()> body);
    bool running() const { return running_.load(); }
    bool started() const { return thread_.joinable(); }
    void pause() { gate_.pause(); }
    void resume() { gate_.resume(); }
    // Waits for the body to end. Never call from the thread the body reports to with blocking calls.
    void join();
    PauseGate& gate() { return gate_; }

private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    PauseGate gate_;
};

}  // namespace halvard
