// The transport against loopback only: unicast datagrams from a local socket, nothing is
// broadcast. Adapter selection across real adapters is covered in the namespace tests.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DatagramLog.h"
#include "QtTestApp.h"
#include "platform/UdpTransport.h"

namespace valdrune {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

class LoopbackTransport : public testing::Test {
  protected:
    void SetUp() override {
        test::App();
        port_ = FreeLoopbackPort();
        sender_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(sender_, 0);
    }
    void TearDown() override { ::close(sender_); }

    void Send(const Bytes& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port_);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::sendto(sender_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                           sizeof to),
                  static_cast<ssize_t>(bytes.size()));
    }

    std::uint16_t port_ = 0;
    int sender_ = -1;
    test::DatagramLog<1000> log_;
};

TEST_F(LoopbackTransport, BindFailuresGiveMinus12AndLeaveItClosed) {
    UdpTransport t(port_);
    ASSERT_EQ(t.CreateAndBind("127.0.0.1", -1), 0);
    ASSERT_TRUE(t.IsOpen());
    for (const auto& [address, ifIndex] : std::vector<std::pair<std::string, int>>{
             {"127.0.0.300", -1}, {"localhost", -1}, {"203.0.113.7", -1}, {"", 999999}}) {
        EXPECT_EQ(t.CreateAndBind(address, ifIndex), -12) << address << " " << ifIndex;
        EXPECT_FALSE(t.IsOpen());
        EXPECT_EQ(t.SendBroadcast(reinterpret_cast<const std::uint8_t*>("x"), 1), -1);
    }
}

TEST_F(LoopbackTransport, AddressAloneSelectsItsAdapter) {
    UdpTransport t(port_);
    ASSERT_EQ(t.CreateAndBind("127.0.0.1", -1), 0);
    EXPECT_EQ(t.BoundIfIndex(), static_cast<std::int32_t>(if_nametoindex("lo")));
    ASSERT_EQ(t.CreateAndBind("", -1), 0);
    EXPECT_EQ(t.BoundIfIndex(), -1);
}

TEST_F(LoopbackTransport, HandsOverEachDatagramAloneAndTruncatesAt1000) {
    UdpTransport t(port_);
    ASSERT_EQ(t.CreateAndBind("127.0.0.1", -1), 0);
    log_.Attach(t);
    Bytes big(1500);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    Send({1, 2, 3, 4, 5});
    Send(big);
    Send({9, 8, 7});
    ASSERT_TRUE(test::RunUntil([&] { return log_.received.size() >= 3; }));
    ASSERT_EQ(log_.received.size(), 3u);
    EXPECT_EQ(log_.received[0], (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(log_.received[1], Bytes(big.begin(), big.begin() + 1000));
    EXPECT_EQ(log_.received[2], (Bytes{9, 8, 7}));
}

TEST_F(LoopbackTransport, ReceivesOnAnyAddressBeforeAnAdapterIsChosen) {
    UdpTransport t(port_);
    ASSERT_EQ(t.CreateAndBind("", -1), 0);
    log_.Attach(t);
    Send({42});
    ASSERT_TRUE(test::RunUntil([&] { return log_.received.size() == 1; }));
    EXPECT_EQ(log_.received[0], Bytes{42});
}

TEST_F(LoopbackTransport, WithoutReceiverDatagramsAreReadAndDropped) {
    UdpTransport t(port_);
    ASSERT_EQ(t.CreateAndBind("127.0.0.1", -1), 0);
    Send({1});
    t.ReadPending();
    log_.Attach(t);
    Send({2});
    ASSERT_TRUE(test::RunUntil([&] { return !log_.received.empty(); }));
    test::RunFor(5);
    ASSERT_EQ(log_.received.size(), 1u);
    EXPECT_EQ(log_.received[0], Bytes{2});
}

TEST_F(LoopbackTransport, ClosingFromTheReceiverStopsFurtherReads) {
    UdpTransport t(port_);
    ASSERT_EQ(t.CreateAndBind("127.0.0.1", -1), 0);
    int calls = 0;
    t.SetReceiver(log_.buffer, sizeof log_.buffer, [&](std::size_t) {
        ++calls;
        t.Close();
    });
    Send({1});
    Send({2});
    t.ReadPending();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(t.IsOpen());
    test::RunFor(5);  // the dropped watch must not fire on a closed descriptor
    EXPECT_EQ(calls, 1);
}

TEST_F(LoopbackTransport, RebindFromTheReceiverReadsOnlyFromTheNewSocket) {
    UdpTransport t(port_);
    ASSERT_EQ(t.CreateAndBind("127.0.0.1", -1), 0);
    int calls = 0;
    t.SetReceiver(log_.buffer, sizeof log_.buffer, [&](std::size_t) {
        if (++calls == 1) {
            EXPECT_EQ(t.CreateAndBind("127.0.0.1", -1), 0);
        }
    });
    Send({1});
    Send({2});  // queued on the old socket: gone with it
    ASSERT_TRUE(test::RunUntil([&] { return calls >= 1; }));
    test::RunFor(10);
    EXPECT_EQ(calls, 1);
    Send({3});
    ASSERT_TRUE(test::RunUntil([&] { return calls == 2; }));
}

}  // namespace
}  // namespace valdrune
