#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/HostNetwork.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

struct DescriptionCase {
    const char* name;
    AdapterTraits traits;
    const char* expected;
};

class DescriptionTest : public testing::TestWithParam<DescriptionCase> {};

TEST_P(DescriptionTest, NamesKindDriverAndMac) {
    const auto& c = GetParam();
    EXPECT_EQ(FormatAdapterDescription(c.name, c.traits), c.expected);
}

const std::vector<std::uint8_t> kMac = {0x52, 0x54, 0x00, 0xAB, 0x0C, 0x01};

INSTANTIATE_TEST_SUITE_P(
    Kinds, DescriptionTest,
    testing::Values(
        DescriptionCase{"eth0",
                        {AdapterKind::Wired, "e1000e", kMac, true},
                        "eth0 (wired, e1000e, 52:54:00:ab:0c:01)"},
        DescriptionCase{"wlan0",
                        {AdapterKind::Wireless, "iwlwifi", kMac, false},
                        "wlan0 (wireless, iwlwifi, 52:54:00:ab:0c:01, down)"},
        DescriptionCase{"pc0",
                        {AdapterKind::Virtual, "veth", kMac, true},
                        "pc0 (virtual, veth, 52:54:00:ab:0c:01)"},
        // Loopback's all-zero address and no driver say nothing to a person.
        DescriptionCase{
            "lo", {AdapterKind::Loopback, "", {0, 0, 0, 0, 0, 0}, true}, "lo (loopback)"},
        // Tunnels have no 6-byte hardware address.
        DescriptionCase{"tun0", {AdapterKind::Virtual, "tun", {}, true}, "tun0 (virtual, tun)"},
        DescriptionCase{"ib0",
                        {AdapterKind::Wired, "", std::vector<std::uint8_t>(20, 0x11), true},
                        "ib0 (wired)"}),
    test::NamedBy([](const DescriptionCase& c) { return test::CaseName(c.name); }));

TEST(RouteTable, TakesFirstDefaultGatewayPerInterface) {
    const char* table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
        "eth0\t00000000\tFE01A8C0\t0003\t0\t0\t200\t00000000\t0\t0\t0\n"
        "wlan0\t00000000\t0A00000A\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "wlan0\t00000000\t0B00000A\t0003\t0\t0\t700\t00000000\t0\t0\t0\n"
        // Not up, and without the gateway flag: neither is a gateway.
        "eth1\t00000000\t0102A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth2\t00000000\t0103A8C0\t0001\t0\t0\t100\t00000000\t0\t0\t0\n"
        // A route to a network, even through a gateway, is not the default.
        "eth3\t0010A8C0\t0104A8C0\t0003\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
        "garbage line\n"
        "eth4\tZZZZZZZZ\t0105A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
        "eth5\t00000000\t0106A8C0\n";
    const auto gateways = ParseDefaultGateways(table);
    ASSERT_EQ(gateways.size(), 2u);
    EXPECT_EQ(gateways.at("eth0"), 0xC0A80101u);   // 192.168.1.1
    EXPECT_EQ(gateways.at("wlan0"), 0x0A00000Au);  // 10.0.0.10
}

TEST(RouteTable, EmptyOrHeaderOnlyGivesNothing) {
    EXPECT_TRUE(ParseDefaultGateways("").empty());
    EXPECT_TRUE(ParseDefaultGateways("Iface\tDestination\tGateway\n").empty());
}

TEST(AdapterOrder, LoopbackLastOthersByIndex) {
    std::vector<AdapterEntry> adapters = {
        {"lo", 1, true, 0x7F000001, ""}, {"wlan0", 3, false, 0, ""}, {"eth0", 2, false, 0, ""},
        {"lo2", 9, true, 0, ""},         {"veth1", 7, false, 0, ""},
    };
    OrderAdapters(adapters);
    std::vector<std::string> names;
    for (const auto& a : adapters) names.push_back(a.name);
    EXPECT_EQ(names, (std::vector<std::string>{"eth0", "wlan0", "veth1", "lo", "lo2"}));
}

TEST(HostAdapters, ThisHostListsLoopbackLastWithItsAddress) {
    // Only reads the interface list; nothing is sent.
    HostNetwork host;
    const auto adapters = host.Adapters();
    ASSERT_FALSE(adapters.empty());
    EXPECT_EQ(adapters.back().ipv4Text, "127.0.0.1");
    EXPECT_EQ(adapters.back().description, "lo (loopback)");
    std::vector<HostInterfaceRow> rows;
    ASSERT_TRUE(host.InterfaceRows(rows));
    for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_LT(rows[i - 1].index, rows[i].index);
}

TEST(HostsFile, GivesTheFirstIpv4AddressOfTheNameWhateverItsCase) {
    const char* hosts =
        "# comment 10.0.0.9 cam\n"
        "127.0.0.1\tlocalhost\n"
        "::1 cam ip6-localhost\n"
        "not-an-address cam\n"
        "127.0.1.1 other.example Cam  # trailing comment\n"
        "10.0.0.5 cam\n";
    EXPECT_EQ(HostsFileAddress(hosts, "cam"), 0x7F000101u);
    EXPECT_EQ(HostsFileAddress(hosts, "CAM"), 0x7F000101u);
    EXPECT_EQ(HostsFileAddress(hosts, "ca"), 0u);
    EXPECT_EQ(HostsFileAddress(hosts, "9"), 0u);
    EXPECT_EQ(HostsFileAddress("", "cam"), 0u);
}

}  // namespace
}  // namespace valdrune
