// The host's adapters: start-up values, which adapters are offered, and selection.
#include <gmock/gmock.h>

#include "EngineTest.h"

namespace valdrune::test {
namespace {

using ::testing::ElementsAre;
using std::chrono::milliseconds;

std::vector<std::uint8_t> Bytes(const MacAddress& m) { return {m.begin(), m.end()}; }

TEST(HostStartup, UsesTheLastSixByteRowAndTheHostNameAddressAndBindsAnyAddress) {
    EngineRig rig;
    rig.host.rows = {{1, Bytes(Mac(0x01))},
                     {2, {1, 2, 3, 4, 5, 6, 7, 8}},
                     {3, Bytes(Mac(0x03))},
                     {4, {}}};
    rig.host.hostNameAddress = Ip("10.9.8.7");
    CProtocol& engine = rig.Start(false);
    EXPECT_EQ(engine.LocalInterface().mac, Mac(0x03));
    EXPECT_EQ(engine.LocalInterface().ipAddress, Ip("10.9.8.7"));
    ASSERT_EQ(rig.transport.Binds().size(), 1u);
    EXPECT_EQ(rig.transport.Binds()[0].address, "");
    EXPECT_EQ(rig.transport.Binds()[0].ifIndex, -1);
    EXPECT_TRUE(engine.SocketReady());
    EXPECT_EQ(engine.SelectedInterface(), -1);
}

TEST(HostStartup, BindFailureLeavesTheSocketNotReady) {
    EngineRig rig;
    rig.transport.FailBind(true);
    EXPECT_FALSE(rig.Start(false).SocketReady());
}

class Adapters : public ::testing::Test {
protected:
    EngineRig rig;
};

TEST_F(Adapters, SkipsAdaptersWithoutAUsableAddressAndKeepsTheOrder) {
    rig.host.Add("0.0.0.0", 1, "unplugged", Bytes(Mac(1)))
        .Add("not an address", 2, "broken", Bytes(Mac(2)))
        .Add("10.0.0.5", 3, "wired", Bytes(Mac(3)), "10.0.0.1")
        .Add("255.255.255.255", 4, "none", Bytes(Mac(4)))
        .Add("172.16.0.9", 5, "wireless", Bytes(Mac(5)), "garbage")
        .Add("127.0.0.1", 6, "loopback", {});
    CProtocol& engine = rig.Start(false);
    EXPECT_EQ(engine.EnumerateInterfaces({}), 3);
    const auto& t = engine.Interfaces();
    EXPECT_EQ(t[0].ipAddress, Ip("10.0.0.5"));
    EXPECT_EQ(t[0].gateway, Ip("10.0.0.1"));
    EXPECT_EQ(t[0].ifIndex, 3);
    EXPECT_EQ(t[0].description, "wired");
    EXPECT_EQ(t[1].gateway, 0u) << "invalid gateway text";
    EXPECT_EQ(t[2].description, "loopback");
    EXPECT_EQ(t[0].subnetMask, 0u);
}

TEST_F(Adapters, MacComesFromTheSixByteRowOfTheSameIndexOrStaysZero) {
    rig.host.Add("10.0.0.1", 1, "wired", Bytes(Mac(0xA1)))
        .Add("10.0.0.2", 2, "odd", {1, 2, 3, 4, 5, 6, 7, 8})
        .Add("10.0.0.3", 3, "no row");
    CProtocol& engine = rig.Start(false);
    engine.EnumerateInterfaces({});
    EXPECT_EQ(engine.Interfaces()[0].mac, Mac(0xA1));
    EXPECT_EQ(engine.Interfaces()[1].mac, MacAddress{});
    EXPECT_EQ(engine.Interfaces()[2].mac, MacAddress{});

    // Requests on an adapter without a MAC carry a zero requester MAC.
    ASSERT_TRUE(engine.SelectInterface(1));
    engine.SendSearch(2);
    const auto& d = rig.transport.Sent().back().bytes;
    EXPECT_TRUE(std::all_of(d.begin() + 12, d.begin() + 18, [](auto b) { return b == 0; }));
}

struct SelectionCase {
    const char* name;
    MacAddress preferred;
    int expected;
};
void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }

class Selection : public Adapters, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selection, PicksTheAdapterWithTheRememberedMacOrTheFirst) {
    rig.host.Add("10.0.0.1", 1, "a", Bytes(Mac(0xA1)))
        .Add("10.0.0.2", 2, "b without MAC")
        .Add("10.0.0.3", 3, "c", Bytes(Mac(0xA3)))
        .Add("10.0.0.4", 4, "d", Bytes(Mac(0xA4)))
        .Add("10.0.0.5", 5, "e same MAC as d", Bytes(Mac(0xA4)));
    CProtocol& engine = rig.Start(false);
    EXPECT_EQ(engine.EnumerateInterfaces(GetParam().preferred), 5);
    EXPECT_EQ(engine.SelectedInterface(), GetParam().expected);
    ASSERT_TRUE(engine.SocketReady());
    const auto& chosen = engine.Interfaces()[static_cast<std::size_t>(GetParam().expected)];
    EXPECT_EQ(rig.transport.BoundAddress(), Ipv4Text(chosen.ipAddress));
    EXPECT_EQ(rig.transport.BoundIfIndex(), chosen.ifIndex);
    EXPECT_EQ(engine.LocalInterface().mac, chosen.mac);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, Selection,
    ::testing::Values(SelectionCase{"ThirdEntryMatches", Mac(0xA3), 2},
                      SelectionCase{"NoMatchGivesFirst", Mac(0xEE), 0},
                      SelectionCase{"LaterMatchWins", Mac(0xA4), 4},
                      // Nothing remembered must not pick the adapter that has no MAC.
                      SelectionCase{"ZeroMeansNoneRemembered", MacAddress{}, 0}),
    ByName());

TEST_F(Adapters, UnreadableInterfaceListSelectsNothingAndKeepsTheSocket) {
    rig.host.Add("10.0.0.1", 1, "a", Bytes(Mac(0xA1)));
    CProtocol& engine = rig.Start(false);
    rig.host.rowsReadable = false;
    EXPECT_EQ(engine.EnumerateInterfaces(Mac(0xA1)), 0);
    EXPECT_EQ(engine.SelectedInterface(), -1);
    EXPECT_EQ(rig.transport.Binds().size(), 1u) << "only the start-up binding";
    EXPECT_TRUE(engine.SocketReady());
}

TEST_F(Adapters, NoAdapterLeavesTheSocketNotReady) {
    CProtocol& engine = rig.Start(false);
    EXPECT_EQ(engine.EnumerateInterfaces({}), 0);
    EXPECT_FALSE(engine.SocketReady());
    EXPECT_EQ(engine.SendSearch(2), PROTO_SOCKET_NOT_READY);
}

TEST_F(Adapters, SelectingTheSelectedAdapterDoesNotRebind) {
    rig.host.Add("10.0.0.1", 1, "a", Bytes(Mac(0xA1))).Add("10.0.0.2", 2, "b", Bytes(Mac(0xA2)));
    CProtocol& engine = rig.Start(false);
    engine.EnumerateInterfaces({});
    const auto binds = rig.transport.Binds().size();
    EXPECT_TRUE(engine.SelectInterface(0));
    EXPECT_EQ(rig.transport.Binds().size(), binds);
}

TEST_F(Adapters, SelectingAnotherAdapterStopsTheSearchAndRebindsAfterClosing) {
    rig.host.Add("10.0.0.1", 1, "a", Bytes(Mac(0xA1))).Add("10.0.0.2", 2, "b", Bytes(Mac(0xA2)));
    CProtocol& engine = rig.Start(false);
    engine.EnumerateInterfaces({});
    engine.StartSearch();
    rig.clock.Advance(milliseconds(100));
    const int closes = rig.transport.CloseCount();
    EXPECT_TRUE(engine.SelectInterface(1));
    EXPECT_EQ(rig.transport.CloseCount(), closes + 1);
    EXPECT_EQ(rig.transport.BoundAddress(), "10.0.0.2");
    EXPECT_EQ(rig.transport.BoundIfIndex(), 2);
    EXPECT_FALSE(engine.SearchRunning());
    rig.clock.Advance(milliseconds(10000));
    EXPECT_EQ(rig.transport.Sent().size(), 1u) << "the cycle's later requests are not sent";
    EXPECT_EQ(rig.clock.LiveTimers(), 0u);
}

TEST_F(Adapters, FailedSelectionLeavesNoneSelectedUntilAnotherSucceeds) {
    rig.host.Add("10.0.0.1", 1, "a", Bytes(Mac(0xA1))).Add("10.0.0.2", 2, "b", Bytes(Mac(0xA2)));
    CProtocol& engine = rig.Start(false);
    engine.EnumerateInterfaces({});
    EXPECT_FALSE(engine.SelectInterface(7));
    EXPECT_EQ(engine.SelectedInterface(), -1);
    EXPECT_FALSE(engine.SocketReady());

    rig.transport.FailBind(true);
    EXPECT_FALSE(engine.SelectInterface(1));
    EXPECT_EQ(engine.SelectedInterface(), -1);
    EXPECT_FALSE(engine.SocketReady());
    EXPECT_EQ(engine.SendSearch(2), PROTO_SOCKET_NOT_READY);

    rig.transport.FailBind(false);
    EXPECT_TRUE(engine.SelectInterface(0)) << "retrying the old position rebinds";
    EXPECT_TRUE(engine.SocketReady());
    EXPECT_EQ(engine.SelectedInterface(), 0);
}

TEST_F(Adapters, DisplayTextIsAddressSlashDescription) {
    rig.host.Add("192.168.0.5", 1, "Ethernet adapter", Bytes(Mac(0xA1)));
    CProtocol& engine = rig.Start(false);
    engine.EnumerateInterfaces({});
    EXPECT_EQ(engine.InterfaceDisplayText(0), "192.168.0.5 / Ethernet adapter");
    EXPECT_EQ(engine.InterfaceDisplayText(1), "");
    EXPECT_EQ(engine.InterfaceDisplayText(-1), "");
}

}  // namespace
}  // namespace valdrune::test
