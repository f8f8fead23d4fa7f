// The host firewall's say over device answers on Windows: its policy and rules read through
// INetFwPolicy2 (COM), and judged the way the firewall itself decides about one inbound UDP
// datagram to port 10669 for this program.
#pragma once

#include <string>
#include <vector>

#include "protocol/NetworkDoctor.h"

namespace valdrune {

// NET_FW_PROFILE_TYPE2 bits.
inline constexpr long kFwProfileDomain = 0x1;
inline constexpr long kFwProfilePrivate = 0x2;
inline constexpr long kFwProfilePublic = 0x4;

struct FirewallProfileFacts {
    long type = 0;  // one kFwProfile* bit
    bool enabled = true;
    bool blockAllInbound = false;  // shields up: even allow rules do not count
    bool defaultBlocksInbound = true;
};

// One rule, as INetFwRule reports it (texts in UTF-8, environment variables expanded).
struct FirewallRuleFacts {
    std::string name;
    bool enabled = true;
    bool inbound = true;
    bool allow = true;
    long protocol = 256;             // 17 UDP, 6 TCP, 256 any
    std::string localPorts = "*";    // "*", or "10669,2000-3000", or keywords ("RPC", ...)
    std::string application;         // full path; empty: every program
    std::string service;             // a service's short name or "*"; empty: no service
    long profiles = 0x7FFFFFFF;      // kFwProfile* bits
    std::string interfaceTypes = "All";      // "All", or of "Lan", "Wireless", "RemoteAccess"
    std::vector<std::string> interfaces;     // adapter names; empty: every adapter
    std::string localAddresses = "*";
    std::string remoteAddresses = "*";
};

struct FirewallFacts {
    long currentProfiles = 0;  // kFwProfile* bits of the networks the host is on
    std::vector<FirewallProfileFacts> profiles;  // at least those in currentProfiles
    std::vector<FirewallRuleFacts> rules;
};

// What the datagram looks like to the rules.
struct FirewallTarget {
    std::string program;        // this program's full path
    std::string adapter;        // the adapter's friendly name
    std::string interfaceType;  // "Lan", "Wireless" or "RemoteAccess"
};

// A block rule wins over every allow rule; then an allow rule for the program (or every
// program) and the port; else the profile's default inbound action. A rule that applies only
// to some remote or local addresses may drop or admit only some answers. Where several
// profiles are current and they disagree, only "may drop" can be said. The rule is the
// deciding rule's name or the profile setting that decides, its place the profile ("the public
// profile"), the fix turns the deciding rule off or adds the program's rule.
RuleJudgement JudgeFirewall(const FirewallFacts& facts, const FirewallTarget& target);

// True when a rule's port list ("*", "10669", "2000-3000", comma-separated) covers `port`.
bool PortListCovers(const std::string& ports, unsigned port);

// Reads the policy and rules; false with the reason (an HRESULT in hex) when it cannot.
bool ReadFirewall(FirewallFacts& out, std::string& whyNot);

// The command that adds the inbound rule the setup program gives `program`.
std::string FirewallRuleCommand(const std::string& program);

}  // namespace valdrune
