#include "cli/Doctor.h"

#include <cstdio>

#include "cli/ExitCodes.h"
#include "protocol/Record.h"

namespace valdrune::cli {
namespace {

std::string At(const DoctorResult& r, std::size_t i) {
    return i < r.values.size() ? Printable(r.values[i]) : std::string();
}

std::string List(const DoctorResult& r, std::size_t from) {
    std::string s;
    for (std::size_t i = from; i < r.values.size(); ++i) s += (s.empty() ? "" : ", ") + At(r, i);
    return s;
}

std::string WithCommand(std::string fix, const std::string& command) {
    if (command.empty()) return fix;
    return fix + (fix.empty() ? "" : ": ") + PrintableCommand(command);
}

// " (as administrator)" after a fix, or with `space` " as administrator"; empty where the
// platform names no one.
std::string Who(const DoctorResult& r, std::size_t i, const char* space = nullptr) {
    const std::string who = At(r, i);
    if (who.empty()) return {};
    return space ? space + who : " (" + who + ")";
}

std::string Rules(const DoctorResult& r, std::size_t i) {
    const std::string name = At(r, i);
    return name.empty() ? "firewall rules" : name;
}

// With a command the user runs it; without one the program itself must run with the rights.
std::string Grant(const DoctorResult& r) {
    if (r.command.empty()) return "Run the program" + Who(r, 0, " ") + ".";
    return WithCommand("Grant it" + Who(r, 0), r.command);
}

DoctorText Texts(const DoctorResult& r) {
    switch (r.finding) {
        case Finding::AdapterReady:
            return {
                At(r, 0) + " is up, has carrier and the address " + At(r, 1) + "/" + At(r, 2) + ".",
                ""};
        case Finding::AdapterMissing:
            return {r.values.empty() || r.values[0].empty()
                        ? "No adapter has an IPv4 address."
                        : "No adapter matches \"" + At(r, 0) + "\".",
                    "Name an adapter from 'valdrune-cli interfaces' with -i, or connect one."};
        case Finding::AdapterDown:
            return {At(r, 0) + " is down.", WithCommand("Bring it up", r.command)};
        case Finding::AdapterNoCarrier:
            return {At(r, 0) + " has no carrier: no cable, switch port or link partner.",
                    "Check the cable and the switch port of " + At(r, 0) + "."};
        case Finding::AdapterNoIpv4:
            return {At(r, 0) + " has no IPv4 address, so no search can go out of it.",
                    r.command.empty() ? "Give it an address in the devices' subnet."
                                      : "Give it an address in the devices' subnet, e.g. " +
                                            PrintableCommand(r.command)};
        case Finding::SubnetOwn:
            return {"No other adapter is in the subnet of " + At(r, 0) + ".", ""};
        case Finding::SubnetShared:
            return {"Other adapters are in the subnet of " + At(r, 0) + ": " + List(r, 1) +
                        "; answers and device pages may go through them.",
                    "Take the address off the adapters not used for the devices, or use another "
                    "subnet there."};
        case Finding::PortFree:
            return {"No other program holds UDP port 10669.", ""};
        case Finding::PortHeld:
            return {"UDP port 10669 is held by " + List(r, 0) +
                        "; device answers reach only one of the programs.",
                    "Close that program before searching."};
        case Finding::FirewallOpen:
            return {(At(r, 0).find("rules") != std::string::npos
                         ? "The " + Rules(r, 1) + " admit answers to UDP 10669"
                         : "The " + Rules(r, 1) + " could not be read") +
                        (At(r, 0).find("loop") != std::string::npos
                             ? "; a broadcast looped to the adapter arrived."
                             : "."),
                    ""};
        case Finding::FirewallDropRule:
            return {"The firewall drops answers to UDP 10669: \"" + At(r, 0) + "\" in " + At(r, 1) +
                        ".",
                    WithCommand("Admit them", r.command)};
        case Finding::FirewallMayDrop:
            return {"A firewall rule may drop answers to UDP 10669: \"" + At(r, 0) + "\" in " +
                        At(r, 1) + ".",
                    WithCommand("If it does, admit them", r.command)};
        case Finding::FirewallLoopLost:
            return {"A broadcast to " + At(r, 0) +
                        " did not arrive: a local firewall drops inbound UDP 10669.",
                    WithCommand("Admit it" + Who(r, 1), r.command)};
        case Finding::FirewallUntested:
            return {"The firewall could not be checked: " + At(r, 0) + ".",
                    At(r, 1).empty() ? std::string()
                                     : "Run the doctor" + Who(r, 1, " ") + " to read the rules."};
        case Finding::FirewallUnchecked:
            return {"The firewall on " + At(r, 0) + ": not checked on this system.", ""};
        case Finding::ReversePathUnchecked:
            return {"Reverse-path filtering of " + At(r, 0) + ": not checked on this system.", ""};
        case Finding::ReversePathOff:
            return {"Reverse-path filtering on " + At(r, 0) + " is " +
                        (At(r, 1) == "2" ? "loose" : "off") +
                        ": answers from devices in other subnets are kept.",
                    ""};
        case Finding::ReversePathRouteHere:
            return {"Reverse-path filtering on " + At(r, 0) +
                        " is strict, but the default route leaves through it, so answers from "
                        "devices in other subnets are kept.",
                    ""};
        case Finding::ReversePathRouteElsewhere:
            return {"Reverse-path filtering on " + At(r, 0) +
                        " is strict and the route to other subnets leaves through " + At(r, 1) +
                        ": answers from devices outside the subnet of " + At(r, 0) +
                        " are dropped.",
                    WithCommand("Make it loose", r.command)};
        case Finding::ReversePathNoRoute:
            return {"Reverse-path filtering on " + At(r, 0) +
                        " is strict and there is no default route: answers from devices outside "
                        "its subnet are dropped.",
                    WithCommand("Make it loose", r.command)};
        case Finding::RoutesPlain:
            return {r.values.empty() || r.values[0].empty()
                        ? "No tunnel holds the default or the broadcast route (there is no default "
                          "route)."
                        : "No tunnel holds the default or the broadcast route (default: " +
                              At(r, 0) + ").",
                    ""};
        case Finding::TunnelDefault:
            return {"The tunnel or VPN adapter " + At(r, 0) +
                        " holds the default route: pages of devices outside the adapter's subnet, "
                        "and answers from them, go through it.",
                    "Disconnect the VPN while working on the devices, or use 'valdrune-cli "
                    "reach'."};
        case Finding::TunnelBroadcast:
            return {"The tunnel or VPN adapter " + At(r, 0) + " holds the limited-broadcast route" +
                        (r.verdict == Verdict::Problem
                             ? ": search requests go into the tunnel."
                             : "; searches still leave through the chosen adapter, other tools "
                               "may not."),
                    "Disconnect the VPN while searching."};
        case Finding::RightsComplete:
            return {"ICMP echo (through the " + At(r, 0) +
                        ") and the neighbour-cache flush are available.",
                    ""};
        case Finding::RightsNoEcho:
            return {
                "ICMP echo is not permitted: address conflicts cannot be probed and device "
                "pages do not open.",
                Grant(r)};
        case Finding::RightsNoFlush:
            return {
                "The neighbour cache cannot be flushed: probes may be answered from stale "
                "entries.",
                Grant(r)};
    }
    return {};
}

// The adapter a search uses when none is named: the first one with an IPv4 address.
std::int32_t DefaultAdapterIndex(IHostNetwork& host) {
    for (const auto& a : host.Adapters()) {
        std::uint32_t ip = 0;
        if (ParseIpv4(a.ipv4Text, ip) && ip != 0) return a.index;
    }
    return -1;
}

}  // namespace

DoctorText DoctorTexts(const DoctorResult& result) { return Texts(result); }

const char* CheckName(DoctorCheck check) {
    switch (check) {
        case DoctorCheck::Adapter:
            return "adapter";
        case DoctorCheck::SharedSubnet:
            return "subnet";
        case DoctorCheck::Port:
            return "port";
        case DoctorCheck::Firewall:
            return "firewall";
        case DoctorCheck::ReversePath:
            return "rp-filter";
        case DoctorCheck::TunnelRoute:
            return "tunnel";
        case DoctorCheck::Rights:
            return "rights";
    }
    return "?";
}

const char* VerdictName(Verdict verdict) {
    switch (verdict) {
        case Verdict::Ok:
            return "ok";
        case Verdict::Unknown:
            return "unknown";
        case Verdict::Warning:
            return "warning";
        case Verdict::Problem:
            return "problem";
    }
    return "?";
}

int RunDoctor(IHostNetwork& host, INetworkSurvey& survey, const std::string& adapter,
              Format format, std::ostream& out, std::ostream& err) {
    const NetworkFacts facts = survey.Gather(adapter, DefaultAdapterIndex(host));
    const auto results = Diagnose(facts);
    const Verdict worst = WorstVerdict(results);
    if (format == Format::Json) {
        Json checks = Json::array();
        for (const auto& r : results) {
            const DoctorText t = Texts(r);
            Json j{{"check", CheckName(r.check)},
                   {"verdict", VerdictName(r.verdict)},
                   {"evidence", t.evidence},
                   {"fix", t.fix}};
            if (!r.command.empty()) j["command"] = r.command;
            checks.push_back(std::move(j));
        }
        out << Dump(Json{{"adapter", facts.adapterFound ? facts.adapter.name : ""},
                         {"verdict", VerdictName(worst)},
                         {"checks", std::move(checks)}})
            << '\n';
    } else {
        for (const auto& r : results) {
            const DoctorText t = Texts(r);
            char head[32];
            std::snprintf(head, sizeof head, "%-8s %-10s ", VerdictName(r.verdict),
                          CheckName(r.check));
            out << head << t.evidence << '\n';
            if (!t.fix.empty()) out << std::string(20, ' ') << "fix: " << t.fix << '\n';
        }
    }
    out.flush();
    if (worst == Verdict::Problem) {
        err << "The doctor found a problem.\n";
        return EXIT_PROBLEM;
    }
    return EXIT_OK;
}

}  // namespace valdrune::cli
