// Real ICMP echo inside namespaces, through a ping socket and through the probe helper.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <cstdio>
#include <fstream>

#include "platform/linux/EchoProber.h"
#include "platform/qt/QtScheduler.h"
#include "tests/e2e/lib/NetNs.h"
#include "tests/unit/platform/QtTestApp.h"

namespace valdrune {
namespace {

using e2e::Address;
using e2e::NetNs;
using e2e::PcNamespaceTest;

// The namespace's own switch for unprivileged ping sockets (this thread's namespace).
void SetPingGroupRange(const char* range) {
    std::ofstream("/proc/sys/net/ipv4/ping_group_range") << range;
}

struct Outcome {
    int code = 12345;
    int calls = 0;
    qint64 ms = -1;
};

class EchoNetns : public PcNamespaceTest<testing::TestWithParam<EchoSocketKind>> {
  protected:
    EchoNetns() : PcNamespaceTest("pl-echo", 2) { test::App(); }
    void SetUpInPc() override {
        SetPingGroupRange(GetParam() == EchoSocketKind::Ping ? "0 2147483647" : "1 0");
        ASSERT_EQ(AvailableEchoSocket(VALDRUNE_NETPROBE_BINARY), GetParam());
    }
    void Start(LinuxEchoProber& prober, const std::string& address, int timeoutMs, Outcome& out) {
        auto clock = std::make_shared<QElapsedTimer>();
        clock->start();
        prober.Probe(Address(address), "ICMP SEND DATA", Milliseconds{timeoutMs},
                     [&out, clock](int code) {
                         out.code = code;
                         ++out.calls;
                         out.ms = clock->elapsed();
                     });
    }

    QtScheduler scheduler_{1};
};

TEST_P(EchoNetns, ConcurrentProbesEachGetTheirOwnOutcome) {
    LinuxEchoProber prober(scheduler_, VALDRUNE_NETPROBE_BINARY);
    EXPECT_TRUE(prober.CanProbe());
    Outcome present0, present1, absent;
    Start(prober, net_.DevIp(0), 1000, present0);
    Start(prober, net_.Subnet(0) + ".77", 300, absent);  // on the link, nobody there
    Start(prober, net_.DevIp(1), 1000, present1);
    ASSERT_TRUE(test::RunUntil([&] { return absent.calls && present0.calls && present1.calls; }));
    test::RunFor(20);
    EXPECT_EQ(present0.code, ECHO_ANSWERED);
    EXPECT_EQ(present1.code, ECHO_ANSWERED);
    EXPECT_LT(present0.ms, 300);
    // Neighbour resolution gives up after seconds, so the time-out comes first.
    EXPECT_TRUE(absent.code == ECHO_TIMED_OUT || absent.code == ECHO_HOST_UNREACHABLE)
        << absent.code;
    EXPECT_GE(absent.ms, 290);
    EXPECT_EQ(present0.calls + present1.calls + absent.calls, 3);  // exactly once each
    EXPECT_EQ(prober.Outstanding(), 0u);
    std::printf("echo answered after %lld ms and %lld ms; absent host %d after %lld ms\n",
                static_cast<long long>(present0.ms), static_cast<long long>(present1.ms),
                absent.code, static_cast<long long>(absent.ms));
}

TEST_P(EchoNetns, NoRouteIsNetUnreachableWithoutWaiting) {
    // Segment 1's namespace has no default route.
    NetNs::Entered inDev(net_.DevNs(1));
    ASSERT_TRUE(inDev.Ok());
    SetPingGroupRange(GetParam() == EchoSocketKind::Ping ? "0 2147483647" : "1 0");
    LinuxEchoProber prober(scheduler_, VALDRUNE_NETPROBE_BINARY);
    Outcome out;
    Start(prober, "10.200.1.1", 1000, out);
    EXPECT_EQ(out.calls, 0);  // never from inside Probe
    ASSERT_TRUE(test::RunUntil([&] { return out.calls == 1; }));
    EXPECT_EQ(out.code, ECHO_NET_UNREACHABLE);
    EXPECT_LT(out.ms, 200);
}

TEST_P(EchoNetns, RouterVerdictsBeyondTheSegment) {
    // The default route leads into segment 0's namespace, which acts as the router.
    LinuxEchoProber prober(scheduler_, VALDRUNE_NETPROBE_BINARY);
    auto probe = [&](const std::string& address) {
        Outcome out;
        Start(prober, address, 300, out);
        EXPECT_TRUE(test::RunUntil([&] { return out.calls == 1; }));
        return out;
    };
    // Not forwarding: the echo is dropped silently.
    const Outcome dropped = probe("10.200.1.1");
    EXPECT_EQ(dropped.code, ECHO_TIMED_OUT);
    EXPECT_GE(dropped.ms, 290);

    // Forwarding without a route, and with a route that refuses: the router says why. (The
    // router rate-limits its errors, so only two are asked for; the other codes are covered
    // by the packet tests.)
    auto inDev = [&](std::vector<std::string> argv) {
        return net_.RunInDev(argv, 5000, 0).exitCode;
    };
    ASSERT_EQ(inDev({"sysctl", "-q", "-w", "net.ipv4.ip_forward=1"}), 0);
    ASSERT_EQ(inDev({"ip", "route", "add", "unreachable", "10.201.0.0/16"}), 0);
    const Outcome noRoute = probe("10.200.1.2");
    const Outcome unreachable = probe("10.201.1.1");
    EXPECT_EQ(noRoute.code, ECHO_NET_UNREACHABLE);
    EXPECT_EQ(unreachable.code, ECHO_HOST_UNREACHABLE);
    EXPECT_LT(noRoute.ms, 200);
    EXPECT_LT(unreachable.ms, 200);
    std::printf("router verdicts: dropped %d (%lld ms), no route %d (%lld ms), unreachable %d\n",
                dropped.code, static_cast<long long>(dropped.ms), noRoute.code,
                static_cast<long long>(noRoute.ms), unreachable.code);
}

TEST_P(EchoNetns, CancelledProbesNeverCallBack) {
    Outcome a, b;
    {
        LinuxEchoProber prober(scheduler_, VALDRUNE_NETPROBE_BINARY);
        Start(prober, net_.DevIp(0), 1000, a);
        Start(prober, "10.200.1.1", 50, b);
        prober.CancelAll();
        EXPECT_EQ(prober.Outstanding(), 0u);
        Outcome c;
        Start(prober, net_.DevIp(0), 1000, c);  // still usable after CancelAll
        ASSERT_TRUE(test::RunUntil([&] { return c.calls == 1; }));
        EXPECT_EQ(c.code, ECHO_ANSWERED);
        Start(prober, net_.DevIp(0), 1000, b);  // destroyed while outstanding
    }
    test::RunFor(100);
    EXPECT_EQ(a.calls, 0);
    EXPECT_EQ(b.calls, 0);
}

// The device side of a spoofing attempt, in the target's namespace with the kernel's own echo
// answers switched off: it sees our request, lets a third address forge errors about it, and
// only then answers genuinely.
class Forger {
  public:
    Forger(const std::string& ns, std::string target, std::string third)
        : target_(std::move(target)), third_(std::move(third)) {
        NetNs::Entered inside(ns);
        if (!inside.Ok()) return;
        std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << "1";
        listen_ = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
        forge_ = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);  // header included
    }
    ~Forger() {
        for (int fd : {listen_, forge_})
            if (fd >= 0) ::close(fd);
    }
    bool Ok() const { return listen_ >= 0 && forge_ >= 0; }

    // Polled from the event loop: answers the first echo request to the target.
    bool Step() {
        if (done_) return true;
        std::uint8_t packet[1500];
        const ssize_t n = ::recv(listen_, packet, sizeof packet, 0);
        if (n < 28) return false;
        const std::size_t header = std::size_t{packet[0] & 0x0Fu} * 4;
        const std::uint8_t* icmp = packet + header;
        if (icmp[0] != 8 || Text(packet + 16) != target_) return false;
        const std::vector<std::uint8_t> request(icmp, static_cast<const std::uint8_t*>(packet) + n);
        const std::vector<std::uint8_t> quoted(packet, packet + n);
        const std::string pc = Text(packet + 12);
        // Host unreachable from a third address: once with a made-up id and sequence, once
        // with our id and the next sequence, once quoting another kind of packet.
        auto bogus = quoted;
        bogus[header + 4] ^= 0x5A;
        bogus[header + 6] ^= 0x33;
        auto nextSequence = quoted;
        nextSequence[header + 7] = static_cast<std::uint8_t>(nextSequence[header + 7] + 1);
        auto timestamp = quoted;
        timestamp[header] = 13;
        for (const auto* q : {&bogus, &nextSequence, &timestamp}) {
            std::vector<std::uint8_t> error = {3, 1, 0, 0, 0, 0, 0, 0};
            error.insert(error.end(), q->begin(), q->end());
            SendFrom(third_, pc, error);
        }
        // A reply from the third address with our id and sequence is no answer either.
        auto reply = request;
        reply[0] = 0;
        SendFrom(third_, pc, reply);
        ::usleep(50000);
        SendFrom(target_, pc, reply);
        done_ = true;
        return true;
    }

  private:
    static std::string Text(const std::uint8_t* address) {
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, address, text, sizeof text);
        return text;
    }
    static std::uint16_t Sum(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t to) {
        std::uint32_t s = 0;
        for (std::size_t i = from; i + 1 < to; i += 2) s += (b[i] << 8) | b[i + 1];
        if ((to - from) % 2) s += b[to - 1] << 8;
        while (s >> 16) s = (s & 0xFFFF) + (s >> 16);
        return static_cast<std::uint16_t>(~s);
    }
    void SendFrom(const std::string& source, const std::string& to,
                  std::vector<std::uint8_t> icmp) {
        icmp[2] = icmp[3] = 0;
        const std::uint16_t c = Sum(icmp, 0, icmp.size());
        icmp[2] = static_cast<std::uint8_t>(c >> 8);
        icmp[3] = static_cast<std::uint8_t>(c);
        std::vector<std::uint8_t> ip(20, 0);
        ip[0] = 0x45;
        ip[2] = static_cast<std::uint8_t>((20 + icmp.size()) >> 8);
        ip[3] = static_cast<std::uint8_t>(20 + icmp.size());
        ip[8] = 64;
        ip[9] = 1;
        ::inet_pton(AF_INET, source.c_str(), &ip[12]);
        ::inet_pton(AF_INET, to.c_str(), &ip[16]);
        ip.insert(ip.end(), icmp.begin(), icmp.end());
        sockaddr_in dst{};
        dst.sin_family = AF_INET;
        ::inet_pton(AF_INET, to.c_str(), &dst.sin_addr);
        ::sendto(forge_, ip.data(), ip.size(), 0, reinterpret_cast<sockaddr*>(&dst), sizeof dst);
    }

    std::string target_, third_;
    int listen_ = -1, forge_ = -1;
    bool done_ = false;
};

TEST_P(EchoNetns, ForgedErrorsFromAThirdAddressDoNotHideTheTarget) {
    Forger forger(net_.DevNs(0), net_.DevIp(0), net_.Subnet(0) + ".99");
    ASSERT_TRUE(forger.Ok());
    LinuxEchoProber prober(scheduler_, VALDRUNE_NETPROBE_BINARY);
    Outcome out;
    Start(prober, net_.DevIp(0), 1000, out);
    ASSERT_TRUE(test::RunUntil([&] { return forger.Step() && out.calls == 1; }, 3000));
    EXPECT_EQ(out.code, ECHO_ANSWERED);
}

INSTANTIATE_TEST_SUITE_P(Sockets, EchoNetns,
                         testing::Values(EchoSocketKind::Ping, EchoSocketKind::Raw),
                         [](const testing::TestParamInfo<EchoSocketKind>& p) {
                             return p.param == EchoSocketKind::Ping ? "PingSocket" : "RawSocket";
                         });

}  // namespace
}  // namespace valdrune
