#include <gtest/gtest.h>

#include <future>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/worker_pool.h"

using namespace talvoro;

TEST(WorkerPool, WaitIdleReturnsOnlyAfterRunningAndQueuedTasksHaveEnded) {
    WorkerPool pool("ostrel.test", 1);
    std::mutex lock;
    std::vector<std::string> order; // guarded by lock
    const auto mark = [&](const std::string& what) {
        std::lock_guard guard(lock);
        order.push_back(what);
    };
    std::promise<void> release;
    std::latch started(1);
    pool.async([&, gate = release.get_future().share()] {
        started.count_down();
        gate.wait();
        mark("first");
    });
    pool.async([&] { mark("queued"); });
    started.wait();

    std::latch waiting(1);
    std::thread waiter([&] {
        waiting.count_down();
        pool.waitIdle();
        mark("idle");
    });
    waiting.wait();
    release.set_value();
    waiter.join();
    EXPECT_EQ(order, (std::vector<std::string>{"first", "queued", "idle"}));
    pool.waitIdle(); // an idle pool answers at once
}
