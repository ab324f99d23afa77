#include "platform/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>
#include <stdexcept>
#include <vector>

namespace vanto {
namespace {

TEST(RunLoop, workFromOtherThreadsRunsOnTheParkedThreadInOrder) {
    RunLoop loop;
    std::thread::id mainID = std::this_thread::get_id();
    std::vector<int> order;
    std::vector<std::thread::id> where;
    std::jthread worker([&] {
        // Until the loop is parked, work runs where it is asked: wait for the park.
        std::promise<void> parked;
        loop.post([&] { parked.set_value(); });
        parked.get_future().wait();
        loop.run([&] {
            order.push_back(1);
            where.push_back(std::this_thread::get_id());
        });
        loop.post([&] { order.push_back(2); });
        loop.run([&] {
            order.push_back(3);
            // A run from the main thread itself must not deadlock.
            loop.run([&] { order.push_back(4); });
        });
        EXPECT_THROW(loop.run([] { throw std::runtime_error("boom"); }), std::runtime_error);
        loop.quit();
    });
    loop.park();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    ASSERT_EQ(where.size(), 1u);
    EXPECT_EQ(where[0], mainID);
}

TEST(RunLoop, workThatPostsItselfAgainDoesNotHoldTheLoopOpenAfterQuit) {
    RunLoop loop;
    std::atomic<int> pumps{0};
    std::function<void()> pump = [&] {
        ++pumps;
        loop.post(pump);
    };
    bool askedBeforeQuit = false;
    std::jthread worker([&] {
        loop.post(pump);
        while (pumps < 3) std::this_thread::yield();
        loop.post([&] { askedBeforeQuit = true; });
        loop.quit();
    });
    loop.park(); // returns: the test would hang otherwise
    worker.join();
    EXPECT_TRUE(askedBeforeQuit);
}

TEST(RunLoop, withoutAParkedThreadWorkRunsInPlace) {
    RunLoop loop;
    bool ran = false;
    loop.run([&] { ran = true; });
    EXPECT_TRUE(ran);
}

} // namespace
} // namespace vanto
