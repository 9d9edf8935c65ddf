#pragma once
// Calls made from a worker thread, as the pages' workers make them, in tests that run on the user-interface thread.
#include <QtTest>
#include <atomic>
#include <thread>

namespace halvard::gui::testing {

// Runs `work` on a thread of its own while this thread keeps handling events, and waits for it to end.
template <typename Work>
void onWorker(Work work) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        work();
        done = true;
    });
    while (!done) QTest::qWait(5);
    worker.join();
}

}  // namespace halvard::gui::testing
