#include "capture/OneShot.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace vanto {
namespace {

TEST(OneShot, aSettledResultIsReadAtOnceAndTheFirstSettlementWins) {
    OneShot<int> shot;
    shot.settle(1);
    shot.settle(2);
    shot.fail(std::make_exception_ptr(std::runtime_error("late")));
    EXPECT_EQ(shot.value(), 1);
    EXPECT_EQ(shot.value(), 1);

    OneShot<int> failed;
    failed.fail(std::make_exception_ptr(std::runtime_error("broken")));
    failed.settle(3);
    EXPECT_THROW(failed.value(), std::runtime_error);
}

TEST(OneShot, aSecondWaiterIsTurnedAwayAndTheFirstStillGetsTheValue) {
    OneShot<std::string> shot;
    auto first = std::async(std::launch::async, [&] { return shot.value(); });
    while (!shot.hasWaiter()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    try {
        shot.value();
        ADD_FAILURE() << "a second waiter was let in";
    } catch (const OneShotError& error) {
        EXPECT_STREQ(error.what(), "another caller is already waiting for this result");
    }
    shot.settle("done");
    EXPECT_EQ(first.get(), "done");
}

TEST(WithDeadline, aLimitOfZeroOrLessFailsAtOnceWithTheLabel) {
    SystemClock clock;
    for (double limit : {0.0, -3.0, std::nan("")}) {
        auto never = std::make_shared<std::promise<void>>();
        try {
            withDeadline<int>(clock, limit, "SCShareableContent", [never](std::stop_token stop) {
                while (!stop.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return 1;
            });
            ADD_FAILURE() << "no deadline";
        } catch (const DeadlineExceeded& error) {
            EXPECT_EQ(error.label(), "SCShareableContent");
            EXPECT_EQ(std::string(error.what()).rfind("SCShareableContent did not answer within ", 0), 0u);
        }
    }
    EXPECT_STREQ(DeadlineExceeded("stream start", 2.9).what(), "stream start did not answer within 2s");
    EXPECT_STREQ(DeadlineExceeded("x", 0).what(), "x did not answer within 0s");
}

TEST(WithDeadline, theOperationsOwnErrorOrValueWinsWithinTheLimit) {
    fake::VirtualClock clock;
    clock.setAutoAdvance(false); // the limit never passes unless the test says so
    EXPECT_THROW(withDeadline<int>(clock, 5, "op", [](std::stop_token) -> int { throw std::logic_error("own"); }),
                 std::logic_error);
    EXPECT_EQ(withDeadline<int>(clock, 5, "op", [](std::stop_token) { return 42; }), 42);
}

TEST(WithDeadline, aLateValueIsDroppedAndTheOperationIsAskedToStop) {
    fake::VirtualClock clock;
    clock.setAutoAdvance(false);
    auto release = std::make_shared<std::promise<void>>();
    auto finished = std::make_shared<std::promise<bool>>();
    std::jthread advancer([&] {
        clock.waitForSleepers(1);
        clock.advance(5);
    });
    EXPECT_THROW(withDeadline<int>(clock, 5, "op",
                                   [release, finished](std::stop_token stop) {
                                       release->get_future().wait();
                                       finished->set_value(stop.stop_requested());
                                       return 7;
                                   }),
                 DeadlineExceeded);
    release->set_value();
    EXPECT_TRUE(finished->get_future().get()); // it was told to stop
}

TEST(WithDeadline, cancellingTheCallerEndsTheWait) {
    fake::VirtualClock clock;
    clock.setAutoAdvance(false);
    std::stop_source stop;
    std::jthread canceller([&] {
        clock.waitForSleepers(1);
        stop.request_stop();
    });
    EXPECT_THROW(withDeadline<int>(
                     clock, 30, "op",
                     [](std::stop_token token) {
                         while (!token.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
                         return 0;
                     },
                     stop.get_token()),
                 Cancelled);
}

} // namespace
} // namespace vanto
