// The real Winsock and IP Helper calls under Wine, inside the loopback-only namespace every
// run gets: datagrams over loopback (nothing is broadcast anywhere), echo to 127.0.0.1.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <vector>

#include "platform/UdpTransport.h"
#include "platform/qt/QtScheduler.h"
#include "platform/windows/EchoProber.h"
#include "platform/windows/HostNetwork.h"
#include "platform/windows/NeighbourCache.h"
#include "platform/windows/NetworkSurvey.h"
#include "platform/windows/Privileges.h"
#include "platform/windows/Winsock.h"
#include "tests/unit/platform/DatagramLog.h"
#include "tests/unit/platform/QtTestApp.h"

namespace valdrune {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test::App;

// Wine answers more slowly than a native stack.
bool RunUntil(const std::function<bool()>& done, int limitMs = 3000) {
    return test::RunUntil(done, limitMs);
}

class WindowsCalls : public testing::Test {
  protected:
    void SetUp() override {
        App();
        ASSERT_TRUE(winsock_.Started());
    }
    WinsockSession winsock_;
};

std::int32_t LoopbackIndex() {
    std::vector<WindowsAdapterFacts> adapters;
    if (!ReadAdapters(adapters)) return -1;
    for (const auto& a : adapters)
        if (a.loopback) return a.index;
    return -1;
}

TEST_F(WindowsCalls, AdapterListAndInterfaceRowsAreRead) {
    HostNetwork host;
    const auto adapters = host.Adapters();
    ASSERT_FALSE(adapters.empty());
    EXPECT_EQ(adapters.back().ipv4Text, "127.0.0.1");
    std::vector<HostInterfaceRow> rows;
    ASSERT_TRUE(host.InterfaceRows(rows));
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const HostInterfaceRow& r) {
        return r.index == LoopbackIndex();
    }));
    EXPECT_EQ(AdapterOfAddress(htonl(INADDR_LOOPBACK)), LoopbackIndex());
    EXPECT_EQ(AdapterOfAddress(htonl(0x0A0B0C0D)), -1);
}

TEST_F(WindowsCalls, SurveyFindsTheAdapterByAddressAndLeavesOutItsOwnSocketOnThePort) {
    UdpTransport own;
    ASSERT_EQ(own.CreateAndBind("", -1), 0);
    WindowsNetworkSurvey survey;
    const NetworkFacts f = survey.Gather("127.0.0.1", -1);
    ASSERT_TRUE(f.adapterFound);
    EXPECT_EQ(f.adapter.ipv4, 0x7F000001u);
    EXPECT_EQ(f.adapter.prefixLength, 8);
    EXPECT_TRUE(f.portHolders.empty());
    EXPECT_FALSE(f.reversePathRead);
    // The firewall's policy through COM: read, or the failing call named with its HRESULT
    // (Wine's policy object does not implement the profile query). A looped copy that arrives
    // proves nothing here, so the loop is never "arrived".
    if (f.rules == RuleOutcome::Unread) {
        EXPECT_NE(f.untestedReason.find("(0x"), std::string::npos) << f.untestedReason;
    }
    EXPECT_NE(f.loop, LoopOutcome::Arrived);
    EXPECT_EQ(f.asAdministrator, "as administrator");
    EXPECT_NE(f.addressCommand.find("netsh interface ipv4 set address name=\""),
              std::string::npos);
    EXPECT_FALSE(survey.Gather("no-such-adapter", -1).adapterFound);
}

class LoopbackDatagrams : public WindowsCalls {
  protected:
    void SetUp() override {
        WindowsCalls::SetUp();
        sender_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        ASSERT_NE(sender_, INVALID_SOCKET);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(sender_, reinterpret_cast<sockaddr*>(&any), sizeof any);
        int length = sizeof any;
        ::getsockname(sender_, reinterpret_cast<sockaddr*>(&any), &length);
        // The transport listens on the port the sender was given, now free again.
        port_ = ntohs(any.sin_port);
        ::closesocket(sender_);
        sender_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    }
    void TearDown() override { ::closesocket(sender_); }

    void Send(const Bytes& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port_);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::sendto(sender_, reinterpret_cast<const char*>(bytes.data()),
                           static_cast<int>(bytes.size()), 0, reinterpret_cast<sockaddr*>(&to),
                           sizeof to),
                  static_cast<int>(bytes.size()));
    }
    SOCKET sender_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    test::DatagramLog<1200> log_;
};

TEST_F(LoopbackDatagrams, DatagramsArriveOneByOneOnTheEventLoopCutAtTheLargestRead) {
    UdpTransport t(port_, port_);
    log_.Attach(t);
    ASSERT_EQ(t.CreateAndBind("", -1), 0);
    Send({1, 2, 3});
    Send(Bytes(1100, 0x42));  // longer than the engine reads
    Send({9});
    ASSERT_TRUE(RunUntil([&] { return log_.received.size() == 3; })) << log_.received.size();
    EXPECT_EQ(log_.received[0], (Bytes{1, 2, 3}));
    EXPECT_EQ(log_.received[1], Bytes(LARGEST_DATAGRAM_READ, 0x42));
    EXPECT_EQ(log_.received[2], (Bytes{9}));
}

TEST_F(LoopbackDatagrams, ArrivalAdapterComesWithEachDatagram) {
    UdpTransport t(port_, port_);
    log_.Attach(t);
    const std::int32_t lo = LoopbackIndex();
    ASSERT_GE(lo, 0);
    // Bound to the loopback adapter by its address: its own datagrams pass the filter.
    ASSERT_EQ(t.CreateAndBind("127.0.0.1", -1), 0);
    EXPECT_EQ(t.BoundIfIndex(), lo);
    Send({7, 7});
    ASSERT_TRUE(RunUntil([&] { return log_.received.size() == 1; }));
    EXPECT_EQ(t.ForeignDropped(), 0u);
}

TEST_F(LoopbackDatagrams, RefusedBindsAndSendsGiveTheNegativeCodes) {
    UdpTransport t(port_, port_);
    EXPECT_EQ(t.CreateAndBind("300.1.2.3", -1), -12);
    EXPECT_EQ(t.CreateAndBind("10.11.12.13", -1), -12);  // not an address of this host
    EXPECT_EQ(t.CreateAndBind("", 999999), -12);         // no such adapter
    EXPECT_FALSE(t.IsOpen());
    const std::uint8_t byte = 1;
    EXPECT_EQ(t.SendBroadcast(&byte, 1), -1);
    // Open, but this namespace has no route for a broadcast: the send fails, nothing crashes.
    ASSERT_EQ(t.CreateAndBind("", -1), 0);
    EXPECT_LT(t.SendBroadcast(&byte, 1), 0);
}

TEST_F(WindowsCalls, EchoToLoopbackIsAnsweredWithoutBlockingAndCancelledProbesStaySilent) {
    QtScheduler scheduler;
    WindowsEchoProber prober(scheduler);
    ASSERT_TRUE(prober.CanProbe());
    int code = 99;
    prober.Probe(0x7F000001, "ICMP SEND DATA", Milliseconds(1000), [&](int c) { code = c; });
    EXPECT_EQ(code, 99);  // never from inside Probe
    ASSERT_TRUE(RunUntil([&] { return code != 99; }));
    EXPECT_EQ(code, ECHO_ANSWERED);

    int late = 99;
    prober.Probe(0x7F000001, "ICMP SEND DATA", Milliseconds(1000), [&](int c) { late = c; });
    prober.CancelAll();
    EXPECT_EQ(prober.Outstanding(), 0u);
    RunUntil([] { return false; }, 300);
    EXPECT_EQ(late, 99);
}

TEST_F(WindowsCalls, NeighbourTableAndPrivilegesAreReadable) {
    WindowsNeighbourCache cache;
    (void)WindowsNeighbourCache::Table();
    cache.Flush(0x7F000001);  // loopback has no entry: nothing to remove, nothing breaks
    const WindowsPrivilegeReport report = CheckPrivileges();
    EXPECT_TRUE(report.canProbe);
    EXPECT_EQ(report.canFlush, IsElevated());
    EXPECT_EQ(cache.CanFlush(), IsElevated());
}

}  // namespace
}  // namespace valdrune
