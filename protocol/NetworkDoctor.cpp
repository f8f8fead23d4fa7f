#include "protocol/NetworkDoctor.h"

#include <algorithm>

#include "protocol/Record.h"

namespace valdrune {
namespace {

std::uint32_t MaskOf(int prefixLength) {
    if (prefixLength <= 0) return 0;
    if (prefixLength >= 32) return 0xFFFFFFFFu;
    return ~((1u << (32 - prefixLength)) - 1u);
}

DoctorResult Make(DoctorCheck check, Verdict verdict, Finding finding,
                  std::vector<std::string> values = {}, std::string command = {}) {
    return DoctorResult{check, verdict, finding, std::move(values), std::move(command)};
}

DoctorResult AdapterCheck(const NetworkFacts& f) {
    const auto& a = f.adapter;
    if (!f.adapterFound) {
        return Make(DoctorCheck::Adapter, Verdict::Problem, Finding::AdapterMissing, {f.requested});
    }
    if (!a.up) {
        return Make(DoctorCheck::Adapter, Verdict::Problem, Finding::AdapterDown, {a.name},
                    f.adapterUpCommand);
    }
    if (!a.carrier) {
        return Make(DoctorCheck::Adapter, Verdict::Problem, Finding::AdapterNoCarrier, {a.name});
    }
    if (a.ipv4 == 0) {
        return Make(DoctorCheck::Adapter, Verdict::Problem, Finding::AdapterNoIpv4, {a.name},
                    f.addressCommand);
    }
    return Make(DoctorCheck::Adapter, Verdict::Ok, Finding::AdapterReady,
                {a.name, Ipv4Text(a.ipv4), std::to_string(a.prefixLength)});
}

DoctorResult SubnetCheck(const NetworkFacts& f) {
    std::vector<std::string> values = {f.adapter.name};
    for (const auto& o : f.others) {
        if (SameSubnet(f.adapter, o)) values.push_back(o.name + " " + Ipv4Text(o.ipv4));
    }
    if (values.size() == 1) {
        return Make(DoctorCheck::SharedSubnet, Verdict::Ok, Finding::SubnetOwn, std::move(values));
    }
    // Answers and pages may then come and go through the other adapter.
    return Make(DoctorCheck::SharedSubnet, Verdict::Warning, Finding::SubnetShared,
                std::move(values));
}

DoctorResult PortCheck(const NetworkFacts& f) {
    if (f.portHolders.empty()) return Make(DoctorCheck::Port, Verdict::Ok, Finding::PortFree);
    std::vector<std::string> values;
    for (const auto& h : f.portHolders) {
        values.push_back(h.pid < 0 ? std::string("a process of another user")
                                   : h.process + " (pid " + std::to_string(h.pid) + ")");
    }
    // Even with address reuse on both sides, unicast answers reach only one of the sockets.
    return Make(DoctorCheck::Port, Verdict::Problem, Finding::PortHeld, std::move(values));
}

DoctorResult FirewallCheck(const NetworkFacts& f) {
    if (!f.firewallRead && f.loop == LoopOutcome::NotRun) {
        return Make(DoctorCheck::Firewall, Verdict::Unknown, Finding::FirewallUnchecked,
                    {f.adapter.name});
    }
    if (f.rules == RuleOutcome::Drops) {
        return Make(DoctorCheck::Firewall, Verdict::Problem, Finding::FirewallDropRule,
                    {f.ruleText, f.rulePlace}, f.ruleFixCommand);
    }
    if (f.loop == LoopOutcome::Lost) {
        return Make(DoctorCheck::Firewall, Verdict::Problem, Finding::FirewallLoopLost,
                    {f.loopTarget, f.asAdministrator}, f.ruleFixCommand);
    }
    // A rule that only may drop is worth a look unless the loop showed the way is open.
    if (f.rules == RuleOutcome::MayDrop && f.loop != LoopOutcome::Arrived) {
        return Make(DoctorCheck::Firewall, Verdict::Warning, Finding::FirewallMayDrop,
                    {f.ruleText, f.rulePlace}, f.ruleFixCommand);
    }
    if (f.rules == RuleOutcome::Unread && f.loop == LoopOutcome::NotRun) {
        return Make(DoctorCheck::Firewall, Verdict::Warning, Finding::FirewallUntested,
                    {f.untestedReason, f.rulesReadAs});
    }
    std::string tested;
    if (f.rules != RuleOutcome::Unread) tested = "rules";
    if (f.loop == LoopOutcome::Arrived) tested += tested.empty() ? "loop" : " loop";
    return Make(DoctorCheck::Firewall, Verdict::Ok, Finding::FirewallOpen, {tested, f.rulesName});
}

DoctorResult ReversePathCheck(const NetworkFacts& f) {
    const std::string& name = f.adapter.name;
    if (!f.reversePathRead) {
        return Make(DoctorCheck::ReversePath, Verdict::Unknown, Finding::ReversePathUnchecked,
                    {name});
    }
    if (f.reversePathMode != 1) {
        return Make(DoctorCheck::ReversePath, Verdict::Ok, Finding::ReversePathOff,
                    {name, std::to_string(f.reversePathMode)});
    }
    if (f.outsideRouteAdapter == name) {
        // Only answers from addresses routed elsewhere by a more specific route are lost.
        return Make(DoctorCheck::ReversePath, Verdict::Ok, Finding::ReversePathRouteHere, {name});
    }
    if (f.outsideRouteAdapter.empty()) {
        return Make(DoctorCheck::ReversePath, Verdict::Problem, Finding::ReversePathNoRoute, {name},
                    f.reversePathFixCommand);
    }
    return Make(DoctorCheck::ReversePath, Verdict::Problem, Finding::ReversePathRouteElsewhere,
                {name, f.outsideRouteAdapter}, f.reversePathFixCommand);
}

DoctorResult TunnelCheck(const NetworkFacts& f) {
    const std::string& name = f.adapter.name;
    if (f.broadcastRouteTunnel && f.broadcastRouteAdapter != name) {
        // Where sends are pinned to the adapter, the search still goes out the right way.
        return Make(DoctorCheck::TunnelRoute,
                    f.broadcastPinned ? Verdict::Warning : Verdict::Problem,
                    Finding::TunnelBroadcast, {f.broadcastRouteAdapter});
    }
    if (f.defaultRouteTunnel && f.defaultRouteAdapter != name) {
        return Make(DoctorCheck::TunnelRoute, Verdict::Warning, Finding::TunnelDefault,
                    {f.defaultRouteAdapter});
    }
    return Make(DoctorCheck::TunnelRoute, Verdict::Ok, Finding::RoutesPlain,
                {f.defaultRouteAdapter, f.broadcastRouteAdapter});
}

DoctorResult RightsCheck(const NetworkFacts& f) {
    if (!f.canProbe) {
        return Make(DoctorCheck::Rights, Verdict::Problem, Finding::RightsNoEcho,
                    {f.asAdministrator}, f.grantCommand);
    }
    if (!f.canFlush) {
        return Make(DoctorCheck::Rights, Verdict::Warning, Finding::RightsNoFlush,
                    {f.asAdministrator}, f.grantCommand);
    }
    return Make(DoctorCheck::Rights, Verdict::Ok, Finding::RightsComplete,
                {!f.echoMeans.empty() ? f.echoMeans
                                      : f.usesPingSocket ? "ping socket" : "helper"});
}

}  // namespace

void NetworkFacts::TakeRules(const RuleJudgement& j) {
    rules = j.outcome;
    ruleText = j.ruleText;
    rulePlace = j.place;
    ruleFixCommand = j.fixCommand;
}

bool SameSubnet(const AdapterFacts& a, const AdapterFacts& b) {
    if (a.ipv4 == 0 || b.ipv4 == 0) return false;
    const std::uint32_t mask = MaskOf(std::min(a.prefixLength, b.prefixLength));
    return (a.ipv4 & mask) == (b.ipv4 & mask);
}

std::vector<DoctorResult> Diagnose(const NetworkFacts& f) {
    std::vector<DoctorResult> out;
    out.push_back(AdapterCheck(f));
    const bool usable = f.adapterFound && f.adapter.ipv4 != 0;
    if (usable) out.push_back(SubnetCheck(f));
    out.push_back(PortCheck(f));
    if (usable) {
        out.push_back(FirewallCheck(f));
        out.push_back(ReversePathCheck(f));
        out.push_back(TunnelCheck(f));
    }
    out.push_back(RightsCheck(f));
    return out;
}

const DoctorResult* MostLikelyCause(const std::vector<DoctorResult>& results) {
    static constexpr DoctorCheck kOrder[] = {DoctorCheck::Adapter,     DoctorCheck::Port,
                                             DoctorCheck::Firewall,    DoctorCheck::ReversePath,
                                             DoctorCheck::TunnelRoute, DoctorCheck::SharedSubnet};
    for (const Verdict verdict : {Verdict::Problem, Verdict::Warning}) {
        for (const DoctorCheck check : kOrder) {
            for (const auto& r : results) {
                if (r.check == check && r.verdict == verdict &&
                    r.finding != Finding::FirewallUntested)
                    return &r;
            }
        }
    }
    return nullptr;
}

Verdict WorstVerdict(const std::vector<DoctorResult>& results) {
    Verdict worst = Verdict::Ok;
    for (const auto& r : results) worst = std::max(worst, r.verdict);
    return worst;
}

}  // namespace valdrune
