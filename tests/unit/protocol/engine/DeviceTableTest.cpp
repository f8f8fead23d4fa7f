// Device table views: web addresses for the site list, and the settings command per kind.
#include <gmock/gmock.h>

#include <map>

#include "EngineTest.h"

namespace valdrune::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct UrlCase {
    const char* name;
    std::uint8_t https;
    std::uint16_t port;
    const char* url;
};
void PrintTo(const UrlCase& c, std::ostream* os) { *os << c.name; }

class DeviceUrl : public EngineTest, public ::testing::WithParamInterface<UrlCase> {};

TEST_P(DeviceUrl, IsBuiltFromAddressPortAndHttps) {
    auto r = Device(Mac(1), "192.168.0.80");
    r.https = GetParam().https;
    r.primary.port = GetParam().port;
    engine().StoreDevice(r);
    std::vector<std::string> urls{"stale"};
    engine().EnumerateDeviceUrls(urls, true);
    EXPECT_THAT(urls, ElementsAre(GetParam().url));
}

INSTANTIATE_TEST_SUITE_P(
    Engine, DeviceUrl,
    ::testing::Values(UrlCase{"HttpDefaultPort", 0, 80, "http://192.168.0.80/"},
                      UrlCase{"HttpOtherPort", 0, 8080, "http://192.168.0.80:8080/"},
                      UrlCase{"HttpOn443", 0, 443, "http://192.168.0.80:443/"},
                      UrlCase{"HttpsDefaultPort", 1, 443, "https://192.168.0.80/"},
                      UrlCase{"HttpsOn80", 1, 80, "https://192.168.0.80:80/"}),
    ByName());

using DeviceUrls = EngineTest;

TEST_F(DeviceUrls, WithoutAllOnlyDevicesThatNeedTheCompatibilityModeAreListed) {
    std::map<MacAddress, int> classes;  // as the browser decisions would classify them
    auto add = [&](std::uint8_t mac, std::uint16_t portKind, std::uint8_t hasBits,
                   std::uint16_t bits, std::int32_t browserClass) {
        auto r = Device(Mac(mac), ("10.0.0." + std::to_string(mac)).c_str());
        r.portKind = portKind;
        r.hasBrowserBits = hasBits;
        r.browserBits = bits;
        classes[r.primary.mac] = browserClass;
        engine().StoreDevice(r);
    };
    const auto classOf = [&](const _CommandDataTable& r) { return classes.at(r.primary.mac); };
    add(1, 11, 0, 0, -1);     // two-port without browser bits: needs it
    add(2, 11, 1, 0x2, 3);    // two-port that says it does not (class ignored)
    add(3, 11, 1, 0x1, -1);   // two-port with bit 1 clear: needs it
    add(4, 0, 0, 0, 3);       // single-port class 3: needs it
    add(5, 0, 1, 0, 2);       // single-port class 2: does not
    std::vector<std::string> urls;
    engine().EnumerateDeviceUrls(urls, false, classOf);
    EXPECT_THAT(urls, ElementsAre("http://10.0.0.1/", "http://10.0.0.3/", "http://10.0.0.4/"));
    engine().EnumerateDeviceUrls(urls, true, classOf);
    EXPECT_EQ(urls.size(), 5u);
    engine().ClearDevices();
    engine().EnumerateDeviceUrls(urls, true);
    EXPECT_THAT(urls, IsEmpty());
}

struct KindCommand {
    std::uint8_t kind;
    bool settable;
    std::uint16_t command;
    std::uint16_t mask;
};

class SettingsCommand : public ::testing::TestWithParam<KindCommand> {};

TEST_P(SettingsCommand, FollowsTheDeviceKind) {
    std::uint16_t command = 0xAAAA, mask = 0xBBBB;
    EXPECT_EQ(CProtocol::CommandForKind(GetParam().kind, command, mask), GetParam().settable);
    if (GetParam().settable) {
        EXPECT_EQ(command, GetParam().command);
        EXPECT_EQ(mask, GetParam().mask);
    }
}

INSTANTIATE_TEST_SUITE_P(Engine, SettingsCommand,
                         ::testing::Values(KindCommand{DEVICE_KIND_LEGACY, true, 15, 2},
                                           KindCommand{DEVICE_KIND_STANDARD, true, 2, 32},
                                           KindCommand{DEVICE_KIND_TWO_PORT, true, 15, 8},
                                           KindCommand{0, false, 0, 0},
                                           KindCommand{49, false, 0, 0}),
    NamedBy([](const KindCommand& c) { return CaseName("Kind", int(c.kind)); }));

TEST_F(DeviceUrls, StoredDeviceKeepsItsNumberWhenItAnswersAgainUntilTheTableIsCleared) {
    rig.Deliver(SearchAnswer(Mac(0x11), "10.0.0.11"));
    rig.Deliver(SearchAnswer(Mac(0x10), "10.0.0.10"));
    rig.Deliver(SearchAnswer(Mac(0x11), "10.0.0.12"));
    EXPECT_EQ(engine().DeviceNumber(Mac(0x11)), 0);
    EXPECT_EQ(engine().DeviceNumber(Mac(0x10)), 1);
    EXPECT_EQ(rig.owner.Numbers(), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(engine().FindDevice("02-00-00-00-00-11")->primary.ipAddress, Ip("10.0.0.12"));
    engine().ClearDevices();
    rig.Deliver(SearchAnswer(Mac(0x10), "10.0.0.10"));
    EXPECT_EQ(engine().DeviceNumber(Mac(0x10)), 0);
    EXPECT_EQ(engine().DeviceNumber(Mac(0x11)), -1);
}

}  // namespace
}  // namespace valdrune::test
