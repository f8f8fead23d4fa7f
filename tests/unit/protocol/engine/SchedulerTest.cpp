// The virtual clock every timing test stands on.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/VirtualScheduler.h"

namespace valdrune::test {
namespace {

using std::chrono::milliseconds;

TEST(VirtualScheduler, RunsTimersInTimeOrderAndTiesInStartOrder) {
    VirtualScheduler clock;
    std::string log;
    clock.StartTimer(milliseconds(20), false, [&] { log += "b@" + std::to_string(clock.Now().count()) + " "; });
    clock.StartTimer(milliseconds(10), false, [&] { log += "a@" + std::to_string(clock.Now().count()) + " "; });
    clock.StartTimer(milliseconds(20), false, [&] { log += "c@" + std::to_string(clock.Now().count()) + " "; });
    clock.Advance(milliseconds(19));
    EXPECT_EQ(log, "a@10 ");
    clock.Advance(milliseconds(1));
    EXPECT_EQ(log, "a@10 b@20 c@20 ");
    EXPECT_EQ(clock.LiveTimers(), 0u);
}

TEST(VirtualScheduler, PeriodicTimerRepeatsUntilItCancelsItself) {
    VirtualScheduler clock;
    int fired = 0;
    TimerId id = 0;
    id = clock.StartTimer(milliseconds(100), true, [&] {
        if (++fired == 3) clock.CancelTimer(id);
    });
    clock.Advance(milliseconds(1000));
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(clock.LiveTimers(), 0u);
}

TEST(VirtualScheduler, PostedCallbacksRunBeforeLaterTimersAndAtTheTimeTheyWerePosted) {
    VirtualScheduler clock;
    std::string log;
    clock.StartTimer(milliseconds(50), false, [&] {
        clock.Post([&] { log += "posted@" + std::to_string(clock.Now().count()) + " "; });
    });
    clock.StartTimer(milliseconds(60), false, [&] { log += "timer@60 "; });
    clock.Post([&] { log += "first "; });
    EXPECT_EQ(clock.PendingPosts(), 1u);
    clock.Advance(milliseconds(100));
    EXPECT_EQ(log, "first posted@50 timer@60 ");
}

TEST(VirtualScheduler, CancelledTimerNeverRunsEvenWhenCancelledByAnEarlierOneAtTheSameTime) {
    VirtualScheduler clock;
    bool ran = false;
    TimerId second = 0;
    clock.StartTimer(milliseconds(10), false, [&] { clock.CancelTimer(second); });
    second = clock.StartTimer(milliseconds(10), false, [&] { ran = true; });
    clock.Advance(milliseconds(10));
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace valdrune::test
