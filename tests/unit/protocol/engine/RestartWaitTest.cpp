// Watching for a device to come back after its restart.
#include <gmock/gmock.h>

#include "EngineTest.h"

namespace valdrune::test {
namespace {

using ::testing::ElementsAre;
using std::chrono::milliseconds;

const MacAddress kAwaited = Mac(0x50);

using RestartWait = EngineTest;

TEST_F(RestartWait, SearchesEveryTwoSecondsFromThirtyAndGivesUpAtOneHundredTwenty) {
    engine().StartRestartWait(kAwaited);
    rig.clock.Advance(milliseconds(29999));
    EXPECT_TRUE(rig.transport.Sent().empty());
    rig.clock.Advance(milliseconds(200000));

    const auto sent = rig.transport.Sent();
    ASSERT_EQ(sent.size(), 45u);
    EXPECT_EQ(sent.front().time.count(), 30000);
    EXPECT_EQ(sent.back().time.count(), 118000);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].time.count(), 30000 + 2000 * static_cast<long>(i));
        EXPECT_EQ(sent[i].Mode(), 2);
        EXPECT_EQ(sent[i].Command(), CMD_SEARCH);
    }
    const auto failed = rig.owner.Of(WM_SETUP_FAILED);
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].wParam, 2u);
    EXPECT_EQ(failed[0].time.count(), 120000);
    EXPECT_FALSE(engine().RestartWaitRunning());
    EXPECT_EQ(engine().AwaitedMac(), MacAddress{});
}

TEST_F(RestartWait, AnswerWithZeroAddressDoesNotEndItButANonzeroOneDoes) {
    engine().StartRestartWait(kAwaited);
    rig.clock.Advance(milliseconds(40000));
    rig.Deliver(SearchAnswer(kAwaited, "0.0.0.0"));
    EXPECT_EQ(rig.owner.Count(EV_DEVICE_FOUND), 1u) << "still stored and reported";
    rig.clock.Advance(milliseconds(0));
    EXPECT_TRUE(engine().RestartWaitRunning());
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FINISHED), 0u);

    rig.Deliver(SearchAnswer(kAwaited, "192.168.0.77"));
    EXPECT_FALSE(engine().RestartWaitRunning());
    rig.clock.RunPosted();
    const auto finished = rig.owner.Of(WM_SETUP_FINISHED);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0].wParam, 0u);

    const auto before = rig.transport.Sent().size();
    rig.clock.Advance(milliseconds(200000));
    EXPECT_EQ(rig.transport.Sent().size(), before) << "no search after the wait ended";
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FAILED), 0u);
}

TEST_F(RestartWait, OnlyASearchAnswerFromTheAwaitedDeviceEndsIt) {
    engine().StartRestartWait(kAwaited);
    rig.Deliver(SearchAnswer(Mac(0x51), "192.168.0.77"));
    rig.Deliver(AnswerBuilder(CMD_INFO, kAwaited).U8(0, 0).Ipv4(32, "192.168.0.77"));
    rig.clock.RunPosted();
    EXPECT_TRUE(engine().RestartWaitRunning());
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FINISHED), 0u);
}

// An answer to a search still running when the device took its settings shows the old ones.
TEST_F(RestartWait, AWaitForAnAddressEndsOnlyWithAnAnswerShowingIt) {
    engine().StartRestartWait(kAwaited, 0xC0A80032);  // 192.168.0.50
    rig.Deliver(SearchAnswer(kAwaited, "192.168.0.77"));
    rig.clock.RunPosted();
    EXPECT_TRUE(engine().RestartWaitRunning());
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FINISHED), 0u);
    rig.Deliver(SearchAnswer(kAwaited, "192.168.0.50"));
    rig.clock.RunPosted();
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FINISHED), 1u);
}

TEST(AddressAfterSettings, IsTheStaticAddressOrAnyForTheOtherModes) {
    _CommandDataTable r;
    r.primary.ipAddress = 0xC0A80032;
    const auto after = [&r](std::uint8_t kind, std::uint8_t mode, std::uint8_t legacy) {
        r.kind = kind, r.ipv4Mode = mode, r.legacyAddressing = legacy;
        return CProtocol::AddressAfterSettings(r);
    };
    EXPECT_EQ(after(DEVICE_KIND_STANDARD, 3, 255), 0xC0A80032u);
    EXPECT_EQ(after(DEVICE_KIND_STANDARD, 0, 255), 0u);
    EXPECT_EQ(after(DEVICE_KIND_LEGACY, 0, 0x12), 0xC0A80032u);
    EXPECT_EQ(after(DEVICE_KIND_LEGACY, 3, 0x02), 0u);
    EXPECT_EQ(after(DEVICE_KIND_TWO_PORT, 1, 255), 0xC0A80032u);
    EXPECT_EQ(after(DEVICE_KIND_TWO_PORT, 0, 255), 0u);
}

TEST_F(RestartWait, UserSearchDuringTheWaitDoesNotEndIt) {
    engine().StartRestartWait(kAwaited);
    rig.clock.Advance(milliseconds(10000));
    engine().StartSearch();
    rig.clock.Advance(milliseconds(30000));
    EXPECT_TRUE(engine().RestartWaitRunning());
    EXPECT_EQ(engine().AwaitedMac(), kAwaited);
}

TEST_F(RestartWait, DeviceWithAllZeroMacNeverFinishesAWaitThatIsNotRunning) {
    rig.Deliver(SearchAnswer(MacAddress{}, "192.168.0.78"));
    rig.clock.RunPosted();
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FINISHED), 0u);
}

TEST_F(RestartWait, StartingAgainRestartsTheBudgetWithOneTimer) {
    engine().StartRestartWait(kAwaited);
    rig.clock.Advance(milliseconds(50000));
    engine().StartRestartWait(kAwaited);
    EXPECT_EQ(rig.clock.PeriodicTimers(), 1u);
    rig.clock.Advance(milliseconds(119999));
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FAILED), 0u);
    rig.clock.Advance(milliseconds(1));
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FAILED), 1u);
}

TEST_F(RestartWait, SettingsTimeoutClearsTheAwaitedDevice) {
    engine().StartRestartWait(kAwaited);
    engine().SendSettings(Device(kAwaited, "192.168.0.50"), CMD_SETUP_V2, MASK_STANDARD);
    rig.clock.Advance(milliseconds(30000));
    EXPECT_EQ(engine().AwaitedMac(), MacAddress{});
    rig.Deliver(SearchAnswer(kAwaited, "192.168.0.50"));
    rig.clock.RunPosted();
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FINISHED), 0u);
}

}  // namespace
}  // namespace valdrune::test
