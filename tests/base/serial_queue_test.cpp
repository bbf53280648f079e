#include <gtest/gtest.h>

#include <atomic>
#include <pthread.h>
#include <vector>

#include "base/atomic.h"
#include "base/serial_queue.h"

using namespace talvoro;
using namespace std::chrono_literals;

TEST(SerialQueue, RunsTasksInOrderOnItsOwnNamedThread) {
    std::vector<int> order;
    char name[16] = {};
    {
        SerialQueue queue("ostrel.track-writer");
        for (int i = 0; i < 1000; ++i)
            queue.async([&order, i] { order.push_back(i); });
        queue.sync([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
        EXPECT_FALSE(queue.isCurrent());
    }
    ASSERT_EQ(order.size(), 1000u);
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(order[i], i);
    EXPECT_STREQ(name, "ostrel.track-wr");
}

TEST(SerialQueue, SyncFromTheQueueRunsInlineAndPassesExceptionsOn) {
    SerialQueue queue("q");
    bool inner = false;
    queue.sync([&] { queue.sync([&] { inner = queue.isCurrent(); }); });
    EXPECT_TRUE(inner);
    EXPECT_THROW(queue.sync([] { throw std::runtime_error("x"); }), std::runtime_error);
}

TEST(SerialQueue, RepeatingTimerFiresUntilCancelledAndDestructionRunsWhatIsQueued) {
    Atomic<int> ticks(0);
    std::atomic<bool> lastRan = false;
    {
        SerialQueue queue("timer");
        auto id = queue.every(5ms, [&] { ticks.setValue(ticks.value() + 1); });
        while (ticks.value() < 3)
            std::this_thread::sleep_for(1ms);
        queue.cancel(id);
        queue.sync([] {});
        int atCancel = ticks.value();
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(ticks.value(), atCancel);
        queue.async([&] {
            std::this_thread::sleep_for(20ms);
            lastRan = true;
        });
    }
    EXPECT_TRUE(lastRan);
}
