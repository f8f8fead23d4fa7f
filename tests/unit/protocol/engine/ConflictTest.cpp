// Address conflicts among answering devices and on the wire.
#include <gmock/gmock.h>

#include <cstdint>
#include <optional>

#include "EngineTest.h"

namespace valdrune::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using std::chrono::milliseconds;

class Overlaps : public EngineTest {
protected:
    // Devices are numbered in the order they are stored.
    _CommandDataTable Store(std::uint8_t mac, const char* ip) {
        auto r = Device(Mac(mac), ip);
        engine().StoreDevice(r);
        return r;
    }
};

TEST_F(Overlaps, ListsTheOtherDevicesWithTheSameAddressByRowAscending) {
    // Discovery numbers deliberately out of table (MAC) order: r 0, p 2, q 3.
    const auto r = Store(0x03, "192.168.0.50");
    Store(0x04, "192.168.0.51");
    const auto p = Store(0x01, "192.168.0.50");
    const auto q = Store(0x02, "192.168.0.50");
    std::vector<std::uint16_t> list{77};
    EXPECT_EQ(engine().FindOverlaps(p, list), 2);
    EXPECT_THAT(list, ElementsAre(0, 3));
    EXPECT_EQ(engine().FindOverlaps(q, list), 2);
    EXPECT_THAT(list, ElementsAre(0, 2));
    EXPECT_EQ(engine().FindOverlaps(r, list), 2);
    EXPECT_THAT(list, ElementsAre(2, 3));
}

TEST_F(Overlaps, ZeroAddressNeverOverlapsAndEmptyTableGivesMinusOne) {
    std::vector<std::uint16_t> list{1, 2};
    EXPECT_EQ(engine().FindOverlaps(Device(Mac(1), "0.0.0.0"), list), -1);
    EXPECT_THAT(list, IsEmpty());
    const auto a = Store(0x01, "0.0.0.0");
    Store(0x02, "0.0.0.0");
    EXPECT_EQ(engine().FindOverlaps(a, list), 0);
    // Nor does a record that is not in the table.
    EXPECT_EQ(engine().FindOverlaps(Device(Mac(0x09), "0.0.0.0"), list), 0);
}

class AddressCheck : public EngineTest {
protected:
    // Runs a check to completion and returns its result and finishing time.
    std::pair<int, std::int64_t> Run(const _CommandDataTable& r, bool changedOnly) {
        std::optional<int> result;
        const auto start = rig.clock.Now();
        engine().CheckAddressInUse(r, changedOnly, [&](int code) { result = code; });
        EXPECT_FALSE(result.has_value()) << "the result comes after the call returns";
        while (!result && rig.clock.NextDue().count() >= 0) rig.clock.AdvanceTo(rig.clock.NextDue());
        rig.clock.RunPosted();
        EXPECT_TRUE(result.has_value());
        return {result.value_or(999),
                static_cast<std::int64_t>((rig.clock.Now() - start).count())};
    }
    std::vector<std::uint32_t> Probed() const {
        std::vector<std::uint32_t> out;
        for (const auto& c : rig.prober.Calls()) out.push_back(c.address);
        return out;
    }
};

TEST_F(AddressCheck, AnsweringAddressGivesMinusFourteenAfterTheFirstAttempt) {
    rig.prober.SetResult(Ip("192.168.0.60"), ECHO_ANSWERED);
    rig.prober.SetReplyDelay(milliseconds(3));
    const auto [result, took] = Run(Device(Mac(0x60), "192.168.0.60"), false);
    EXPECT_EQ(result, PROTO_ADDRESS_IN_USE);
    EXPECT_EQ(took, 103);
    ASSERT_EQ(rig.neighbours.Flushes().size(), 1u);
    EXPECT_EQ(rig.neighbours.Flushes()[0].time.count(), 0);
    EXPECT_EQ(rig.neighbours.Flushes()[0].address, Ip("192.168.0.60"));
    ASSERT_EQ(rig.prober.Calls().size(), 1u);
    EXPECT_EQ(rig.prober.Calls()[0].time.count(), 100);
    EXPECT_EQ(rig.prober.Calls()[0].data, "ICMP SEND DATA");
    EXPECT_EQ(rig.prober.Calls()[0].timeout.count(), 1000);
}

TEST_F(AddressCheck, SilentAddressesAreTriedThreeTimesInTheOriginalOrder) {
    auto r = Device(Mac(0x61), "192.168.0.61", DEVICE_KIND_TWO_PORT);
    r.primary.ipAddress2 = Ip("10.0.0.61");
    const auto [result, took] = Run(r, true);
    EXPECT_EQ(result, PROTO_OK);
    EXPECT_EQ(took, 3 * (100 + 2000));
    EXPECT_THAT(Probed(), ElementsAre(Ip("192.168.0.61"), Ip("10.0.0.61"), Ip("192.168.0.61"),
                                      Ip("10.0.0.61"), Ip("192.168.0.61"), Ip("10.0.0.61")));
    std::vector<std::int64_t> flushTimes;
    for (const auto& f : rig.neighbours.Flushes()) flushTimes.push_back(f.time.count());
    EXPECT_THAT(flushTimes, ElementsAre(0, 2100, 4200));
}

TEST_F(AddressCheck, AnswerOnTheThirdAttemptStillCounts) {
    rig.prober.Script(Ip("192.168.0.62"), {ECHO_TIMED_OUT, ECHO_HOST_UNREACHABLE, ECHO_ANSWERED});
    EXPECT_EQ(Run(Device(Mac(0x62), "192.168.0.62"), false).first, PROTO_ADDRESS_IN_USE);
    EXPECT_EQ(rig.prober.Calls().size(), 3u);
}

TEST_F(AddressCheck, ProbeThatMayNotRunIsReportedAndNeverReadsAsFree) {
    rig.prober.SetPermitted(false);
    EXPECT_FALSE(engine().CanProbe());
    EXPECT_EQ(Run(Device(Mac(0x63), "192.168.0.63"), false).first, PROTO_PROBE_NOT_PERMITTED);
    EXPECT_TRUE(rig.prober.Calls().empty());
}

TEST_F(AddressCheck, PermissionLostMidwayIsReportedToo) {
    rig.prober.Script(Ip("192.168.0.64"), {ECHO_TIMED_OUT, ECHO_NOT_PERMITTED});
    EXPECT_EQ(Run(Device(Mac(0x64), "192.168.0.64"), false).first, PROTO_PROBE_NOT_PERMITTED);
}

TEST(AddressCheckSocket, SocketNotReadyGivesMinusOne) {
    EngineRig rig;
    rig.transport.FailBind(true);
    CProtocol& engine = rig.Start(false);
    std::optional<int> result;
    engine.CheckAddressInUse(Device(Mac(1), "10.0.0.1"), false, [&](int c) { result = c; });
    rig.clock.RunPosted();
    EXPECT_EQ(result, PROTO_SOCKET_NOT_READY);
    EXPECT_TRUE(rig.neighbours.Flushes().empty());
}

// What a settings change probes, given the stored record and the new one.
struct ProbeCase {
    const char* name;
    std::uint8_t kind;
    std::uint8_t ipv4Mode;
    std::uint8_t legacyAddressing;
    const char* storedIp;
    const char* storedIp2;
    const char* newIp;
    const char* newIp2;
    std::vector<const char*> probed;  // first attempt
};
void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

class WhatIsProbed : public AddressCheck, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(WhatIsProbed, OnlyChangedStaticAddressesAreProbed) {
    const auto& c = GetParam();
    const MacAddress mac = Mac(0x70);
    auto stored = Device(mac, c.storedIp, c.kind);
    stored.primary.ipAddress2 = Ip(c.storedIp2);
    if (c.storedIp[0] != '-') engine().StoreDevice(stored);
    auto changed = Device(mac, c.newIp, c.kind);
    changed.primary.ipAddress2 = Ip(c.newIp2);
    changed.ipv4Mode = c.ipv4Mode;
    changed.legacyAddressing = c.legacyAddressing;
    changed.primary.port = 8080;

    const auto [result, took] = Run(changed, true);
    EXPECT_EQ(result, PROTO_OK);
    std::vector<std::uint32_t> expected;
    for (const char* ip : c.probed) expected.push_back(Ip(ip));
    auto probed = Probed();
    probed.resize(std::min(probed.size(), expected.size()));
    EXPECT_EQ(probed, expected);
    if (c.probed.empty()) {
        EXPECT_TRUE(rig.neighbours.Flushes().empty()) << "nothing probed, nothing flushed";
        EXPECT_EQ(took, 0);
    } else {
        EXPECT_EQ(rig.prober.Calls().size(), 3 * c.probed.size());
        ASSERT_EQ(rig.neighbours.Flushes().size(), 3u);
        EXPECT_EQ(rig.neighbours.Flushes()[0].address, Ip(c.newIp)) << "always the LAN address";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Engine, WhatIsProbed,
    ::testing::Values(
        ProbeCase{"DhcpPortOnly", DEVICE_KIND_STANDARD, 0, 255, "10.0.0.7", "0.0.0.0", "10.0.0.7", "0.0.0.0", {}},
        ProbeCase{"DhcpNewAddress", DEVICE_KIND_STANDARD, 0, 255, "10.0.0.7", "0.0.0.0", "10.0.0.8", "0.0.0.0", {}},
        ProbeCase{"StaticNewAddress", DEVICE_KIND_STANDARD, 3, 255, "10.0.0.7", "0.0.0.0", "10.0.0.8", "0.0.0.0", {"10.0.0.8"}},
        ProbeCase{"StaticSameAddress", DEVICE_KIND_STANDARD, 3, 255, "10.0.0.7", "0.0.0.0", "10.0.0.7", "0.0.0.0", {}},
        ProbeCase{"LegacyStatic", DEVICE_KIND_LEGACY, 0, 0x12, "10.0.0.7", "0.0.0.0", "10.0.0.8", "0.0.0.0", {"10.0.0.8"}},
        ProbeCase{"LegacyDhcp", DEVICE_KIND_LEGACY, 3, 0x11, "10.0.0.7", "0.0.0.0", "10.0.0.8", "0.0.0.0", {}},
        ProbeCase{"TwoPortOnlyPcPortChanged", DEVICE_KIND_TWO_PORT, 0, 255, "10.0.0.7", "10.1.0.1", "10.0.0.7", "10.1.0.2", {"10.1.0.2"}},
        ProbeCase{"TwoPortBothChanged", DEVICE_KIND_TWO_PORT, 0, 255, "10.0.0.7", "10.1.0.1", "10.0.0.8", "10.1.0.2", {"10.0.0.8", "10.1.0.2"}},
        ProbeCase{"TwoPortPcPortCleared", DEVICE_KIND_TWO_PORT, 0, 255, "10.0.0.7", "10.1.0.1", "10.0.0.8", "0.0.0.0", {"10.0.0.8"}},
        ProbeCase{"UnknownKind", 7, 3, 0x12, "10.0.0.7", "0.0.0.0", "10.0.0.8", "0.0.0.0", {}},
        // A device not in the table is compared with an empty record.
        ProbeCase{"NotStored", DEVICE_KIND_STANDARD, 3, 255, "-", "0.0.0.0", "10.0.0.7", "0.0.0.0", {"10.0.0.7"}}),
    ByName());

struct EchoCase {
    const char* name;
    int proberCode;
    int result;
};
void PrintTo(const EchoCase& c, std::ostream* os) { *os << c.name; }

class EchoOutcome : public EngineTest, public ::testing::WithParamInterface<EchoCase> {};

TEST_P(EchoOutcome, MapsTheProbersOutcome) {
    rig.prober.SetResult(Ip("10.0.0.9"), GetParam().proberCode);
    std::optional<int> result;
    engine().EchoProbe(Ip("10.0.0.9"), [&](int c) { result = c; });
    rig.clock.Advance(milliseconds(1000));
    EXPECT_EQ(result, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Engine, EchoOutcome,
    ::testing::Values(EchoCase{"Answered", ECHO_ANSWERED, 0},
                      EchoCase{"NetUnreachable", ECHO_NET_UNREACHABLE, 11002},
                      EchoCase{"HostUnreachable", ECHO_HOST_UNREACHABLE, 11003},
                      EchoCase{"TimedOut", ECHO_TIMED_OUT, 11010},
                      EchoCase{"NotPrepared", ECHO_NOT_PREPARED, -1},
                      EchoCase{"NotPermitted", ECHO_NOT_PERMITTED, ECHO_NOT_PERMITTED},
                      EchoCase{"OtherStatusCountsAsAnswer", 11050, 0}),
    ByName());

}  // namespace
}  // namespace valdrune::test
