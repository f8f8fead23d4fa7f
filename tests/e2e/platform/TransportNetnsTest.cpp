// The transport in a pc namespace with two adapters, pc0 and pc1, each joined to its own
// devices namespace: broadcasts leave by the selected adapter only, answers count only when
// they arrive on it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/UdpTransport.h"
#include "tests/e2e/platform/Peer.h"
#include "tests/unit/platform/DatagramLog.h"
#include "tests/unit/platform/QtTestApp.h"

namespace valdrune {
namespace {

using e2e::Bytes;
using e2e::NetNs;
using e2e::PcNamespaceTest;
using e2e::Peer;
using e2e::Text;

// Sockets bound to UDP port `port` in this thread's namespace.
int SocketsOnPort(std::uint16_t port) {
    std::ifstream in("/proc/thread-self/net/udp");
    char needle[8];
    std::snprintf(needle, sizeof needle, ":%04X ", port);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        if ((local + " ").find(needle) != std::string::npos) ++count;
    }
    return count;
}

class TransportNetns : public PcNamespaceTest<> {
  protected:
    TransportNetns() : PcNamespaceTest("pl-udp", 2) { test::App(); }
    void SetUpInPc() override {
        pc0_ = static_cast<std::int32_t>(if_nametoindex("pc0"));
        pc1_ = static_cast<std::int32_t>(if_nametoindex("pc1"));
        ASSERT_GT(pc0_, 0);
        ASSERT_GT(pc1_, 0);
        for (int k = 0; k < 2; ++k) {
            devices_[k] = std::make_unique<Peer>(net_.DevNs(k), "dev0", DEVICE_PORT);
            ASSERT_TRUE(devices_[k]->Ok());
        }
        log_.Attach(transport_);
    }
    void TearDown() override {
        transport_.Close();
        PcNamespaceTest::TearDown();
    }

    // Waits until `count` datagrams were handed over, then a little longer for strays.
    void Collect(std::size_t count) {
        test::RunUntil([&] { return log_.received.size() >= count; }, 2000);
        test::RunFor(50);
    }

    std::int32_t pc0_ = 0, pc1_ = 0;
    std::unique_ptr<Peer> devices_[2];
    UdpTransport transport_;
    test::DatagramLog<1000> log_;
};

TEST_F(TransportNetns, BroadcastLeavesByTheSelectedAdapterOnly) {
    // pc1 on purpose: the default route points into segment 0, so only the adapter named in
    // the send can take the datagram to segment 1.
    for (const int k : {1, 0}) {
        ASSERT_EQ(transport_.CreateAndBind(net_.PcIp(k), k == 0 ? pc0_ : pc1_), 0);
        ASSERT_GT(transport_.SendBroadcast(Text("search").data(), 6), 0);
        const auto got = devices_[k]->Receive(1000);
        ASSERT_TRUE(got.has_value()) << "segment " << k;
        EXPECT_EQ(got->bytes, Text("search"));
        EXPECT_EQ(got->from, net_.PcIp(k));
        EXPECT_EQ(got->fromPort, LOCAL_PORT);
        EXPECT_FALSE(devices_[1 - k]->Receive(100).has_value()) << "leaked into " << 1 - k;
    }
}

TEST_F(TransportNetns, AnswersCountOnlyWhenTheyArriveOnTheSelectedAdapter) {
    ASSERT_EQ(transport_.CreateAndBind(net_.PcIp(0), pc0_), 0);
    // Segment 1 may reach pc0's address through pc1 (the host answers ARP for any of its
    // addresses on any adapter): the weak-host path that must not leak either.
    ASSERT_EQ(net_.RunInDev({"ip", "route", "add", net_.PcIp(0) + "/32", "dev", "dev0"}, 5000, 1)
                  .exitCode,
              0);
    ASSERT_TRUE(devices_[1]->SendTo(net_.PcIp(1), LOCAL_PORT, Text("other unicast")));
    ASSERT_TRUE(devices_[1]->SendTo("255.255.255.255", LOCAL_PORT, Text("other broadcast")));
    ASSERT_TRUE(devices_[1]->SendTo(net_.PcIp(0), LOCAL_PORT, Text("other via pc1")));
    ASSERT_TRUE(devices_[0]->SendTo(net_.PcIp(0), LOCAL_PORT, Text("unicast")));
    ASSERT_TRUE(devices_[0]->SendTo("255.255.255.255", LOCAL_PORT, Text("broadcast")));
    Collect(2);
    // The other three are kept out by the socket's binding to its adapter, or, where the
    // kernel refuses that binding, dropped by the arrival-adapter filter.
    EXPECT_EQ(log_.received, (std::vector<Bytes>{Text("unicast"), Text("broadcast")}));

    // After selecting pc1 the roles swap.
    log_.received.clear();
    ASSERT_EQ(transport_.CreateAndBind(net_.PcIp(1), pc1_), 0);
    ASSERT_TRUE(devices_[0]->SendTo(net_.PcIp(0), LOCAL_PORT, Text("old unicast")));
    ASSERT_TRUE(devices_[0]->SendTo("255.255.255.255", LOCAL_PORT, Text("old broadcast")));
    ASSERT_TRUE(devices_[1]->SendTo(net_.PcIp(1), LOCAL_PORT, Text("new unicast")));
    Collect(1);
    EXPECT_EQ(log_.received, (std::vector<Bytes>{Text("new unicast")}));
}

TEST_F(TransportNetns, RebindClosesTheOldSocketFirst) {
    ASSERT_EQ(transport_.CreateAndBind("", -1), 0);
    EXPECT_EQ(SocketsOnPort(LOCAL_PORT), 1);
    ASSERT_EQ(transport_.CreateAndBind(net_.PcIp(0), pc0_), 0);
    EXPECT_EQ(SocketsOnPort(LOCAL_PORT), 1);
    ASSERT_EQ(transport_.CreateAndBind(net_.PcIp(1), pc1_), 0);
    EXPECT_EQ(SocketsOnPort(LOCAL_PORT), 1);
    // A failed rebind leaves nothing open.
    EXPECT_EQ(transport_.CreateAndBind("10.1.2.3", -1), -12);
    EXPECT_EQ(SocketsOnPort(LOCAL_PORT), 0);
}

TEST_F(TransportNetns, PortHeldWithoutAddressReuseGivesMinus12) {
    const int holder = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(LOCAL_PORT);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    EXPECT_EQ(transport_.CreateAndBind(net_.PcIp(0), pc0_), -12);
    EXPECT_FALSE(transport_.IsOpen());
    ::close(holder);
    EXPECT_EQ(transport_.CreateAndBind(net_.PcIp(0), pc0_), 0);
}

TEST_F(TransportNetns, LongDatagramIsReadTruncatedAndTheNextOneWhole) {
    ASSERT_EQ(transport_.CreateAndBind(net_.PcIp(0), pc0_), 0);
    Bytes big(1400);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i % 251);
    ASSERT_TRUE(devices_[0]->SendTo(net_.PcIp(0), LOCAL_PORT, big));
    ASSERT_TRUE(devices_[0]->SendTo(net_.PcIp(0), LOCAL_PORT, Text("after")));
    Collect(2);
    ASSERT_EQ(log_.received.size(), 2u);
    EXPECT_EQ(log_.received[0], Bytes(big.begin(), big.begin() + 1000));
    EXPECT_EQ(log_.received[1], Text("after"));
}

}  // namespace
}  // namespace valdrune
