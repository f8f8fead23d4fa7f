// valdrune-sim on real sockets: a minimal PC client in the pc namespace searches, sets a
// device's address, and finds it answering echo requests at the new one.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <optional>

#include "protocol/Datagram.h"
#include "protocol/Decoder.h"
#include "tests/e2e/lib/NetNs.h"

namespace valdrune {
namespace {

using Clock = std::chrono::steady_clock;

// The PC side reduced to a socket: bound to port 10669 on one adapter, broadcasting out of it.
class Client {
public:
    Client(const std::string& ifName, const MacAddress& mac, std::uint32_t ip)
        : pc_{mac, ip} {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, ifName.c_str(),
                   static_cast<socklen_t>(ifName.size()));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(LOCAL_PORT);
        ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Client() {
        if (fd_ >= 0) close(fd_);
    }
    bool Ok() const { return ok_; }
    const Requester& Pc() const { return pc_; }

    bool Broadcast(const std::vector<std::uint8_t>& d) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(DEVICE_PORT);
        to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        return sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
               static_cast<ssize_t>(d.size());
    }

    // Next valid datagram within timeoutMs.
    std::optional<std::vector<std::uint8_t>> Receive(int timeoutMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - Clock::now()).count();
            if (left <= 0) return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            std::vector<std::uint8_t> buf(RECEIVE_BUFFER_SIZE);
            const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
            if (n <= 0) continue;
            buf.resize(static_cast<std::size_t>(n));
            if (ValidateAnswer(buf, pc_.mac)) return buf;
        }
    }

    // Searches and collects the decoded answers (latest per MAC) for windowMs.
    std::map<std::string, _CommandDataTable> Search(int windowMs) {
        std::map<std::string, _CommandDataTable> found;
        Broadcast(BuildSearchRequest(2, pc_));
        const auto end = Clock::now() + std::chrono::milliseconds(windowMs);
        while (Clock::now() < end) {
            auto d = Receive(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  end - Clock::now()).count()));
            if (!d) break;
            auto h = ValidateAnswer(*d, pc_.mac);
            if (h->command != CMD_SEARCH_REPLY) continue;
            auto r = DecodeDeviceAnswer(*d, h->payloadLength,
                                        {h->deviceMac, h->protocolMode, h->capability, h->sequence});
            if (r.hadAddress) found[MacText(h->deviceMac)] = r.record;
        }
        return found;
    }

    // Waits for a datagram with this command from this MAC.
    std::optional<AnswerHeader> Await(std::uint16_t command, const MacAddress& mac, int timeoutMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < end) {
            auto d = Receive(100);
            if (!d) continue;
            auto h = ValidateAnswer(*d, pc_.mac);
            if (h->command == command && h->deviceMac == mac) return h;
        }
        return std::nullopt;
    }

private:
    Requester pc_;
    int fd_ = -1;
    bool ok_ = false;
};

std::uint32_t Addr(const std::string& text) {
    std::uint32_t v = 0;
    ParseIpv4(text, v);
    return v;
}

class SimE2e : public ::testing::Test {
protected:
    void SetUp() override {
        VALDRUNE_REQUIRE_NETNS(net);
        MacAddress mac{};
        ASSERT_TRUE(ParseMac(net.PcMac(), mac));
        pcMac = mac;
    }
    e2e::NetNs net{"sim"};
    MacAddress pcMac{};
};

TEST_F(SimE2e, SearchIsAnsweredByEveryDeviceOfTheDemoWithItsFields) {
    net.StartSim({"--scenario", "demo"});
    auto inPc = net.EnterPc();
    ASSERT_TRUE(inPc.Ok());
    Client client(net.PcIf(), pcMac, Addr(net.PcIp()));
    ASSERT_TRUE(client.Ok());
    const auto found = client.Search(1500);

    ASSERT_EQ(found.size(), 11u);
    int kinds[3] = {};
    for (const auto& [mac, r] : found) {
        kinds[r.kind == DEVICE_KIND_STANDARD ? 0 : r.kind == DEVICE_KIND_LEGACY ? 1 : 2]++;
    }
    EXPECT_EQ(kinds[0], 7);
    EXPECT_EQ(kinds[1], 2);
    EXPECT_EQ(kinds[2], 2);
    // The factory-default device in another network is heard too (answers are broadcast).
    const auto& factory = found.at("02-00-00-03-00-09");
    EXPECT_EQ(Ipv4Text(factory.primary.ipAddress), "192.168.1.254");
    EXPECT_EQ(FieldText(factory.model), "RT-WNT528CN");
    const auto& japanese = found.at("02-00-00-30-00-02");
    EXPECT_EQ(FieldText(japanese.deviceName), "\xE7\x8E\x84\xE9\x96\xA2\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9");
    EXPECT_EQ(found.at("02-00-00-30-00-04").statusBits & 1, 1);
    EXPECT_EQ(found.at("02-00-00-30-00-06").primary.ipAddress,
              found.at("02-00-00-30-00-07").primary.ipAddress);
}

TEST_F(SimE2e, SettingsTransactionMovesTheAddressAndEchoFollowsIt) {
    net.StartSim({"--scenario", "kinds", "--verbose"}, 0, 50);
    const std::string oldIp = net.Subnet() + ".21";
    const std::string newIp = net.Subnet() + ".99";
    ASSERT_EQ(net.RunInPc({"ping", "-c1", "-W1", oldIp}).exitCode, 0) << "device not on " << oldIp;

    {
        auto inPc = net.EnterPc();
        ASSERT_TRUE(inPc.Ok());
        Client client(net.PcIf(), pcMac, Addr(net.PcIp()));
        ASSERT_TRUE(client.Ok());
        auto found = client.Search(800);
        ASSERT_TRUE(found.count("02-00-00-30-00-01"));
        _CommandDataTable r = found.at("02-00-00-30-00-01");
        ASSERT_EQ(r.kind, DEVICE_KIND_STANDARD);
        r.primary.ipAddress = Addr(newIp);

        std::uint16_t seq = 0;
        const auto request = BuildSettingsRequest(r, CMD_SETUP_V2, MASK_STANDARD, client.Pc(), &seq);
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(client.Broadcast(request));
        auto accepted = client.Await(CMD_SETUP_V2_REPLY, r.primary.mac, 2000);
        ASSERT_TRUE(accepted) << "no acceptance";
        EXPECT_EQ(accepted->sequence, seq);
        for (int i = 0; i < 3; ++i)
            client.Broadcast(BuildConfirmation(CMD_SETUP_V2_CONFIRM, r.primary.mac,
                                               r.capabilityFlag, seq, client.Pc()));

        // 35 s of restart at 1/50: back after 700 ms with the new address.
        std::optional<_CommandDataTable> back;
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (!back && Clock::now() < end) {
            auto again = client.Search(300);
            auto it = again.find("02-00-00-30-00-01");
            if (it != again.end()) back = it->second;
        }
        ASSERT_TRUE(back) << "device did not come back";
        EXPECT_EQ(Ipv4Text(back->primary.ipAddress), newIp);
        EXPECT_EQ(back->sequence, static_cast<std::uint16_t>(seq + 1));
    }
    EXPECT_EQ(net.RunInPc({"ping", "-c1", "-W1", newIp}).exitCode, 0) << "no echo at " << newIp;
    EXPECT_NE(net.RunInPc({"ping", "-c1", "-W1", oldIp}).exitCode, 0) << "old address still answers";
}

}  // namespace
}  // namespace valdrune
