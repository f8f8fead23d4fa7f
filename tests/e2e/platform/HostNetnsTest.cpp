// The adapter list as seen from inside a pc namespace with two veth adapters and one without
// an address.
#include <gtest/gtest.h>
#include <net/if.h>

#include <cstdio>

#include "platform/linux/HostNetwork.h"
#include "tests/e2e/lib/NetNs.h"

namespace valdrune {
namespace {

using e2e::NetNs;

std::vector<std::uint8_t> MacBytes(const std::string& text) {
    unsigned b[6] = {};
    std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
    return {static_cast<std::uint8_t>(b[0]), static_cast<std::uint8_t>(b[1]),
            static_cast<std::uint8_t>(b[2]), static_cast<std::uint8_t>(b[3]),
            static_cast<std::uint8_t>(b[4]), static_cast<std::uint8_t>(b[5])};
}

TEST(HostNetns, ListsVethAdaptersWithAddressGatewayAndMacLoopbackLast) {
    NetNs net("pl-host", 2);
    VALDRUNE_REQUIRE_NETNS(net);
    // An adapter pair that is down and has no address.
    ASSERT_EQ(
        net.RunInPc({"ip", "link", "add", "spare", "type", "veth", "peer", "name", "spare2"}, 5000)
            .exitCode,
        0);
    ASSERT_EQ(
        net.RunInPc({"ip", "addr", "add", net.Subnet(0) + ".9/24", "dev", "pc0"}, 5000).exitCode,
        0);  // a second address: the first one counts

    NetNs::Entered inPc(net.PcNs());
    ASSERT_TRUE(inPc.Ok());
    HostNetwork host;
    const auto adapters = host.Adapters();
    ASSERT_EQ(adapters.size(), 5u);
    const auto pc0 = static_cast<std::int32_t>(if_nametoindex("pc0"));
    const auto pc1 = static_cast<std::int32_t>(if_nametoindex("pc1"));

    EXPECT_EQ(adapters[0].index, pc0);
    EXPECT_EQ(adapters[0].ipv4Text, net.PcIp(0));
    EXPECT_EQ(adapters[0].gatewayText, net.DevIp(0));  // the default route
    EXPECT_EQ(adapters[0].description, "pc0 (virtual, veth, " + net.PcMac(0) + ")");
    EXPECT_EQ(adapters[1].index, pc1);
    EXPECT_EQ(adapters[1].ipv4Text, net.PcIp(1));
    EXPECT_EQ(adapters[1].gatewayText, "");
    for (const std::size_t i : {2u, 3u}) {  // listed, in index order; the engine skips them
        EXPECT_EQ(adapters[i].ipv4Text, "0.0.0.0");
        EXPECT_EQ(adapters[i].description.rfind("spare", 0), 0u) << adapters[i].description;
        EXPECT_NE(adapters[i].description.find(" (virtual, veth, "), std::string::npos);
        EXPECT_NE(adapters[i].description.find(", down)"), std::string::npos);
    }
    EXPECT_LT(adapters[2].index, adapters[3].index);
    EXPECT_EQ(adapters[4].ipv4Text, "127.0.0.1");
    EXPECT_EQ(adapters[4].description, "lo (loopback)");

    std::vector<HostInterfaceRow> rows;
    ASSERT_TRUE(host.InterfaceRows(rows));
    const auto row = std::find_if(rows.begin(), rows.end(),
                                  [&](const HostInterfaceRow& r) { return r.index == pc1; });
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(row->physicalAddress, MacBytes(net.PcMac(1)));
}

}  // namespace
}  // namespace valdrune
