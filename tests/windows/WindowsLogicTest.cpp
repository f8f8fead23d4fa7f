// The Windows layer's decisions over plain data: what the IP Helper's answers mean.
#include <gtest/gtest.h>

#include <functional>

#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include "platform/AnsiText.h"
#include "platform/windows/CodePage.h"
#include "platform/windows/EchoProber.h"
#include "platform/windows/Firewall.h"
#include "platform/windows/HostNetwork.h"
#include "platform/windows/NeighbourCache.h"
#include "platform/windows/NetworkSurvey.h"
#include "platform/windows/OsVersion.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

constexpr std::uint32_t kTarget = 0x0A000005;  // 10.0.0.5
constexpr std::uint32_t kRouter = 0x0A000001;

struct StatusCase {
    const char* name;
    unsigned long status;
    std::uint32_t from;
    int code;
};

class EchoStatus : public testing::TestWithParam<StatusCase> {};

TEST_P(EchoStatus, MapsToTheOutcomeCode) {
    const auto& c = GetParam();
    EXPECT_EQ(EchoCodeForStatus(c.status, c.from, kTarget), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, EchoStatus,
    testing::Values(StatusCase{"Reply", IP_SUCCESS, kTarget, ECHO_ANSWERED},
                    StatusCase{"SuccessFromNobody", IP_SUCCESS, 0, ECHO_NET_UNREACHABLE},
                    StatusCase{"NetUnreachable", IP_DEST_NET_UNREACHABLE, kRouter, 11002},
                    StatusCase{"HostUnreachable", IP_DEST_HOST_UNREACHABLE, kRouter, 11003},
                    StatusCase{"TimedOut", IP_REQ_TIMED_OUT, 0, 11010},
                    StatusCase{"TargetRefusesPort", IP_DEST_PORT_UNREACHABLE, kTarget, 0},
                    // A router's refusal or time-out shows the request went out: as on Linux.
                    StatusCase{"RouterRefusesProtocol", IP_DEST_PROT_UNREACHABLE, kRouter, 0},
                    StatusCase{"TtlExpiredOnTheWay", IP_TTL_EXPIRED_TRANSIT, kRouter, 0},
                    StatusCase{"RouterHostUnknown", IP_DEST_HOST_UNREACHABLE, 0, 11003},
                    StatusCase{"LocalFailure", IP_GENERAL_FAILURE, 0, ECHO_NET_UNREACHABLE},
                    StatusCase{"NoResources", IP_NO_RESOURCES, 0, ECHO_NET_UNREACHABLE}),
    test::ByName{});

WindowsAdapterFacts Adapter(std::int32_t index, const char* name, std::uint32_t ip) {
    WindowsAdapterFacts a;
    a.index = index;
    a.friendlyName = name;
    a.description = "Intel(R) Ethernet";
    a.hwAddress = {0x52, 0x54, 0x00, 0x12, 0x34, static_cast<std::uint8_t>(index)};
    a.ipv4 = ip;
    return a;
}

TEST(WindowsAdapters, DescriptionsKeepTheNameFirstAndFlagAdaptersThatAreDown) {
    auto a = Adapter(7, "Ethernet 2", 0xC0A80005);
    EXPECT_EQ(FormatAdapterDescription(a), "Ethernet 2 (Intel(R) Ethernet, 52:54:00:12:34:07)");
    a.up = false;
    a.hwAddress.assign(6, 0);
    EXPECT_EQ(FormatAdapterDescription(a), "Ethernet 2 (Intel(R) Ethernet, down)");
    WindowsAdapterFacts lo;
    lo.index = 1;
    lo.friendlyName = "Loopback Pseudo-Interface 1";
    lo.loopback = true;
    EXPECT_EQ(FormatAdapterDescription(lo), "Loopback Pseudo-Interface 1 (loopback)");
}

TEST(WindowsAdapters, SystemOrderWithLoopbackLastAndGatewaysOnlyWhenSet) {
    WindowsAdapterFacts lo;
    lo.index = 1;
    lo.loopback = true;
    lo.ipv4 = 0x7F000001;
    auto wired = Adapter(12, "Ethernet", 0xC0A80005);
    wired.gateway = 0xC0A80001;
    auto wifi = Adapter(4, "Wi-Fi", 0x0A000002);
    const auto list = ToHostAdapters({lo, wired, wifi});
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].index, 12);
    EXPECT_EQ(list[0].ipv4Text, "192.168.0.5");
    EXPECT_EQ(list[0].gatewayText, "192.168.0.1");
    EXPECT_EQ(list[1].index, 4);
    EXPECT_EQ(list[1].gatewayText, "");
    EXPECT_EQ(list[2].index, 1);
}

TEST(WindowsAdapters, OwnAddressSkipsLoopbackDownAndUnaddressedAdapters) {
    WindowsAdapterFacts lo;
    lo.loopback = true;
    lo.ipv4 = 0x7F000001;
    auto down = Adapter(3, "Ethernet", 0xC0A80005);
    down.up = false;
    auto bare = Adapter(4, "Ethernet 2", 0);
    auto wifi = Adapter(5, "Wi-Fi", 0x0A000002);
    EXPECT_EQ(OwnAddress({lo, down, bare, wifi}), 0x0A000002u);
    EXPECT_EQ(OwnAddress({lo}), 0u);
}

TEST(WindowsNeighbours, FlushTakesEveryCachedEntryOfTheAddressButNoPermanentOne) {
    const std::vector<NeighbourRow> table = {
        {3, kTarget, false}, {5, kTarget, true}, {7, kTarget, false}, {3, kRouter, false}};
    const auto rows = RowsToFlush(table, kTarget);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].ifIndex, 3);
    EXPECT_EQ(rows[1].ifIndex, 7);
    EXPECT_TRUE(RowsToFlush(table, 0x0A0000FF).empty());
}

TEST(WindowsCodePage, LegacyNamesBecomeUtf8InTheActiveCodePage) {
    EXPECT_EQ(AnsiToUtf8("Camera-01", 1252), "Camera-01");
    EXPECT_EQ(AnsiToUtf8("", 1252), "");
    // The active code page decides, not the argument. 0xE9 is a letter in every single-byte
    // Western code page; whatever this one says, the result is UTF-8, never the raw byte.
    const std::string converted = AnsiToUtf8("\xE9", 932);
    if (::GetACP() == 1252) {
        EXPECT_EQ(converted, "\xC3\xA9");
    }
    EXPECT_NE(converted, "\xE9");
    EXPECT_EQ(WideToUtf8(L"Ethernet \u00e9"), "Ethernet \xC3\xA9");
    EXPECT_EQ(WideToUtf8(nullptr), "");
    EXPECT_EQ(WideToUtf8(Utf8ToWide("Nodewren \xC3\xA9").c_str()), "Nodewren \xC3\xA9");
}

TEST(WindowsVersion, ElevenIsMajorTenOrMoreWithBuild22000OrMore) {
    EXPECT_TRUE(IsWindows11OrLater({10, 0, 22000}));
    EXPECT_TRUE(IsWindows11OrLater({11, 0, 26100}));
    EXPECT_FALSE(IsWindows11OrLater({10, 0, 19045}));
    EXPECT_FALSE(IsWindows11OrLater({6, 3, 22000}));
}

}  // namespace
}  // namespace valdrune

namespace valdrune {
namespace {

// The firewall as it decides about one answer to UDP 10669 for the program.
const char kProgram[] = "C:\\Program Files\\Valdrune\\bin\\valdrune-cli.exe";

FirewallRuleFacts SetupRule() {
    FirewallRuleFacts r;
    r.name = "Valdrune (valdrune-cli.exe)";
    r.protocol = 17;
    r.localPorts = "10669";
    r.application = kProgram;
    return r;
}

FirewallFacts PrivateNetwork() {
    FirewallFacts f;
    f.currentProfiles = kFwProfilePrivate;
    f.profiles = {{kFwProfilePrivate, true, false, true}, {kFwProfilePublic, true, false, true}};
    f.rules = {SetupRule()};
    return f;
}

FirewallRuleFacts Block(const char* name) {
    FirewallRuleFacts r;
    r.name = name;
    r.allow = false;
    return r;
}

struct FirewallCase {
    const char* name;
    std::function<void(FirewallFacts&)> change;
    RuleOutcome outcome;
    const char* ruleText;  // nullptr: not checked
};

class FirewallJudge : public testing::TestWithParam<FirewallCase> {};

TEST_P(FirewallJudge, DecidesAsTheFirewallDoes) {
    FirewallFacts f = PrivateNetwork();
    GetParam().change(f);
    const RuleJudgement j = JudgeFirewall(f, {kProgram, "Ethernet 2", "Lan"});
    EXPECT_EQ(j.outcome, GetParam().outcome);
    if (GetParam().ruleText) {
        EXPECT_EQ(j.ruleText, GetParam().ruleText);
    }
    if (j.outcome == RuleOutcome::Admits) {
        EXPECT_TRUE(j.fixCommand.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Policies, FirewallJudge,
    testing::Values(
        FirewallCase{"SetupProgramsRule", [](FirewallFacts&) {}, RuleOutcome::Admits, nullptr},
        FirewallCase{"PathWithOtherCaseAndSlashes",
                     [](FirewallFacts& f) {
                         f.rules[0].application = "c:/program files/valdrune/BIN/valdrune-cli.exe";
                     },
                     RuleOutcome::Admits, nullptr},
        FirewallCase{"PortRangeAndAnyProtocol",
                     [](FirewallFacts& f) {
                         f.rules[0].localPorts = "80, 10000-11000";
                         f.rules[0].protocol = 256;
                     },
                     RuleOutcome::Admits, nullptr},
        FirewallCase{"NoRuleLeavesTheDefault", [](FirewallFacts& f) { f.rules.clear(); },
                     RuleOutcome::Drops, "default inbound action: block"},
        FirewallCase{"BlockRuleWinsOverTheAllowRule",
                     [](FirewallFacts& f) { f.rules.push_back(Block("No UDP")); },
                     RuleOutcome::Drops, "No UDP"},
        FirewallCase{"BlockRuleForSomeAddresses",
                     [](FirewallFacts& f) {
                         f.rules.push_back(Block("Far hosts"));
                         f.rules.back().remoteAddresses = "10.0.0.0/255.0.0.0";
                     },
                     RuleOutcome::MayDrop, "Far hosts"},
        FirewallCase{"AllowRuleForSomeAddressesOnly",
                     [](FirewallFacts& f) { f.rules[0].remoteAddresses = "LocalSubnet"; },
                     RuleOutcome::MayDrop, "default inbound action: block"},
        FirewallCase{"RulesThatDoNotApply",
                     [](FirewallFacts& f) {
                         FirewallRuleFacts base = f.rules[0];
                         f.rules.clear();
                         for (int i = 0; i < 8; ++i) f.rules.push_back(base);
                         f.rules[0].application = "C:\\Other\\other.exe";
                         f.rules[1].protocol = 6;
                         f.rules[2].localPorts = "RPC";
                         f.rules[3].enabled = false;
                         f.rules[4].profiles = kFwProfilePublic;
                         f.rules[5].interfaceTypes = "Wireless,RemoteAccess";
                         f.rules[6].service = "dnscache";
                         f.rules[7].inbound = false;
                         f.rules.push_back(Block("Wi-Fi only"));
                         f.rules.back().interfaces = {"Wi-Fi"};
                     },
                     RuleOutcome::Drops, "default inbound action: block"},
        FirewallCase{"ShieldsUpDropsDespiteTheRule",
                     [](FirewallFacts& f) { f.profiles[0].blockAllInbound = true; },
                     RuleOutcome::Drops, "block all incoming connections"},
        FirewallCase{"FirewallOffForTheProfile",
                     [](FirewallFacts& f) {
                         f.profiles[0].enabled = false;
                         f.rules.push_back(Block("No UDP"));
                     },
                     RuleOutcome::Admits, nullptr},
        FirewallCase{"TwoProfilesThatDisagree",
                     [](FirewallFacts& f) {
                         f.rules.clear();
                         f.profiles[0].defaultBlocksInbound = false;
                         f.currentProfiles = kFwProfilePrivate | kFwProfilePublic;
                     },
                     RuleOutcome::MayDrop, "default inbound action: block"},
        FirewallCase{"NoProfileKnown", [](FirewallFacts& f) { f.profiles.clear(); },
                     RuleOutcome::Unread, nullptr}),
    test::ByName{});

TEST(FirewallJudge, FixesAddTheSetupProgramsRuleOrTurnTheBlockingRuleOff) {
    FirewallFacts f = PrivateNetwork();
    f.rules.clear();
    EXPECT_EQ(JudgeFirewall(f, {kProgram, "Ethernet 2", "Lan"}).fixCommand,
              "netsh advfirewall firewall add rule name=\"Valdrune (valdrune-cli.exe)\" dir=in "
              "action=allow protocol=UDP localport=10669 profile=any enable=yes "
              "program=\"C:\\Program Files\\Valdrune\\bin\\valdrune-cli.exe\"");
    f.rules.push_back(Block("No UDP"));
    EXPECT_EQ(JudgeFirewall(f, {kProgram, "Ethernet 2", "Lan"}).fixCommand,
              "netsh advfirewall firewall set rule name=\"No UDP\" new enable=no");
    EXPECT_FALSE(PortListCovers("10670-10700", 10669));
    EXPECT_FALSE(PortListCovers("1066", 10669));
    EXPECT_TRUE(PortListCovers("", 10669));
}

TEST(WindowsRoutes, LongestPrefixThenLowestMetricDecidesTheAdapter) {
    const std::vector<WindowsRouteRow> rows = {
        {0, 0, 4, 35}, {0, 0, 9, 5}, {0x0A4D0100, 24, 4, 25}, {0xFFFFFFFF, 32, 7, 281}};
    EXPECT_EQ(RouteIndexFor(rows, 0xC0000201), 9);   // default, the cheaper one
    EXPECT_EQ(RouteIndexFor(rows, 0x0A4D0163), 4);   // the subnet beats the default
    EXPECT_EQ(RouteIndexFor(rows, 0xFFFFFFFF), 7);   // the host route to the broadcast
    EXPECT_EQ(RouteIndexFor({}, 0xFFFFFFFF), -1);
    EXPECT_TRUE(IsTunnelIfType(IF_TYPE_TUNNEL));
    EXPECT_TRUE(IsTunnelIfType(IF_TYPE_PPP));
    EXPECT_FALSE(IsTunnelIfType(IF_TYPE_ETHERNET_CSMACD));
}

}  // namespace
}  // namespace valdrune
