// The neighbour flush against a real neighbour table, checked with `ip neigh`.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <algorithm>

#include "platform/linux/NeighbourCache.h"
#include "platform/qt/QtScheduler.h"
#include "tests/e2e/lib/NetNs.h"
#include "tests/unit/platform/QtTestApp.h"

namespace valdrune {
namespace {

using e2e::Address;
using e2e::NetNs;

TEST(NeighbourNetns, FlushDropsCachedEntriesOnEveryAdapterAndKeepsPermanentOnes) {
    test::App();
    NetNs net("pl-neigh", 2);
    VALDRUNE_REQUIRE_NETNS(net);
    const std::string device = net.DevIp(0);
    const std::string fixed = net.Subnet(0) + ".77";
    auto ip = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "ip");
        return net.RunInPc(args, 5000);
    };
    // A real resolution on pc0, a stale copy on pc1, and an administrator's permanent entry.
    ASSERT_EQ(net.RunInPc({"ping", "-c", "1", "-W", "1", device}, 5000).exitCode, 0);
    ASSERT_EQ(
        ip({"neigh", "add", device, "lladdr", "02:00:00:00:00:99", "dev", "pc1", "nud", "stale"})
            .exitCode,
        0);
    ASSERT_EQ(
        ip({"neigh", "add", fixed, "lladdr", "02:00:00:00:00:77", "dev", "pc0", "nud", "permanent"})
            .exitCode,
        0);
    ASSERT_NE(ip({"neigh", "show", "to", device}).out.find("pc0"), std::string::npos);

    NetNs::Entered inPc(net.PcNs());
    ASSERT_TRUE(inPc.Ok());
    QtScheduler scheduler(1);
    LinuxNeighbourCache cache(scheduler, VALDRUNE_NETPROBE_BINARY);
    EXPECT_TRUE(cache.CanFlush());  // root
    auto on = LinuxNeighbourCache::CachedOn(Address(device));
    std::sort(on.begin(), on.end());
    EXPECT_EQ(on, (std::vector<std::int32_t>{static_cast<std::int32_t>(if_nametoindex("pc0")),
                                             static_cast<std::int32_t>(if_nametoindex("pc1"))}));

    cache.Flush(Address(device));
    cache.Flush(Address(fixed));
    cache.Flush(Address("10.200.0.9"));  // nothing cached: nothing happens
    EXPECT_EQ(cache.Running(), 2u) << "one helper run per cached entry, not waited for";
    ASSERT_TRUE(test::RunUntil([&] { return cache.Running() == 0; }));
    EXPECT_EQ(ip({"neigh", "show", "to", device}).out, "");
    EXPECT_NE(ip({"neigh", "show", "to", fixed}).out.find("PERMANENT"), std::string::npos);
}

}  // namespace
}  // namespace valdrune
