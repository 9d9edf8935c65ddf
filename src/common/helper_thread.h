#pragma once
// One thread kept for short jobs handed over one at a time: the caller posts a job, goes on with its own work and
// waits for the job when it needs what it did. Cheaper than a thread per job when there are hundreds of them
// (an export writing one chunk while it reads the next).
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace halvard {

class HelperThread {
public:
    HelperThread() = default;
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;
    ~HelperThread();

    // Waits for the job posted before, then runs `job` on the helper thread. False, with nothing run, when no
    // thread can be had: the caller then does the work itself.
    bool post(std::function<void()> job);
    // Returns once the posted job has ended (at once when none is pending); rethrows what the job threw.
    void wait();

private:
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::function<void()> job_;
    bool pending_ = false;  // a job is posted and not yet ended
    bool quit_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace halvard
