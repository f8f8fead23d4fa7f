// The search cycle and the search request as it leaves the engine.
#include <gmock/gmock.h>

#include "EngineTest.h"

namespace valdrune::test {
namespace {

using ::testing::ElementsAre;
using std::chrono::milliseconds;

std::vector<int> Modes(const std::vector<SentDatagram>& sent) {
    std::vector<int> out;
    for (const auto& d : sent) out.push_back(d.Mode());
    return out;
}

using SearchCycle = EngineTest;

TEST_F(SearchCycle, SendsFiveRequestsWithModesTwoZeroTwoTwoTwoOnSchedule) {
    engine().StartSearch();
    rig.clock.Advance(milliseconds(7999));
    EXPECT_TRUE(engine().SearchRunning());
    rig.clock.Advance(milliseconds(1));
    EXPECT_FALSE(engine().SearchRunning());
    rig.clock.Advance(milliseconds(20000));

    const auto& sent = rig.transport.Sent();
    EXPECT_THAT(Times(sent), ElementsAre(0, 150, 2000, 4000, 6000));
    EXPECT_THAT(Modes(sent), ElementsAre(2, 0, 2, 2, 2));
    for (const auto& d : sent) {
        EXPECT_EQ(d.Command(), CMD_SEARCH);
        EXPECT_EQ(d.bytes.size(), 94u);
    }
    EXPECT_EQ(rig.clock.LiveTimers(), 0u);
}

TEST_F(SearchCycle, RequestsCarryTheSelectedAdaptersMacAndAddress) {
    engine().StartSearch();
    const auto& d = rig.transport.Sent().at(0);
    EXPECT_TRUE(std::equal(kPcMac.begin(), kPcMac.end(), d.bytes.begin() + 12));
    EXPECT_THAT(std::vector<std::uint8_t>(d.bytes.begin() + 18, d.bytes.begin() + 22),
                ElementsAre(192, 168, 0, 10));
    EXPECT_EQ(d.bindAddress, "192.168.0.10");
    EXPECT_EQ(d.ifIndex, 2);
}

TEST_F(SearchCycle, SecondStartBeforeTheModeZeroRequestRestartsTheScheduleWithoutDoubling) {
    engine().StartSearch();
    rig.clock.Advance(milliseconds(100));
    engine().StartSearch();
    EXPECT_EQ(rig.clock.PeriodicTimers(), 2u);
    rig.clock.Advance(milliseconds(20000));
    EXPECT_THAT(Times(rig.transport.Sent()), ElementsAre(0, 100, 250, 2100, 4100, 6100));
    EXPECT_THAT(Modes(rig.transport.Sent()), ElementsAre(2, 2, 0, 2, 2, 2));
}

TEST_F(SearchCycle, SecondStartLateInTheCycleGivesAFullNewCycle) {
    engine().StartSearch();
    rig.clock.Advance(milliseconds(4500));
    rig.transport.ClearSent();
    engine().StartSearch();
    rig.clock.Advance(milliseconds(20000));
    EXPECT_THAT(Times(rig.transport.Sent()), ElementsAre(4500, 4650, 6500, 8500, 10500));
}

TEST_F(SearchCycle, ReportsOnlyCyclesThatRanToTheirEnd) {
    engine().StartSearch();
    rig.clock.Advance(milliseconds(5000));
    engine().StartSearch();  // cut short
    rig.clock.Advance(milliseconds(8000));
    EXPECT_THAT(rig.owner.searchEnds, ElementsAre(milliseconds(13000)));
    // A repeating search due at the very end of the cycle may run before the cycle's own
    // timer: the cycle still ran to its end, and is reported once.
    rig.clock.StartTimer(milliseconds(8000), false, [this] { engine().StartSearch(); });
    engine().StartSearch();
    rig.clock.Advance(milliseconds(8000));
    rig.clock.RunPosted();
    EXPECT_EQ(rig.owner.searchEnds.size(), 2u);
    engine().SelectInterface(-1);  // another adapter ends the cycle without its end
    rig.clock.Advance(milliseconds(9000));
    EXPECT_EQ(rig.owner.searchEnds.size(), 2u);
}

TEST(SendSearch, RefusesWithoutSocketAndReportsSendFailure) {
    EngineRig rig;
    rig.transport.FailBind(true);
    CProtocol& engine = rig.Start(false);
    EXPECT_FALSE(engine.SocketReady());
    EXPECT_EQ(engine.SendSearch(2), PROTO_SOCKET_NOT_READY);
    EXPECT_EQ(rig.transport.FailedSends(), 0) << "nothing may reach the transport";

    rig.transport.FailBind(false);
    rig.host.Add("10.1.0.2", 3, "eth1", {2, 0, 0, 0, 0, 9});
    engine.EnumerateInterfaces({});
    ASSERT_TRUE(engine.SocketReady());
    EXPECT_EQ(engine.SendSearch(0), PROTO_OK);
    rig.transport.FailNextSend();
    EXPECT_EQ(engine.SendSearch(2), PROTO_SEARCH_SEND_FAILED);
}

TEST_F(SearchCycle, KeepsItsScheduleWhenOneSendFails) {
    rig.transport.FailNextSend();
    engine().StartSearch();
    rig.clock.Advance(milliseconds(10000));
    EXPECT_THAT(Times(rig.transport.Sent()), ElementsAre(150, 2000, 4000, 6000));
}

}  // namespace
}  // namespace valdrune::test
