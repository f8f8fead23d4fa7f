#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "QtTestApp.h"
#include "platform/qt/QtScheduler.h"
#include "tests/support/CaseNames.h"
#include "tests/support/TimeScale.h"

namespace valdrune {
namespace {

using test::RunFor;
using test::RunUntil;

struct ScaleCase {
    long long interval;
    int scale;
    long long expected;
};

class ScaleIntervalTest : public testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleIntervalTest, DividesWithoutReachingZero) {
    const auto c = GetParam();
    EXPECT_EQ(ScaleInterval(Milliseconds{c.interval}, c.scale).count(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Intervals, ScaleIntervalTest,
                         testing::Values(ScaleCase{100, 1, 100}, ScaleCase{120000, 1000, 120},
                                         ScaleCase{100, 50, 2}, ScaleCase{1, 50, 1},
                                         ScaleCase{150, 100, 1}, ScaleCase{0, 50, 0},
                                         ScaleCase{2000, 0, 2000}),
    test::NamedBy([](const ScaleCase& c) {
                             return test::CaseName(c.interval, "MsAtScale", c.scale);
                         }));

struct EnvCase {
    const char* text;  // nullptr: unset
    int expected;
};

class TimeScaleEnvTest : public testing::TestWithParam<EnvCase> {
  protected:
    void TearDown() override { unsetenv("VALDRUNE_TIME_SCALE"); }
};

TEST_P(TimeScaleEnvTest, AcceptsOnlyPositiveIntegers) {
    const auto c = GetParam();
    if (c.text == nullptr)
        unsetenv("VALDRUNE_TIME_SCALE");
    else
        setenv("VALDRUNE_TIME_SCALE", c.text, 1);
    EXPECT_EQ(test::TimeScaleFromEnvironment(), c.expected);
    EXPECT_EQ(QtScheduler().Scale(), 1) << "the shipped scheduler never reads the variable";
}

INSTANTIATE_TEST_SUITE_P(Texts, TimeScaleEnvTest,
                         testing::Values(EnvCase{nullptr, 1}, EnvCase{"", 1}, EnvCase{"20", 20},
                                         EnvCase{"1", 1}, EnvCase{"0", 1}, EnvCase{"-4", 1},
                                         EnvCase{"5x", 1}, EnvCase{"abc", 1},
                                         EnvCase{"99999999999", 1}),
    test::NamedBy([](const EnvCase& c) {
                             if (c.text == nullptr) return std::string("Unset");
                             return c.text[0] == '\0' ? std::string("Empty")
                                                      : test::CaseName("Text", c.text);
                         }));

class SchedulerTest : public testing::Test {
  protected:
    void SetUp() override { test::App(); }
};

TEST_F(SchedulerTest, OneShotFiresOnceAndPeriodicUntilCancelled) {
    QtScheduler s(1);
    int once = 0, periodic = 0;
    const TimerId a = s.StartTimer(Milliseconds{1}, false, [&] { ++once; });
    const TimerId b = s.StartTimer(Milliseconds{1}, true, [&] { ++periodic; });
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
    ASSERT_TRUE(RunUntil([&] { return periodic >= 3; }));
    EXPECT_EQ(once, 1);
    EXPECT_EQ(s.ActiveTimers(), 1u);  // the one-shot is gone
    s.CancelTimer(b);
    const int seen = periodic;
    RunFor(15);
    EXPECT_EQ(periodic, seen);
    EXPECT_EQ(s.ActiveTimers(), 0u);
}

TEST_F(SchedulerTest, CancelStopsTimersThatAreAlreadyDue) {
    QtScheduler s(1);
    int selfCancelling = 0, victim = 0, victimAtCancel = -1, done = 0;
    TimerId self = 0, other = 0;
    self = s.StartTimer(Milliseconds{1}, true, [&] {
        ++selfCancelling;
        victimAtCancel = victim;
        s.CancelTimer(self);
        s.CancelTimer(other);  // due at the same moment; must not run afterwards
    });
    other = s.StartTimer(Milliseconds{1}, true, [&] { ++victim; });
    s.StartTimer(Milliseconds{8}, false, [&] { ++done; });
    ASSERT_TRUE(RunUntil([&] { return done == 1; }));
    RunFor(5);
    EXPECT_EQ(selfCancelling, 1);
    // The victim may have run before the canceller in its first round, never after it.
    EXPECT_EQ(victim, victimAtCancel);
    s.CancelTimer(other);  // finished ids and unknown ids are no-ops
    s.CancelTimer(12345);
}

TEST_F(SchedulerTest, PostRunsLaterInOrderAndNotAfterDestruction) {
    std::vector<int> order;
    {
        QtScheduler s(1);
        s.Post([&] {
            order.push_back(1);
            s.Post([&] { order.push_back(3); });  // queued behind 2, not run inside 1
            order.push_back(11);
        });
        s.Post([&] { order.push_back(2); });
        EXPECT_TRUE(order.empty());  // never synchronous
        ASSERT_TRUE(RunUntil([&] { return order.size() == 4; }));
    }
    EXPECT_EQ(order, (std::vector<int>{1, 11, 2, 3}));

    int late = 0;
    {
        QtScheduler s(1);
        s.Post([&] { ++late; });
        s.StartTimer(Milliseconds{1}, false, [&] { ++late; });
    }
    RunFor(10);
    EXPECT_EQ(late, 0);
}

TEST_F(SchedulerTest, ScaleSpeedsTimersAndNowAlike) {
    QtScheduler s(100);
    bool fired = false;
    const auto start = s.Now();
    // 2000 ms scaled by 100 is 20 ms of real time.
    s.StartTimer(Milliseconds{2000}, false, [&] { fired = true; });
    ASSERT_TRUE(RunUntil([&] { return fired; }, 1000));
    const auto elapsed = s.Now() - start;
    EXPECT_GE(elapsed.count(), 2000);
    EXPECT_LT(elapsed.count(), 100 * 1000);
}

}  // namespace
}  // namespace valdrune
