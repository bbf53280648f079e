#include <gtest/gtest.h>

#include <future>
#include <pthread.h>
#include <vector>

#include "base/atomic.h"
#include "base/manual_time_source.h"
#include "base/serial_queue.h"

using namespace talvoro;
using namespace std::chrono_literals;

TEST(SerialQueue, RunsTasksInOrderOnItsOwnNamedThreadSyncPassesErrorsOnAndDestructionDrains) {
    std::vector<int> order;
    char name[16] = {};
    bool inner = false, last = false;
    std::promise<void> gate;
    {
        SerialQueue queue("ostrel.track-writer");
        for (int i = 0; i < 1000; ++i)
            queue.async([&order, i] { order.push_back(i); });
        queue.sync([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
        queue.sync([&] { queue.sync([&] { inner = queue.isCurrent(); }); });
        EXPECT_FALSE(queue.isCurrent());
        EXPECT_THROW(queue.sync([] { throw std::runtime_error("x"); }), std::runtime_error);
        queue.async([opened = gate.get_future().share()] { opened.wait(); });
        queue.async([&] { last = true; }); // may still wait behind it as the queue goes
        gate.set_value();
    }
    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(order[i], i);
    EXPECT_STREQ(name, "ostrel.track-wr");
    EXPECT_TRUE(inner);
    EXPECT_TRUE(last);
}

TEST(SerialQueue, TimersFireByTheClockOnceWhenLateAndNeverAfterCancel) {
    auto time = std::make_shared<ManualTimeSource>();
    SerialQueue queue("timer", time);
    Atomic<int> ticks(0);
    const auto id = queue.every(5ms, [&] { ticks.setValue(ticks.value() + 1); });
    const auto after = [&](std::chrono::nanoseconds by) {
        time->advance(by);
        queue.sync([] {});
        return ticks.value();
    };
    EXPECT_EQ(after(4ms), 0);
    EXPECT_EQ(after(1ms), 1);
    EXPECT_EQ(after(5ms), 2);
    EXPECT_EQ(after(1h), 3); // a late timer catches up with one run, not hundreds
    EXPECT_EQ(after(4ms), 3);
    EXPECT_EQ(after(1ms), 4);
    queue.cancel(id);
    EXPECT_EQ(after(1h), 4);
}

TEST(SerialQueue, DestroyedByItsOwnTaskRunsWhatIsLeftWithoutTheObject) {
    auto* queue = new SerialQueue("self");
    std::promise<void> gate;
    std::promise<std::thread::id> rest;
    std::thread::id own;
    queue->async([&own, opened = gate.get_future().share()] {
        own = std::this_thread::get_id();
        opened.wait();
    });
    queue->async([queue] { delete queue; });
    queue->async([&] { rest.set_value(std::this_thread::get_id()); });
    gate.set_value();
    std::future<std::thread::id> ran = rest.get_future();
    ASSERT_EQ(ran.wait_for(10s), std::future_status::ready) << "the task after the deletion";
    EXPECT_EQ(ran.get(), own) << "on the queue's own thread";
}
