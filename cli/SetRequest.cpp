#include "cli/SetRequest.h"

#include <algorithm>
#include <utility>

#include "cli/RecordView.h"
#include "cli/Texts.h"
#include "protocol/Protocol.h"

namespace valdrune::cli {

namespace {

// The address modes by the names the command line takes and prints.
constexpr std::pair<ModeChoice, const char*> kModeNames[] = {{ModeChoice::Dhcp, "dhcp"},
                                                             {ModeChoice::Static, "static"},
                                                             {ModeChoice::Auto, "auto"},
                                                             {ModeChoice::AutoIp, "autoip"},
                                                             {ModeChoice::PcDhcp, "pc-dhcp"}};

bool Address(const std::string& value, std::optional<std::uint32_t>& field, const std::string& name,
             std::string& error) {
    std::uint32_t v = 0;
    if (!ParseIpv4(value, v)) {
        error = "malformed IPv4 address for " + name + ": \"" + value + "\"";
        return false;
    }
    field = v;
    return true;
}

}  // namespace

bool SetField(SetRequest& r, const std::string& name, const std::string& value,
              std::string& error) {
    if (name == "mac") {
        if (!ParseMac(value, r.mac)) {
            error = "malformed MAC address: \"" + value + "\" (expected AA-BB-CC-DD-EE-FF)";
            return false;
        }
        r.macText = MacText(r.mac);
        return true;
    }
    if (name == "port") {
        // The port edit only ever holds digits; anything else is not a port number.
        if (!value.empty() && KeepDigits(value) != value) {
            error = "malformed port number: \"" + value + "\"";
            return false;
        }
        r.port = value;
        return true;
    }
    if (value.empty()) return true;
    if (name == "mode") {
        for (const auto& [mode, text] : kModeNames) {
            if (value == text) {
                r.mode = mode;
                return true;
            }
        }
        error = "unknown address mode \"" + value + "\" (dhcp, static, auto, autoip, pc-dhcp)";
        return false;
    }
    if (name == "dns") {
        if (value == "auto") {
            r.dns = DnsMode::Auto;
        } else if (value == "manual") {
            r.dns = DnsMode::Manual;
        } else {
            error = "unknown DNS mode \"" + value + "\" (auto, manual)";
            return false;
        }
        return true;
    }
    if (name == "ip") return Address(value, r.ip, name, error);
    if (name == "mask") return Address(value, r.mask, name, error);
    if (name == "gateway") return Address(value, r.gateway, name, error);
    if (name == "dns1") return Address(value, r.dns1, name, error);
    if (name == "dns2") return Address(value, r.dns2, name, error);
    if (name == "pc-ip") return Address(value, r.pcIp, name, error);
    if (name == "pc-mask") return Address(value, r.pcMask, name, error);
    error = "unknown field \"" + name + "\"";
    return false;
}

namespace {

PreparedSettings Refused(std::string message, int id = 0) {
    PreparedSettings p;
    p.messageId = id;
    p.message = std::move(message);
    return p;
}

const char* ModeName(ModeChoice m) {
    for (const auto& [mode, text] : kModeNames)
        if (mode == m) return text;
    return "?";
}

// The dialog's IP-address controls never hold an octet outside their range (a first octet of
// 0 or above 223 in an address, for one), so a value typed for such a control is refused with
// the control's own message instead of being sent.
std::optional<std::string> OctetRefused(int controlId, const std::optional<std::uint32_t>& address) {
    if (!address) return std::nullopt;
    for (int octet = 0; octet < 4; ++octet) {
        const int value = static_cast<int>((*address >> (24 - 8 * octet)) & 0xFFu);
        const std::optional<OctetRule> rule = OctetRuleFor(controlId, octet);
        if (!rule) continue;
        const OctetCheck check = CheckOctet(*rule, value);
        if (check.accepted) continue;
        std::string text = Text(check.messageId);
        if (const auto at = text.find("%d"); check.formatWithValue && at != std::string::npos)
            text.replace(at, 2, std::to_string(value));
        return Ipv4Text(*address) + ": " + text;
    }
    return std::nullopt;
}

// One address of the request, the control whose rules it must pass and the entry field it fills.
struct AddressField {
    int controlId;
    const std::optional<std::uint32_t>& given;
    std::uint32_t& field;
};

// Every given address is checked before any is taken, so a refusal leaves the entry unchanged.
std::optional<std::string> TakeAddresses(std::initializer_list<AddressField> fields) {
    for (const AddressField& f : fields)
        if (auto why = OctetRefused(f.controlId, f.given)) return why;
    for (const AddressField& f : fields)
        if (f.given) f.field = *f.given;
    return std::nullopt;
}

std::string NotOffered(ModeChoice m, const _CommandDataTable& r) {
    return std::string("this ") + KindName(r.kind) + " device does not offer the address mode " +
           ModeName(m);
}

// Single-port dialog: which choices its controls offer for this device in this mode.
std::optional<std::string> EnterSinglePort(const _CommandDataTable& p, const SetRequest& q,
                                           SinglePortEntry& e) {
    const std::uint8_t kind = p.kind;
    const bool standard = kind == DEVICE_KIND_STANDARD;
    const bool legacy = kind == DEVICE_KIND_LEGACY;
    if (q.pcIp || q.pcMask) return "--pc-ip and --pc-mask are for two-port devices only";
    if (q.mode) {
        switch (*q.mode) {
            case ModeChoice::Dhcp:
                e.mode = AddressMode::Dhcp;
                break;
            case ModeChoice::Static:
                e.mode = AddressMode::Static;
                break;
            case ModeChoice::Auto:
                if (standard && p.capabilityFlag < 2) return NotOffered(*q.mode, p);
                e.mode = AddressMode::AutoAdvanced;
                break;
            case ModeChoice::AutoIp:
                if (legacy || (standard && p.capabilityFlag < 1)) return NotOffered(*q.mode, p);
                e.mode = AddressMode::AutoIp;
                break;
            case ModeChoice::PcDhcp:
                return NotOffered(*q.mode, p);
        }
        // Choosing Static on a current device forces manual DNS, as its radio does.
        if (standard && e.mode == AddressMode::Static) e.dns = DnsMode::Manual;
    }
    if (q.dns) {
        if (!standard) return "this device has no DNS mode; its DNS servers go with --static";
        e.dns = *q.dns;
    }
    const bool isStatic = e.mode == AddressMode::Static;
    if ((q.ip || q.mask || q.gateway) && !isStatic) {
        return "--ip, --mask and --gateway are only used with a static address";
    }
    const bool dnsEditable = standard ? e.dns == DnsMode::Manual : (legacy && isStatic);
    if ((q.dns1 || q.dns2) && !dnsEditable) {
        return standard ? "--dns1 and --dns2 are only used with manual DNS (--dns manual)"
                        : "--dns1 and --dns2 are only used with a static address";
    }
    if (q.port && e.mode == AddressMode::AutoAdvanced && (standard || legacy)) {
        return "the port cannot be changed in the automatic address mode";
    }
    namespace c = ctl::single;
    const auto why = TakeAddresses({{c::kAddress, q.ip, e.address}, {c::kMask, q.mask, e.mask},
                                    {c::kGateway, q.gateway, e.gateway},
                                    {c::kDns1, q.dns1, e.dns1}, {c::kDns2, q.dns2, e.dns2}});
    if (why) return why;
    if (q.port) e.portText = *q.port;
    return std::nullopt;
}

std::optional<std::string> EnterTwoPort(const _CommandDataTable& p, const SetRequest& q,
                                        TwoPortEntry& e) {
    if (p.portKind < 6) return "this two-port device only shows its settings; they cannot be set";
    const bool modesOffered = p.portOptionA != 0;
    const bool pcPortSelectable = modesOffered && p.portOptionB >= 2;
    if (q.mode) {
        switch (*q.mode) {
            case ModeChoice::Static:
                e.mode = TwoPortMode::BothManual;
                break;
            case ModeChoice::Dhcp:
                if (!modesOffered) return NotOffered(*q.mode, p);
                e.mode = TwoPortMode::LanDhcp;
                break;
            case ModeChoice::PcDhcp:
                if (!pcPortSelectable) return NotOffered(*q.mode, p);
                e.mode = TwoPortMode::PcDhcp;
                break;
            default:
                return NotOffered(*q.mode, p);
        }
        // A manual port forces manual DNS, as its radio does.
        if (e.mode == TwoPortMode::BothManual) e.dnsAutoChecked = false;
    }
    if (q.dns) {
        if (*q.dns == DnsMode::Auto) {
            if (!modesOffered || e.mode == TwoPortMode::BothManual) {
                return "DNS auto needs DHCP on one of the ports";
            }
            e.dnsAutoChecked = true;
        } else {
            e.dnsAutoChecked = false;
        }
    }
    const bool bothManual = e.mode == TwoPortMode::BothManual;
    if ((q.ip || q.mask || q.gateway) && !bothManual) {
        return "--ip, --mask and --gateway are only used when both ports are manual (--static)";
    }
    const bool pcEditable = p.portOptionB != 1 && e.mode != TwoPortMode::PcDhcp;
    if ((q.pcIp || q.pcMask) && !pcEditable) {
        return "the PC-port address cannot be changed on this device in this mode";
    }
    if ((q.dns1 || q.dns2) && e.dnsAutoChecked) {
        return "--dns1 and --dns2 are only used with manual DNS (--dns manual)";
    }
    namespace c = ctl::two;
    const auto why = TakeAddresses(
        {{c::kLanAddress, q.ip, e.lanAddress}, {c::kLanMask, q.mask, e.lanMask},
         {c::kGateway, q.gateway, e.gateway}, {c::kPcAddress, q.pcIp, e.pcAddress},
         {c::kPcMask, q.pcMask, e.pcMask}, {c::kDns1, q.dns1, e.dns1}, {c::kDns2, q.dns2, e.dns2}});
    if (why) return why;
    if (q.port) e.portText = *q.port;
    return std::nullopt;
}

}  // namespace

PreparedSettings PrepareSettings(const _CommandDataTable& current, const SetRequest& q) {
    if (current.statusBits & 1u) return Refused(Text(443), 443);
    const _CommandDataTable prepared = PrepareRecordForDialog(current);
    SaveResult result;
    if (current.kind == DEVICE_KIND_TWO_PORT) {
        TwoPortEntry e = InitialTwoPortEntry(prepared);
        if (auto why = EnterTwoPort(prepared, q, e)) return Refused(*why);
        result = ValidateTwoPortSave(e, prepared, q.waitForRestart);
    } else {
        SinglePortEntry e = InitialSinglePortEntry(prepared, q.waitForRestart);
        if (auto why = EnterSinglePort(prepared, q, e)) return Refused(*why);
        result = ValidateSinglePortSave(e, prepared);
    }
    if (!result.ok) {
        return Refused(FormatRefusal(Text(result.messageId), result), result.messageId);
    }
    PreparedSettings p;
    p.before = current;
    p.after = result.record;
    if (!CProtocol::CommandForKind(current.kind, p.command, p.mask)) {
        return Refused("devices of this kind cannot be set");
    }
    p.ok = true;
    return p;
}

namespace {

bool FixesPrimary(const _CommandDataTable& r) {
    switch (r.kind) {
        case DEVICE_KIND_TWO_PORT:
            return r.ipv4Mode != 0;  // LAN port manual
        case DEVICE_KIND_STANDARD:
            return r.ipv4Mode == 3;
        case DEVICE_KIND_LEGACY:
            return r.legacyAddressing == 0x12;
        default:
            return false;
    }
}

}  // namespace

std::vector<std::uint32_t> TargetAddresses(const _CommandDataTable& after) {
    std::vector<std::uint32_t> out;
    if (FixesPrimary(after) && after.primary.ipAddress != 0) out.push_back(after.primary.ipAddress);
    if (after.kind == DEVICE_KIND_TWO_PORT && after.ipv4Mode != 19 &&
        after.primary.ipAddress2 != 0) {
        out.push_back(after.primary.ipAddress2);
    }
    return out;
}

std::vector<std::uint32_t> IntroducedAddresses(const _CommandDataTable& before,
                                               const _CommandDataTable& after) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t a : TargetAddresses(after)) {
        if (a != before.primary.ipAddress && a != before.primary.ipAddress2) out.push_back(a);
    }
    return out;
}

}  // namespace valdrune::cli
