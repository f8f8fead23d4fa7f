#include "settings/rules/EntryRules.h"

#include <algorithm>
#include <array>

namespace valdrune {

std::string KeepDigits(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c >= '0' && c <= '9') out += c;
    }
    return out;
}

OctetCheck CheckOctet(const OctetRule& rule, int value) {
    if (value < 0) return OctetCheck{false, rule.emptiedValue, rule.emptiedMessage, false};
    if (value >= rule.lowest && value <= rule.highest) return OctetCheck{};
    return OctetCheck{false, rule.outOfRangeValue, rule.outOfRangeMessage, true};
}

namespace {

constexpr OctetRule kAddressFirst{1, 223, 192, 192, txt::kOctet1To223Empty, txt::kOctet1To223};
constexpr OctetRule kRoutedFirst{0, 223, 192, 192, txt::kOctet0To223Empty, txt::kOctet0To223};
constexpr OctetRule kAnyOctet{0, 255, 0, 255, txt::kOctet0To255Empty, txt::kOctet0To255};

enum class ControlClass { None, Address, Routed, Mask };

ControlClass ClassOf(int controlId) {
    switch (controlId) {
        case ctl::single::kAddress:
        case ctl::two::kLanAddress:
            return ControlClass::Address;
        case ctl::single::kGateway:
        case ctl::single::kDns1:
        case ctl::single::kDns2:
        case ctl::two::kGateway:
        case ctl::two::kDns1:
        case ctl::two::kDns2:
        case ctl::two::kPcAddress:
            return ControlClass::Routed;
        case ctl::single::kMask:
        case ctl::two::kLanMask:
        case ctl::two::kPcMask:
            return ControlClass::Mask;
        default:
            return ControlClass::None;
    }
}

}  // namespace

std::optional<OctetRule> OctetRuleFor(int controlId, int octetIndex) {
    if (octetIndex < 0 || octetIndex > 3) return std::nullopt;
    const ControlClass cls = ClassOf(controlId);
    if (cls == ControlClass::None) return std::nullopt;
    if (octetIndex > 0) return kAnyOctet;
    switch (cls) {
        case ControlClass::Address:
            return kAddressFirst;
        case ControlClass::Routed:
            return kRoutedFirst;
        default:
            return kAnyOctet;
    }
}

std::optional<OctetRefusal> CheckOctetField(int controlId, int octetIndex, int value) {
    const auto rule = OctetRuleFor(controlId, octetIndex);
    if (!rule) return std::nullopt;
    const OctetCheck check = CheckOctet(*rule, value);
    if (check.accepted) return std::nullopt;
    OctetRefusal r;
    r.notice = OctetNotice{octetIndex, value, check.messageId, controlId};
    r.putIn = check.putIn;
    r.wParam = check.formatWithValue ? 1 : 0;
    return r;
}

namespace {

// Ports that belong to well-known services or to the discovery protocol itself.
constexpr std::array<std::uint32_t, 15> kStandardRefused = {20, 21,  23,  25,  42,  53,  67, 68,
                                                            69, 110, 123, 161, 162, 554, 995};
constexpr std::array<std::uint32_t, 18> kTwoPortRefused = {
    20, 21, 23, 25, 42, 53, 67, 68, 69, 79, 105, 110, 123, 161, 162, 546, 547, 995};

template <std::size_t N>
bool Listed(const std::array<std::uint32_t, N>& list, std::uint32_t port) {
    return std::find(list.begin(), list.end(), port) != list.end();
}

}  // namespace

bool IsPortAllowed(std::uint32_t port, std::uint8_t kind, std::uint8_t https) {
    switch (kind) {
        case DEVICE_KIND_STANDARD:
            if (port > 65535 || Listed(kStandardRefused, port)) return false;
            if (port == 10669 || port == 10670) return false;
            return port < 59000 || port > 61000;
        case DEVICE_KIND_LEGACY:
            if (port == 80) return true;
            return port >= 1024 && port <= 65535 && port != 1900;
        case DEVICE_KIND_TWO_PORT:
            if (port > 65535 || Listed(kTwoPortRefused, port)) return false;
            if (port == 80 && https != 0) return false;
            if (port == 443 && https == 0) return false;
            if (port >= 10001 && port <= 10007) return false;
            if (port == 10669 || port == 10670) return false;
            return port < 50000 || port > 50255;
        default:
            return false;
    }
}

std::uint16_t InitialPort(const _CommandDataTable& record) {
    return IsPortAllowed(record.primary.port, record.kind, record.https) ? record.primary.port
                                                                         : std::uint16_t{80};
}

bool CheckAddress(std::uint32_t address, unsigned flags) {
    if ((flags & ADDR_NOT_ZERO) && address == 0) return false;
    if ((flags & ADDR_NOT_LOOPBACK) && address == 0x7F000001u) return false;
    if ((flags & ADDR_NOT_ALL_ONES) && address == 0xFFFFFFFFu) return false;
    if (flags & ADDR_MASK_FORM) {
        bool seenOne = false;
        for (int bit = 0; bit < 32; ++bit) {
            const bool one = (address >> bit) & 1u;
            if (one) {
                seenOne = true;
            } else if (seenOne) {
                return false;
            }
        }
    }
    return true;
}

namespace {

// Neither the network nor the broadcast address of the subnet whose host bits are `hostBits`.
bool IsHostAddress(std::uint32_t address, std::uint32_t hostBits) {
    const std::uint32_t host = address & hostBits;
    return host != 0 && host != hostBits;
}

bool DnsUsable(std::uint32_t dns, std::uint32_t address, std::uint32_t hostBits) {
    return dns == 0 || (dns != address && IsHostAddress(dns, hostBits));
}

}  // namespace

int CheckCombination(const _NetInfo& w, bool staticLan) {
    const std::uint32_t a = w.ipAddress;
    const std::uint32_t m = w.subnetMask;
    const std::uint32_t h = ~m;
    const std::uint32_t g = w.gateway;
    bool ok = true;
    if (staticLan && !IsHostAddress(a, h)) ok = false;
    if (ok && g != 0) ok = (g & m) == (a & m) && g != a && IsHostAddress(g, h);
    if (ok) ok = DnsUsable(w.dns1, a, h) && DnsUsable(w.dns2, a, h);
    return ok ? 0 : ctl::single::kAddress;
}

int CheckCombinationTwoPort(const _NetInfo& w, bool staticLan) {
    const std::uint32_t a = w.ipAddress;
    const std::uint32_t m = w.subnetMask;
    const std::uint32_t h = ~m;
    const std::uint32_t g = w.gateway;
    const std::uint32_t p = w.ipAddress2;
    const std::uint32_t pm = w.subnetMask2;
    const std::uint32_t ph = ~pm;

    if (staticLan) {
        if (!IsHostAddress(a, h)) return ctl::two::kLanAddress;
        if (p == 0) {
            if (pm != 0) return ctl::two::kPcAddress;
        } else if (pm == 0 || !IsHostAddress(p, ph) || p == a) {
            return ctl::two::kPcAddress;
        }
    }
    if (g != 0) {
        const bool inLan = (g & m) == (a & m);
        if (p != 0) {
            const bool inPc = (g & pm) == (p & pm);
            if (!inLan && !inPc) return ctl::two::kLanAddress;
            if (inPc && g == p) return ctl::two::kPcAddress;
        } else if (!inLan) {
            return ctl::two::kLanAddress;
        }
        if (g == a || !IsHostAddress(g, h)) return ctl::two::kLanAddress;
    }
    if (!DnsUsable(w.dns1, a, h) || !DnsUsable(w.dns2, a, h)) return ctl::two::kLanAddress;
    return 0;
}

}  // namespace valdrune
