#include "common/helper_thread.h"

#include <system_error>
#include <utility>

namespace halvard {

HelperThread::~HelperThread() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool HelperThread::post(std::function<void()> job) {
    wait();
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            return false;
        }
    }
    {
        std::lock_guard lock(mutex_);
        job_ = std::move(job);
        pending_ = true;
    }
    changed_.notify_all();
    return true;
}

void HelperThread::wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !pending_; });
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void HelperThread::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return quit_ || (pending_ && job_); });
        if (quit_) return;
        std::function<void()> job = std::move(job_);
        job_ = nullptr;
        lock.unlock();
        std::exception_ptr failure;
        try {
            job();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        failure_ = failure;
        pending_ = false;
        changed_.notify_all();
    }
}

}  // namespace halvard
