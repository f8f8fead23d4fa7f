#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "protocol/NetworkDoctor.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

NetworkFacts Healthy() {
    NetworkFacts f;
    f.adapterFound = true;
    f.adapter = AdapterFacts{"pc0", 0x0A4D0101, 24, true, true, false};
    f.others = {AdapterFacts{"wlan0", 0xC0A80105, 24, true, true, false}};
    f.rules = RuleOutcome::Admits;
    f.loop = LoopOutcome::Arrived;
    f.reversePathMode = 1;
    f.outsideRouteAdapter = f.defaultRouteAdapter = f.broadcastRouteAdapter = "pc0";
    f.broadcastPinned = true;
    f.canProbe = f.canFlush = true;
    return f;
}

struct Case {
    const char* name;
    std::function<void(NetworkFacts&)> change;
    DoctorCheck check;
    Verdict verdict;
    Finding finding;
};

class Diagnosis : public testing::TestWithParam<Case> {};

TEST_P(Diagnosis, JudgesTheChangedFact) {
    NetworkFacts f = Healthy();
    GetParam().change(f);
    const auto results = Diagnose(f);
    const DoctorResult* r = nullptr;
    for (const auto& x : results) {
        if (x.check == GetParam().check) r = &x;
    }
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->verdict, GetParam().verdict);
    EXPECT_EQ(r->finding, GetParam().finding);
    // Nothing else turns bad because of one fact.
    for (const auto& x : results) {
        if (x.check != GetParam().check) {
            EXPECT_EQ(x.verdict, Verdict::Ok) << static_cast<int>(x.check);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Facts, Diagnosis,
    testing::Values(
        Case{"Healthy", [](NetworkFacts&) {}, DoctorCheck::ReversePath, Verdict::Ok,
             Finding::ReversePathRouteHere},
        Case{"NoCarrier", [](NetworkFacts& f) { f.adapter.carrier = false; }, DoctorCheck::Adapter,
             Verdict::Problem, Finding::AdapterNoCarrier},
        Case{"OverlappingSubnetByTheWiderMask",
             [](NetworkFacts& f) {
                 f.others[0] = AdapterFacts{"eth1", 0x0A4D0207, 16, true, true, false};
             },
             DoctorCheck::SharedSubnet, Verdict::Warning, Finding::SubnetShared},
        Case{"PortHeld",
             [](NetworkFacts& f) {
                 f.portHolders = {PortHolder{42, "other"}};
             },
             DoctorCheck::Port, Verdict::Problem, Finding::PortHeld},
        Case{"LoopLostWhileRulesAdmit", [](NetworkFacts& f) { f.loop = LoopOutcome::Lost; },
             DoctorCheck::Firewall, Verdict::Problem, Finding::FirewallLoopLost},
        Case{"MayDropButTheLoopArrived", [](NetworkFacts& f) { f.rules = RuleOutcome::MayDrop; },
             DoctorCheck::Firewall, Verdict::Ok, Finding::FirewallOpen},
        Case{"MayDropUntestedByTheLoop",
             [](NetworkFacts& f) {
                 f.rules = RuleOutcome::MayDrop;
                 f.loop = LoopOutcome::NotRun;
             },
             DoctorCheck::Firewall, Verdict::Warning, Finding::FirewallMayDrop},
        Case{"NeitherRulesNorLoop",
             [](NetworkFacts& f) {
                 f.rules = RuleOutcome::Unread;
                 f.loop = LoopOutcome::NotRun;
             },
             DoctorCheck::Firewall, Verdict::Warning, Finding::FirewallUntested},
        Case{"StrictWithTheRouteElsewhere",
             [](NetworkFacts& f) { f.outsideRouteAdapter = "wlan0"; }, DoctorCheck::ReversePath,
             Verdict::Problem, Finding::ReversePathRouteElsewhere},
        Case{"StrictWithoutAnyRoute", [](NetworkFacts& f) { f.outsideRouteAdapter.clear(); },
             DoctorCheck::ReversePath, Verdict::Problem, Finding::ReversePathNoRoute},
        Case{"LooseWithTheRouteElsewhere",
             [](NetworkFacts& f) {
                 f.reversePathMode = 2;
                 f.outsideRouteAdapter = "wlan0";
             },
             DoctorCheck::ReversePath, Verdict::Ok, Finding::ReversePathOff},
        Case{"StrictnessTheHostCannotReportIsNotJudged",
             [](NetworkFacts& f) {
                 f.reversePathRead = false;
                 f.outsideRouteAdapter.clear();
             },
             DoctorCheck::ReversePath, Verdict::Unknown, Finding::ReversePathUnchecked},
        Case{"FirewallTheHostCannotReportIsNotJudged",
             [](NetworkFacts& f) {
                 f.firewallRead = false;
                 f.rules = RuleOutcome::Unread;
                 f.loop = LoopOutcome::NotRun;
             },
             DoctorCheck::Firewall, Verdict::Unknown, Finding::FirewallUnchecked},
        Case{"TunnelBroadcastRouteWithUnpinnedSends",
             [](NetworkFacts& f) {
                 f.broadcastRouteAdapter = "tun0";
                 f.broadcastRouteTunnel = true;
                 f.broadcastPinned = false;
             },
             DoctorCheck::TunnelRoute, Verdict::Problem, Finding::TunnelBroadcast},
        Case{"TunnelDefaultRoute",
             [](NetworkFacts& f) {
                 f.defaultRouteAdapter = "wg0";
                 f.defaultRouteTunnel = true;
             },
             DoctorCheck::TunnelRoute, Verdict::Warning, Finding::TunnelDefault},
        Case{"NoEcho", [](NetworkFacts& f) { f.canProbe = false; }, DoctorCheck::Rights,
             Verdict::Problem, Finding::RightsNoEcho}),
    test::ByName{});

TEST(Diagnosis, WithoutAnAdapterJudgesOnlyWhatDoesNotDependOnIt) {
    NetworkFacts f;
    f.requested = "eth9";
    const auto results = Diagnose(f);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].finding, Finding::AdapterMissing);
    EXPECT_EQ(results[0].values, std::vector<std::string>{"eth9"});
    EXPECT_EQ(WorstVerdict(results), Verdict::Problem);
}

struct CauseCase {
    const char* name;
    std::function<void(NetworkFacts&)> change;
    std::optional<Finding> cause;
};

class Cause : public testing::TestWithParam<CauseCase> {};

TEST_P(Cause, IsTheFirstProblemElseTheFirstWarning) {
    NetworkFacts f = Healthy();
    GetParam().change(f);
    const auto results = Diagnose(f);
    const DoctorResult* cause = MostLikelyCause(results);
    if (!GetParam().cause) {
        EXPECT_EQ(cause, nullptr) << static_cast<int>(cause->finding);
        return;
    }
    ASSERT_NE(cause, nullptr);
    EXPECT_EQ(cause->finding, *GetParam().cause);
}

INSTANTIATE_TEST_SUITE_P(
    Facts, Cause,
    testing::Values(
        CauseCase{"Healthy", [](NetworkFacts&) {}, std::nullopt},
        // Neither keeps an answer away, though one is a problem and the other a warning.
        CauseCase{"RightsAndAnUntestedFirewallNeverCount",
                  [](NetworkFacts& f) {
                      f.canProbe = false;
                      f.rules = RuleOutcome::Unread;
                      f.loop = LoopOutcome::NotRun;
                  },
                  std::nullopt},
        // A shared subnet comes first in the list of checks but last as a cause.
        CauseCase{"TunnelWarningBeforeSharedSubnet",
                  [](NetworkFacts& f) {
                      f.others[0].ipv4 = 0x0A4D0105;
                      f.defaultRouteAdapter = "tun0";
                      f.defaultRouteTunnel = true;
                  },
                  Finding::TunnelDefault},
        CauseCase{"SharedSubnetAlone", [](NetworkFacts& f) { f.others[0].ipv4 = 0x0A4D0105; },
                  Finding::SubnetShared},
        // Any problem beats every warning, and the port comes before the firewall.
        CauseCase{"ProblemsInOrderBeforeWarnings",
                  [](NetworkFacts& f) {
                      f.others[0].ipv4 = 0x0A4D0105;
                      f.rules = RuleOutcome::Drops;
                      f.portHolders = {PortHolder{42, "other"}};
                  },
                  Finding::PortHeld},
        CauseCase{"FirewallBeforeReversePath",
                  [](NetworkFacts& f) {
                      f.loop = LoopOutcome::Lost;
                      f.outsideRouteAdapter = "wlan0";
                  },
                  Finding::FirewallLoopLost}),
    test::ByName{});

}  // namespace
}  // namespace valdrune
