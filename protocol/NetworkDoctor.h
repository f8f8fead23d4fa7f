// Why a search may find nothing: the host facts that explain it, and the verdict on each.
// The platform gathers the facts; the decisions here are shared by every platform, and the
// tools turn each Finding into their own texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace valdrune {

// Unknown: the host gives no way to read the fact, so nothing is judged.
enum class Verdict { Ok, Unknown, Warning, Problem };

enum class DoctorCheck { Adapter, SharedSubnet, Port, Firewall, ReversePath, TunnelRoute, Rights };

// values[] of a result, in this order, per finding (all texts as the platform spells them):
enum class Finding {
    AdapterReady,               // name, ipv4, prefix length
    AdapterMissing,             // what was asked for
    AdapterDown,                // name; command: the platform's way to bring it up
    AdapterNoCarrier,           // name
    AdapterNoIpv4,              // name; command: gives it an address (ADDRESS stands for it)
    SubnetOwn,                  // name
    SubnetShared,               // name, then "other-name ipv4" per adapter in the same subnet
    PortFree,                   // (none)
    PortHeld,                   // "process (pid N)" or "a process of another user" per holder
    FirewallOpen,               // what was tested: "rules", "loop" or both; the rules' name
    FirewallDropRule,           // rule text, its place "family table chain"
    FirewallMayDrop,            // rule text, its place
    FirewallLoopLost,           // the loop's target "address:port via adapter", who runs the fix
    FirewallUntested,           // why neither the rules nor the loop could say anything,
                                // who may read the rules (may be empty)
    FirewallUnchecked,          // name: the host's firewall is not read here
    ReversePathOff,             // name, effective mode (0 or 2)
    ReversePathRouteHere,       // name: strict, but the way out leaves through this adapter
    ReversePathRouteElsewhere,  // name, the adapter the way out leaves through
    ReversePathNoRoute,         // name: strict and there is no way out at all
    ReversePathUnchecked,       // name: the host has no such setting that could be read
    RoutesPlain,                // default-route adapter (or ""), broadcast-route adapter (or "")
    TunnelDefault,              // tunnel adapter holding the default route
    TunnelBroadcast,            // tunnel adapter holding the limited-broadcast route
    RightsComplete,             // "ping socket" or "helper"
    RightsNoEcho,               // who grants it; the command, if any, grants it
    RightsNoFlush,              // who grants it
};

struct DoctorResult {
    DoctorCheck check = DoctorCheck::Adapter;
    Verdict verdict = Verdict::Ok;
    Finding finding = Finding::AdapterReady;
    std::vector<std::string> values;
    std::string command;  // the platform's command that fixes it; may be empty
};

struct AdapterFacts {
    std::string name;
    std::uint32_t ipv4 = 0;  // host order; 0 when it has none
    int prefixLength = 0;
    bool up = false;
    bool carrier = false;
    bool tunnel = false;  // a point-to-point or VPN adapter
};

struct PortHolder {
    int pid = -1;  // -1: the system did not say (a process of another user)
    std::string process;
};

enum class RuleOutcome { Unread, Admits, Drops, MayDrop };
enum class LoopOutcome { NotRun, Arrived, Lost };

// What the host's firewall does with a device's answer, as each host's reading of its own rules
// judges it.
struct RuleJudgement {
    RuleOutcome outcome = RuleOutcome::Unread;
    std::string ruleText;    // the deciding rule, or the setting that decides
    std::string place;       // where that rule or setting is
    std::string fixCommand;  // lets the answer in
};

struct NetworkFacts {
    std::string requested;  // what the user named; empty for the default adapter
    bool adapterFound = false;
    AdapterFacts adapter;
    std::vector<AdapterFacts> others;  // every other adapter with an IPv4 address

    std::vector<PortHolder> portHolders;  // other sockets on UDP 10669

    bool firewallRead = true;  // false where nothing reads the host's firewall
    RuleOutcome rules = RuleOutcome::Unread;
    std::string ruleText, rulePlace, ruleFixCommand;
    void TakeRules(const RuleJudgement& j);  // the four fields above from the host's judgement
    LoopOutcome loop = LoopOutcome::NotRun;
    std::string loopTarget;
    std::string untestedReason;

    bool reversePathRead = true;  // false where the host has no reverse-path setting to read
    int reversePathMode = 0;  // effective rp_filter of the adapter: 0 off, 1 strict, 2 loose
    std::string outsideRouteAdapter;  // where the route to an address outside every subnet leaves
    std::string reversePathFixCommand;

    std::string defaultRouteAdapter, broadcastRouteAdapter;  // empty when there is no route
    bool defaultRouteTunnel = false, broadcastRouteTunnel = false;
    // Searches send out of the chosen adapter whatever the route to 255.255.255.255 says.
    bool broadcastPinned = false;

    bool canProbe = false, canFlush = false;
    bool usesPingSocket = false;
    std::string echoMeans;  // how echo goes out where it is neither a ping socket nor the helper
    std::string grantCommand;  // grants what is missing; empty when nothing is

    // How this platform words the fixes.
    std::string adapterUpCommand;  // brings the adapter up
    std::string addressCommand;    // gives it an address; ADDRESS stands for the address
    std::string asAdministrator;   // who runs a fix that needs rights, e.g. "as administrator"
    std::string rulesName;         // what the firewall's rules are called, e.g. "firewall rules"
    std::string rulesReadAs;       // who may read the rules where this process may not; empty
                                   // where anyone may
};

// Gathers the facts. adapter: a name, MAC or IPv4 text, or empty for the adapter a search
// uses by default, whose index is fallbackIndex (-1 when there is none).
class INetworkSurvey {
  public:
    virtual ~INetworkSurvey() = default;
    virtual NetworkFacts Gather(const std::string& adapter, std::int32_t fallbackIndex) = 0;
};

// One result per check, in DoctorCheck order. Without an adapter only Adapter, Port and Rights
// are judged: the others depend on it.
std::vector<DoctorResult> Diagnose(const NetworkFacts& facts);

// True when two adapters' subnets overlap (each by its own prefix length).
bool SameSubnet(const AdapterFacts& a, const AdapterFacts& b);

// The result that most likely explains a search that found nothing: the first problem, else
// the first warning, in the order adapter, port, firewall, reverse path, tunnel, shared subnet.
// Missing rights keep no answer away and a firewall nothing could test tells nothing, so
// neither counts. Null when no result does.
const DoctorResult* MostLikelyCause(const std::vector<DoctorResult>& results);

// The worst verdict of all results.
Verdict WorstVerdict(const std::vector<DoctorResult>& results);

}  // namespace valdrune
