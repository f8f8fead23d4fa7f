// The production services from the factory under the real engine, against the simulator in
// two segments: the adapter chosen decides which devices are found.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "platform/Platform.h"
#include "tests/e2e/lib/NetNs.h"
#include "tests/unit/platform/QtTestApp.h"

namespace valdrune {
namespace {

using e2e::NetNs;

class Owner final : public IProtocolEvents {
  public:
    CProtocol* protocol = nullptr;
    std::set<std::uint32_t> addresses;  // of devices found, host order
    int found = 0;

    void OnDeviceFound(const _CommandDataTable& record, int) override {
        ++found;
        addresses.insert(record.primary.ipAddress);
    }
};

std::uint32_t SubnetOf(std::uint32_t address) { return address & 0xFFFFFF00u; }

std::uint32_t Network(const std::string& subnet) {
    unsigned a = 0, b = 0, c = 0;
    std::sscanf(subnet.c_str(), "%u.%u.%u", &a, &b, &c);
    return (a << 24) | (b << 16) | (c << 8);
}

int PositionOf(const CProtocol& p, const std::string& ipv4) {
    for (int i = 0; i < p.InterfaceCount(); ++i)
        if (p.InterfaceDisplayText(i).rfind(ipv4 + " / ", 0) == 0) return i;
    return -1;
}

TEST(StackNetns, SearchFindsOnlyTheDevicesBehindTheSelectedAdapter) {
    test::App();
    NetNs net("pl-stack", 2);
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", "kinds"}, 0);
    net.StartSim({"--scenario", "kinds"}, 1);

    NetNs::Entered inPc(net.PcNs());
    ASSERT_TRUE(inPc.Ok());
    auto services = CreatePlatformServices(20);  // the six-second cycle in 300 ms
    ASSERT_EQ(services->scheduler.Scale(), 20);
    Owner owner;
    {
        CProtocol protocol(services->Environment());
        owner.protocol = &protocol;
        protocol.SetListener(&owner);
        ASSERT_EQ(protocol.EnumerateInterfaces(MacAddress{}), 3);  // pc0, pc1, lo
        EXPECT_EQ(protocol.InterfaceDisplayText(2), "127.0.0.1 / lo (loopback)");

        for (const int k : {0, 1, 0}) {
            owner.addresses.clear();
            owner.found = 0;
            protocol.ClearDevices();
            ASSERT_TRUE(protocol.SelectInterface(PositionOf(protocol, net.PcIp(k))));
            protocol.StartSearch();
            ASSERT_TRUE(test::RunUntil([&] { return !protocol.SearchRunning(); }, 5000));
            test::RunFor(50);
            EXPECT_EQ(owner.addresses.size(), 3u) << "segment " << k;
            for (const std::uint32_t a : owner.addresses)
                EXPECT_EQ(SubnetOf(a), Network(net.Subnet(k))) << "segment " << k;
        }
        protocol.SetListener(nullptr);
    }
}

TEST(StackNetns, HundredDevicesAreStoredSoonAfterTheFirstRequest) {
    test::App();
    NetNs net("pl-many", 1);
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", "many", "--count", "100"}, 0);
    NetNs::Entered inPc(net.PcNs());
    ASSERT_TRUE(inPc.Ok());
    auto services = CreatePlatformServices();
    Owner owner;
    CProtocol protocol(services->Environment());
    owner.protocol = &protocol;
    protocol.SetListener(&owner);
    ASSERT_GE(protocol.EnumerateInterfaces(MacAddress{}), 1);
    ASSERT_TRUE(protocol.SelectInterface(PositionOf(protocol, net.PcIp(0))));
    QElapsedTimer clock;
    clock.start();
    qint64 lastStored = -1;
    protocol.StartSearch();
    ASSERT_TRUE(test::RunUntil(
        [&] {
            if (protocol.Devices().Size() >= 100 && lastStored < 0) lastStored = clock.elapsed();
            return lastStored >= 0;
        },
        5000))
        << "stored " << protocol.Devices().Size();
    // Every device answers the first request at once; the 150 ms second request only adds
    // duplicates.
    EXPECT_LT(lastStored, 1000);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("100 devices stored %lld ms after the first request; peak RSS %ld KiB\n",
                static_cast<long long>(lastStored), usage.ru_maxrss);
    RecordProperty("hundred_devices_ms", static_cast<int>(lastStored));
    protocol.SetListener(nullptr);
}

}  // namespace
}  // namespace valdrune
