#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/helper_thread.h"
#include "common/memory_tree.h"
#include "common/worker.h"

namespace halvard {
namespace {

using namespace std::chrono_literals;

// A body that polls like an engine loop and counts its passes.
struct Loop {
    StopFlag stopRequested{0};
    std::atomic<int> passes{0};
    std::atomic<bool> endStepsRan{false};
    void run(PauseGate& gate) {
        const StopPoll poll(&stopRequested, &gate);
        while (!poll.stopNow()) {
            ++passes;
            std::this_thread::sleep_for(1ms);
        }
        endStepsRan = true;
    }
};

bool settles(const std::atomic<int>& counter) {
    const int before = counter.load();
    std::this_thread::sleep_for(50ms);
    return counter.load() == before;
}

TEST(Worker, PauseThenStopThenResumeEndsNormally) {
    Worker worker;
    Loop loop;
    ASSERT_TRUE(worker.start([&] { loop.run(worker.gate()); }));
    while (loop.passes < 3) std::this_thread::sleep_for(1ms);
    worker.pause();
    EXPECT_TRUE(settles(loop.passes));
    loop.stopRequested = 1;
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(worker.running());  // still held at the gate
    EXPECT_FALSE(loop.endStepsRan);
    worker.resume();
    worker.join();
    EXPECT_TRUE(loop.endStepsRan);
    EXPECT_FALSE(worker.running());
}

TEST(Worker, PausesNestAndASecondStartIsRefusedWhileRunning) {
    Worker worker;
    Loop loop;
    ASSERT_TRUE(worker.start([&] { loop.run(worker.gate()); }));
    EXPECT_FALSE(worker.start([] {}));
    worker.pause();
    worker.pause();
    worker.resume();
    EXPECT_EQ(worker.gate().depth(), 1);
    while (settles(loop.passes) == false) {
    }
    EXPECT_TRUE(settles(loop.passes));  // one resume for two pauses: still held
    worker.resume();
    worker.resume();  // an extra resume does nothing harmful
    EXPECT_EQ(worker.gate().depth(), 0);
    const int before = loop.passes;
    std::this_thread::sleep_for(30ms);
    EXPECT_GT(loop.passes, before);
    loop.stopRequested = 1;
    worker.join();
    EXPECT_TRUE(worker.start([] {}));  // the finished worker can start again
}

TEST(Worker, DestroyingAPausedWorkerReleasesIt) {
    Loop loop;
    {
        Worker worker;
        worker.start([&] { loop.run(worker.gate()); });
        worker.pause();
        loop.stopRequested = 1;
    }
    EXPECT_TRUE(loop.endStepsRan);
}

TEST(MemoryTree, SmartCheckFollowsChildrenAndSubtrees) {
    MemoryTree tree;
    const TreeItemId root = tree.insertItem(kNoTreeItem, "ROOT", TreeIcon::Root);
    const TreeItemId folder = tree.insertItem(root, "docs", TreeIcon::Folder, TreeColour::Normal, 7);
    const TreeItemId a = tree.insertItem(folder, "a.txt", TreeIcon::File);
    const TreeItemId b = tree.insertItem(folder, "b.txt", TreeIcon::File, TreeColour::Deleted);
    EXPECT_EQ(tree.itemData(folder), 7u);
    EXPECT_FALSE(tree.itemData(a).has_value());
    EXPECT_EQ(tree.itemColour(b), TreeColour::Deleted);

    tree.setChecked(a, true);
    EXPECT_EQ(tree.checkState(folder), CheckState::Partial);
    EXPECT_EQ(tree.checkState(root), CheckState::Partial);
    tree.setChecked(b, true);
    EXPECT_EQ(tree.checkState(folder), CheckState::Checked);
    EXPECT_EQ(tree.checkState(root), CheckState::Checked);
    tree.setChecked(root, false);
    EXPECT_EQ(tree.checkState(a), CheckState::Unchecked);
    EXPECT_EQ(tree.checkState(b), CheckState::Unchecked);

    tree.setChecked(folder, true);
    tree.deleteItem(b);
    EXPECT_EQ(tree.checkState(folder), CheckState::Checked);
    EXPECT_EQ(tree.itemText(b), "");
    EXPECT_EQ(tree.firstChild(folder), a);
    EXPECT_EQ(tree.nextSibling(a), kNoTreeItem);
    EXPECT_EQ(tree.parentOf(a), folder);
    EXPECT_EQ(tree.firstChild(kNoTreeItem), root);
    tree.deleteItem(folder);
    EXPECT_EQ(tree.size(), 1u);
}

// Jobs run one at a time, each after the one before; what a job throws reaches the waiter, and the thread goes on.
TEST(HelperThread, JobsRunInTurnAndFailuresReachTheWaiter) {
    HelperThread helper;
    helper.wait();  // nothing posted yet
    std::vector<int> order;
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(helper.post([&order, i] { order.push_back(i); }));
    helper.wait();
    ASSERT_EQ(order.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    ASSERT_TRUE(helper.post([] { throw std::runtime_error("no room"); }));
    EXPECT_THROW(helper.wait(), std::runtime_error);
    helper.wait();  // told once
    bool ran = false;
    ASSERT_TRUE(helper.post([&ran] { ran = true; }));
    helper.wait();
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace halvard
