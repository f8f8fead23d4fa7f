#include "platform/windows/Firewall.h"

#include <winsock2.h>
#include <windows.h>
#include <netfw.h>
#include <oleauto.h>

#include <cstdio>

#include "platform/windows/CodePage.h"

namespace valdrune {
namespace {

constexpr unsigned kAnswerPort = 10669;
constexpr long kUdp = 17;
constexpr long kAnyProtocol = 256;

// Paths and names compare without case, either slash.
std::string Folded(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c == '/') c = '\\';
    }
    return s;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> Split(const std::string& list) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = list.find(',', start);
        items.push_back(Trim(list.substr(start, comma - start)));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

bool IsAny(const std::string& value) {
    const std::string v = Folded(Trim(value));
    return v.empty() || v == "*" || v == "any";
}

bool ParseNumber(const std::string& s, unsigned long& value) {
    if (s.empty() || s.size() > 5) return false;
    value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return true;
}

// The profiles in the order they are read, with their names in messages and in netsh.
struct ProfileWords {
    long type;
    const char* name;
    const char* keyword;
};
constexpr ProfileWords kProfiles[] = {
    {kFwProfileDomain, "the domain profile", "domainprofile"},
    {kFwProfilePrivate, "the private profile", "privateprofile"},
    {kFwProfilePublic, "the public profile", "publicprofile"},
};

const ProfileWords* FindProfile(long type) {
    for (const auto& p : kProfiles) {
        if (p.type == type) return &p;
    }
    return nullptr;
}

const char* ProfileName(long type) {
    const ProfileWords* p = FindProfile(type);
    return p ? p->name : "a profile";
}

const char* ProfileKeyword(long type) {
    const ProfileWords* p = FindProfile(type);
    return p ? p->keyword : "publicprofile";
}

bool Applies(const FirewallRuleFacts& r, long profile, const FirewallTarget& t) {
    if (!r.enabled || !r.inbound || (r.profiles & profile) == 0) return false;
    if (r.protocol != kUdp && r.protocol != kAnyProtocol) return false;
    if (!PortListCovers(r.localPorts, kAnswerPort)) return false;
    if (!IsAny(r.application) && Folded(Trim(r.application)) != Folded(t.program)) return false;
    // A rule for a service is for that service's process only.
    if (!Trim(r.service).empty()) return false;
    if (Folded(Trim(r.interfaceTypes)) != "all" && !IsAny(r.interfaceTypes)) {
        bool listed = false;
        for (const auto& type : Split(r.interfaceTypes))
            listed = listed || Folded(type) == Folded(t.interfaceType);
        if (!listed) return false;
    }
    if (!r.interfaces.empty()) {
        bool listed = false;
        for (const auto& name : r.interfaces) listed = listed || Folded(name) == Folded(t.adapter);
        if (!listed) return false;
    }
    return true;
}

// Only for some addresses: whether a device's answer matches depends on where it comes from.
bool Partial(const FirewallRuleFacts& r) {
    return !IsAny(r.remoteAddresses) || !IsAny(r.localAddresses);
}

RuleJudgement JudgeProfile(const FirewallFacts& facts, const FirewallProfileFacts& p,
                           const FirewallTarget& target) {
    const std::string place = ProfileName(p.type);
    if (!p.enabled) return {RuleOutcome::Admits, {}, place, {}};
    if (p.blockAllInbound) {
        return {RuleOutcome::Drops, "block all incoming connections", place,
                std::string("netsh advfirewall set ") + ProfileKeyword(p.type) +
                    " firewallpolicy blockinbound,allowoutbound"};
    }
    const auto turnOff = [](const FirewallRuleFacts& r) {
        return "netsh advfirewall firewall set rule name=\"" + r.name + "\" new enable=no";
    };
    const FirewallRuleFacts* partialBlock = nullptr;
    bool allowed = false;
    for (const auto& r : facts.rules) {
        if (!Applies(r, p.type, target)) continue;
        if (!r.allow) {
            if (!Partial(r)) return {RuleOutcome::Drops, r.name, place, turnOff(r)};
            if (!partialBlock) partialBlock = &r;
        } else if (!Partial(r)) {
            allowed = true;
        }
    }
    if (partialBlock) return {RuleOutcome::MayDrop, partialBlock->name, place, turnOff(*partialBlock)};
    if (allowed || !p.defaultBlocksInbound) return {RuleOutcome::Admits, {}, place, {}};
    // Allow rules for some addresses only leave the rest to the default.
    bool partialAllow = false;
    for (const auto& r : facts.rules) partialAllow = partialAllow || (r.allow && Applies(r, p.type, target));
    return {partialAllow ? RuleOutcome::MayDrop : RuleOutcome::Drops,
            "default inbound action: block", place, FirewallRuleCommand(target.program)};
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

std::string TakeBstr(BSTR b) {
    std::string s = b ? WideToUtf8(b) : std::string();
    if (b) ::SysFreeString(b);
    return s;
}

std::string Expanded(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    wchar_t out[MAX_PATH * 2] = {};
    const DWORD n = ::ExpandEnvironmentStringsW(wide.c_str(), out, MAX_PATH * 2);
    return n > 0 && n <= MAX_PATH * 2 ? WideToUtf8(out) : path;
}

// Each call only fills what it can read; what it cannot stays at the "every" value.
FirewallRuleFacts ReadRule(INetFwRule* rule) {
    FirewallRuleFacts r;
    BSTR b = nullptr;
    VARIANT_BOOL flag = VARIANT_TRUE;
    NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_IN;
    NET_FW_ACTION action = NET_FW_ACTION_ALLOW;
    LONG value = 0;
    if (SUCCEEDED(rule->get_Name(&b))) r.name = TakeBstr(b);
    if (SUCCEEDED(rule->get_Enabled(&flag))) r.enabled = flag != VARIANT_FALSE;
    if (SUCCEEDED(rule->get_Direction(&direction))) r.inbound = direction == NET_FW_RULE_DIR_IN;
    if (SUCCEEDED(rule->get_Action(&action))) r.allow = action == NET_FW_ACTION_ALLOW;
    if (SUCCEEDED(rule->get_Protocol(&value))) r.protocol = value;
    if (SUCCEEDED(rule->get_Profiles(&value))) r.profiles = value;
    b = nullptr;
    if (SUCCEEDED(rule->get_LocalPorts(&b))) r.localPorts = TakeBstr(b);
    b = nullptr;
    if (SUCCEEDED(rule->get_ApplicationName(&b))) r.application = Expanded(TakeBstr(b));
    b = nullptr;
    if (SUCCEEDED(rule->get_ServiceName(&b))) r.service = TakeBstr(b);
    b = nullptr;
    if (SUCCEEDED(rule->get_InterfaceTypes(&b)) && b) r.interfaceTypes = TakeBstr(b);
    b = nullptr;
    if (SUCCEEDED(rule->get_LocalAddresses(&b)) && b) r.localAddresses = TakeBstr(b);
    b = nullptr;
    if (SUCCEEDED(rule->get_RemoteAddresses(&b)) && b) r.remoteAddresses = TakeBstr(b);
    VARIANT names;
    ::VariantInit(&names);
    if (SUCCEEDED(rule->get_Interfaces(&names)) && names.vt == (VT_ARRAY | VT_VARIANT) &&
        names.parray) {
        LONG low = 0, high = -1;
        ::SafeArrayGetLBound(names.parray, 1, &low);
        ::SafeArrayGetUBound(names.parray, 1, &high);
        for (LONG i = low; i <= high; ++i) {
            VARIANT item;
            ::VariantInit(&item);
            if (SUCCEEDED(::SafeArrayGetElement(names.parray, &i, &item)) && item.vt == VT_BSTR)
                r.interfaces.push_back(WideToUtf8(item.bstrVal));
            ::VariantClear(&item);
        }
    }
    ::VariantClear(&names);
    return r;
}

bool ReadRules(INetFwPolicy2* policy, std::vector<FirewallRuleFacts>& out, std::string& whyNot) {
    INetFwRules* rules = nullptr;
    HRESULT hr = policy->get_Rules(&rules);
    if (FAILED(hr) || !rules) {
        whyNot = "INetFwPolicy2::get_Rules failed (" + Hex(hr) + ")";
        return false;
    }
    IUnknown* unknown = nullptr;
    IEnumVARIANT* items = nullptr;
    hr = rules->get__NewEnum(&unknown);
    if (SUCCEEDED(hr) && unknown)
        hr = unknown->QueryInterface(__uuidof(IEnumVARIANT), reinterpret_cast<void**>(&items));
    if (unknown) unknown->Release();
    rules->Release();
    if (FAILED(hr) || !items) {
        whyNot = "the firewall rules cannot be listed (" + Hex(hr) + ")";
        return false;
    }
    VARIANT item;
    ::VariantInit(&item);
    ULONG fetched = 0;
    while (items->Next(1, &item, &fetched) == S_OK && fetched == 1) {
        INetFwRule* rule = nullptr;
        if (item.vt == VT_DISPATCH && item.pdispVal &&
            SUCCEEDED(item.pdispVal->QueryInterface(__uuidof(INetFwRule),
                                                    reinterpret_cast<void**>(&rule)))) {
            out.push_back(ReadRule(rule));
            rule->Release();
        }
        ::VariantClear(&item);
    }
    items->Release();
    return true;
}

bool ReadPolicy(INetFwPolicy2* policy, FirewallFacts& out, std::string& whyNot) {
    LONG current = 0;
    HRESULT hr = policy->get_CurrentProfileTypes(&current);
    if (FAILED(hr)) {
        whyNot = "INetFwPolicy2::get_CurrentProfileTypes failed (" + Hex(hr) + ")";
        return false;
    }
    out.currentProfiles = current;
    for (const auto& profile : kProfiles) {
        const long type = profile.type;
        if ((current & type) == 0) continue;
        const auto t = static_cast<NET_FW_PROFILE_TYPE2>(type);
        FirewallProfileFacts p;
        p.type = type;
        VARIANT_BOOL enabled = VARIANT_FALSE, blockAll = VARIANT_FALSE;
        NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
        if (SUCCEEDED(hr)) hr = policy->get_FirewallEnabled(t, &enabled);
        if (SUCCEEDED(hr)) hr = policy->get_BlockAllInboundTraffic(t, &blockAll);
        if (SUCCEEDED(hr)) hr = policy->get_DefaultInboundAction(t, &action);
        if (FAILED(hr)) {
            whyNot = std::string("the settings of ") + profile.name + " cannot be read (" +
                     Hex(hr) + ")";
            return false;
        }
        p.enabled = enabled != VARIANT_FALSE;
        p.blockAllInbound = blockAll != VARIANT_FALSE;
        p.defaultBlocksInbound = action == NET_FW_ACTION_BLOCK;
        out.profiles.push_back(p);
    }
    return ReadRules(policy, out.rules, whyNot);
}

}  // namespace

bool PortListCovers(const std::string& ports, unsigned port) {
    if (IsAny(ports)) return true;
    for (const auto& item : Split(ports)) {
        const std::size_t dash = item.find('-');
        unsigned long low = 0, high = 0;
        if (dash == std::string::npos) {
            if (ParseNumber(item, low) && low == port) return true;
        } else if (ParseNumber(Trim(item.substr(0, dash)), low) &&
                   ParseNumber(Trim(item.substr(dash + 1)), high) && low <= port &&
                   port <= high) {
            return true;
        }
    }
    return false;
}

RuleJudgement JudgeFirewall(const FirewallFacts& facts, const FirewallTarget& target) {
    std::vector<RuleJudgement> perProfile;
    for (const auto& p : facts.profiles) {
        if ((facts.currentProfiles & p.type) != 0) perProfile.push_back(JudgeProfile(facts, p, target));
    }
    if (perProfile.empty()) return {};
    const RuleJudgement* firstBad = nullptr;
    bool allSame = true;
    for (const auto& j : perProfile) {
        allSame = allSame && j.outcome == perProfile.front().outcome;
        if (!firstBad && j.outcome != RuleOutcome::Admits) firstBad = &j;
    }
    if (allSame || !firstBad) return firstBad ? *firstBad : perProfile.front();
    // The adapter's network has one of these profiles; which one is not known here.
    RuleJudgement j = *firstBad;
    j.outcome = RuleOutcome::MayDrop;
    return j;
}

std::string FirewallRuleCommand(const std::string& program) {
    const std::size_t slash = program.find_last_of("\\/");
    const std::string exe = slash == std::string::npos ? program : program.substr(slash + 1);
    return "netsh advfirewall firewall add rule name=\"Valdrune (" + exe +
           ")\" dir=in action=allow protocol=UDP localport=10669 profile=any enable=yes "
           "program=\"" + program + "\"";
}

bool ReadFirewall(FirewallFacts& out, std::string& whyNot) {
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // {E2B3C97F-6AE1-41AC-817A-F6F92166D7DD}
    static const CLSID kPolicy2 = {
        0xe2b3c97f, 0x6ae1, 0x41ac, {0x81, 0x7a, 0xf6, 0xf9, 0x21, 0x66, 0xd7, 0xdd}};
    INetFwPolicy2* policy = nullptr;
    const HRESULT hr = ::CoCreateInstance(kPolicy2, nullptr, CLSCTX_INPROC_SERVER,
                                          __uuidof(INetFwPolicy2),
                                          reinterpret_cast<void**>(&policy));
    bool ok = false;
    if (FAILED(hr) || !policy) {
        whyNot = "the firewall policy cannot be opened (" + Hex(hr) + ")";
    } else {
        ok = ReadPolicy(policy, out, whyNot);
        policy->Release();
    }
    if (SUCCEEDED(init)) ::CoUninitialize();
    return ok;
}

}  // namespace valdrune
