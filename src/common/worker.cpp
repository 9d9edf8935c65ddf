#include "common/worker.h"

namespace halvard {

void PauseGate::pause() {
    std::lock_guard lock(mutex_);
    ++depth_;
    paused_.store(true);
}

void PauseGate::resume() {
    {
        std::lock_guard lock(mutex_);
        if (depth_ > 0) --depth_;
        paused_.store(depth_ > 0);
    }
    resumed_.notify_all();
}

void PauseGate::waitWhilePaused() {
    if (!paused_.load()) return;
    std::unique_lock lock(mutex_);
    resumed_.wait(lock, [this] { return depth_ == 0; });
}

int PauseGate::depth() const {
    std::lock_guard lock(mutex_);
    return depth_;
}

void PauseGate::releaseAll() {
    {
        std::lock_guard lock(mutex_);
        depth_ = 0;
        paused_.store(false);
    }
    resumed_.notify_all();
}

Worker::~Worker() {
    gate_.releaseAll();
    join();
}

bool Worker::start(std::function<void()> body) {
    if (running_.load()) return false;
    join();
    running_.store(true);
    thread_ = std::thread([this, body = std::move(body)] {
        body();
        running_.store(false);
    });
    return true;
}

void Worker::join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace halvard
