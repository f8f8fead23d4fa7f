#include "settings/rules/SaveRules.h"

#include <limits>
#include <span>

namespace valdrune {

AddressMode AddressModeFromRadios(bool autoAdvanced1024, bool autoIp1023, bool dhcp1013,
                                  bool static1022) {
    if (autoAdvanced1024) return AddressMode::AutoAdvanced;
    if (autoIp1023) return AddressMode::AutoIp;
    if (dhcp1013) return AddressMode::Dhcp;
    (void)static1022;
    return AddressMode::Static;
}

DnsMode DnsModeFromRadios(bool auto1020, bool manual1021) {
    (void)manual1021;
    return auto1020 ? DnsMode::Auto : DnsMode::Manual;
}

TwoPortMode TwoPortModeFromRadios(bool lanDhcp1053, bool pcDhcp1063, bool lanManual1052) {
    (void)lanManual1052;
    if (lanDhcp1053) return TwoPortMode::LanDhcp;
    if (pcDhcp1063) return TwoPortMode::PcDhcp;
    return TwoPortMode::BothManual;
}

namespace {

SaveResult Refuse(int messageId, EntryField field, int focus,
                  ArgumentKind kind = ArgumentKind::None, std::uint32_t argument = 0) {
    SaveResult r;
    r.ok = false;
    r.messageId = messageId;
    r.field = field;
    r.focusControl = focus;
    r.argumentKind = kind;
    r.argument = argument;
    return r;
}

// The edit's text read as a number: leading digits, saturating instead of wrapping.
std::uint32_t ReadNumber(std::string_view text) {
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max()) {
            return std::numeric_limits<std::uint32_t>::max();
        }
    }
    return static_cast<std::uint32_t>(value);
}

// Step 2 of both sequences. Returns true and stores the port, or fills `refusal`.
bool TakePort(std::string_view text, std::uint8_t kind, std::uint8_t https, int control,
              std::uint16_t& port, SaveResult& refusal) {
    if (text.empty()) {
        refusal = Refuse(txt::kPortEmpty, EntryField::Port, control);
        refusal.selectAll = true;
        return false;
    }
    const std::uint32_t value = ReadNumber(text);
    if (!IsPortAllowed(value, kind, https)) {
        refusal = Refuse(txt::kPortRefused, EntryField::Port, control, ArgumentKind::Number, value);
        refusal.selectAll = true;
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

struct AddressCheck {
    std::uint32_t value;
    unsigned flags;
    int messageId;
    int control;
    EntryField field;
    std::uint32_t* target;
};

bool TakeAddress(const AddressCheck& c, SaveResult& refusal) {
    if (!CheckAddress(c.value, c.flags)) {
        refusal = Refuse(c.messageId, c.field, c.control, ArgumentKind::Address, c.value);
        return false;
    }
    *c.target = c.value;
    return true;
}

// The checks in order, up to the first refusal.
bool TakeAddresses(std::span<const AddressCheck> checks, SaveResult& refusal) {
    for (const AddressCheck& c : checks)
        if (!TakeAddress(c, refusal)) return false;
    return true;
}

SaveResult Accepted(const _CommandDataTable& record, bool waitForRestart) {
    SaveResult ok;
    ok.ok = true;
    ok.record = record;
    ok.waitForRestart = waitForRestart;
    return ok;
}

constexpr unsigned kHostFlags = ADDR_NOT_ZERO | ADDR_NOT_LOOPBACK | ADDR_NOT_ALL_ONES;
constexpr unsigned kOptionalFlags = ADDR_NOT_LOOPBACK | ADDR_NOT_ALL_ONES;
constexpr unsigned kMaskFlags = kHostFlags | ADDR_MASK_FORM;
constexpr unsigned kOptionalMaskFlags = kOptionalFlags | ADDR_MASK_FORM;

}  // namespace

SaveResult ValidateSinglePortSave(const SinglePortEntry& e, const _CommandDataTable& record) {
    namespace c = ctl::single;
    _CommandDataTable w = record;
    const std::uint8_t kind = record.kind;
    // A legacy device has no AutoIP radio; should one be reported, it counts as its Auto.
    AddressMode mode = e.mode;
    if (kind == DEVICE_KIND_LEGACY && mode == AddressMode::AutoIp) mode = AddressMode::AutoAdvanced;
    const bool isStatic = mode == AddressMode::Static;

    if (kind == DEVICE_KIND_STANDARD) {
        if (isStatic && e.dns == DnsMode::Auto) {
            return Refuse(txt::kStaticNeedsManualDns, EntryField::DnsMode, c::kDnsAuto);
        }
        switch (mode) {
            case AddressMode::AutoAdvanced:
                w.ipv4Mode = 5;
                break;
            case AddressMode::AutoIp:
                w.ipv4Mode = 4;
                break;
            case AddressMode::Dhcp:
                w.ipv4Mode = 0;
                break;
            case AddressMode::Static:
                w.ipv4Mode = 3;
                break;
        }
        w.flags = e.dns == DnsMode::Auto ? 0x90 : 0x92;
    } else if (kind == DEVICE_KIND_LEGACY) {
        w.legacyWord = 0x0F00;
        switch (mode) {
            case AddressMode::Dhcp:
                w.legacyAddressing = 0x11;
                w.flags = 0x11;
                break;
            case AddressMode::Static:
                w.legacyAddressing = 0x12;
                w.flags = 0x12;
                break;
            default:
                w.legacyAddressing = 0x10;
                w.flags = 0xFF;
                break;
        }
    }

    SaveResult refusal;
    if (!TakePort(e.portText, kind, record.https, c::kPort, w.primary.port, refusal)) {
        return refusal;
    }

    if (isStatic) {
        const bool gatewayMayBeZero = kind == DEVICE_KIND_LEGACY ||
                                      (kind == DEVICE_KIND_STANDARD && record.capabilityFlag >= 1);
        const AddressCheck steps[] = {
            {e.address, kHostFlags, txt::kAddressRefused, c::kAddress, EntryField::Address,
             &w.primary.ipAddress},
            {e.mask, kMaskFlags, txt::kMaskRefused, c::kMask, EntryField::Mask,
             &w.primary.subnetMask},
            {e.gateway, gatewayMayBeZero ? kOptionalFlags : kHostFlags, txt::kGatewayRefused,
             c::kGateway, EntryField::Gateway, &w.primary.gateway},
        };
        if (!TakeAddresses(steps, refusal)) return refusal;
    }

    if ((kind == DEVICE_KIND_LEGACY && isStatic) ||
        (kind == DEVICE_KIND_STANDARD && e.dns == DnsMode::Manual)) {
        const AddressCheck steps[] = {
            {e.dns1, kOptionalFlags, txt::kDns1Refused, c::kDns1, EntryField::Dns1,
             &w.primary.dns1},
            {e.dns2, kOptionalFlags, txt::kDns2Refused, c::kDns2, EntryField::Dns2,
             &w.primary.dns2},
        };
        if (!TakeAddresses(steps, refusal)) return refusal;
        if (int focus = CheckCombination(w.primary, isStatic); focus != 0) {
            return Refuse(txt::kCombination, EntryField::Combination, focus);
        }
    }

    if (kind == DEVICE_KIND_LEGACY && !isStatic) {
        w.primary.dns1 = 0;
        w.primary.dns2 = 0;
    }

    return Accepted(ApplySinglePortSave(record, w), e.waitForRestart);
}

SaveResult ValidateTwoPortSave(const TwoPortEntry& e, const _CommandDataTable& record,
                               bool waitForRestart) {
    namespace c = ctl::two;
    _CommandDataTable w = record;
    const bool bothManual = e.mode == TwoPortMode::BothManual;
    switch (e.mode) {
        case TwoPortMode::LanDhcp:
            w.ipv4Mode = 0;
            break;
        case TwoPortMode::PcDhcp:
            w.ipv4Mode = 19;
            break;
        case TwoPortMode::BothManual:
            w.ipv4Mode = 3;
            break;
    }
    w.flags = (record.portOptionA != 0 && e.dnsAutoChecked) ? 0x90 : 0x92;

    SaveResult refusal;
    if (!TakePort(e.portText, DEVICE_KIND_TWO_PORT, record.https, c::kPort, w.primary.port,
                  refusal)) {
        return refusal;
    }

    if (bothManual) {
        const AddressCheck steps[] = {
            {e.lanAddress, kHostFlags, txt::kAddressRefused, c::kLanAddress, EntryField::Address,
             &w.primary.ipAddress},
            {e.lanMask, kMaskFlags, txt::kMaskRefused, c::kLanMask, EntryField::Mask,
             &w.primary.subnetMask},
            {e.gateway, kOptionalFlags, txt::kGatewayRefused, c::kGateway, EntryField::Gateway,
             &w.primary.gateway},
        };
        if (!TakeAddresses(steps, refusal)) return refusal;
    }

    const AddressCheck always[] = {
        {e.pcAddress, kOptionalFlags, txt::kAddressRefused, c::kPcAddress, EntryField::PcAddress,
         &w.primary.ipAddress2},
        {e.pcMask, kOptionalMaskFlags, txt::kMaskRefused, c::kPcMask, EntryField::PcMask,
         &w.primary.subnetMask2},
        {e.dns1, kOptionalFlags, txt::kDns1Refused, c::kDns1, EntryField::Dns1, &w.primary.dns1},
        {e.dns2, kOptionalFlags, txt::kDns2Refused, c::kDns2, EntryField::Dns2, &w.primary.dns2},
    };
    if (!TakeAddresses(always, refusal)) return refusal;
    if (int focus = CheckCombinationTwoPort(w.primary, bothManual); focus != 0) {
        return Refuse(txt::kCombination, EntryField::Combination, focus);
    }

    return Accepted(ApplyTwoPortSave(record, w), waitForRestart);
}

namespace {

// What every Save writes: the port and the address block the dialog shows.
void CopyShownBlock(_CommandDataTable& r, const _CommandDataTable& w) {
    r.primary.ipAddress = w.primary.ipAddress;
    r.primary.subnetMask = w.primary.subnetMask;
    r.primary.gateway = w.primary.gateway;
    r.primary.dns1 = w.primary.dns1;
    r.primary.dns2 = w.primary.dns2;
    r.primary.port = w.primary.port;
}

// Devices that keep a second copy of their settings get the same values there.
void MirrorShownBlock(_CommandDataTable& r, const _CommandDataTable& w) {
    r.secondary.ipAddress = w.primary.ipAddress;
    r.secondary.subnetMask = w.primary.subnetMask;
    r.secondary.gateway = w.primary.gateway;
    r.secondary.dns1 = w.primary.dns1;
    r.secondary.dns2 = w.primary.dns2;
}

}  // namespace

_CommandDataTable ApplySinglePortSave(const _CommandDataTable& record, const _CommandDataTable& w) {
    _CommandDataTable r = record;
    CopyShownBlock(r, w);
    if (record.kind == DEVICE_KIND_STANDARD) {
        r.ipv4Mode = w.ipv4Mode;
        r.flags = w.flags;
        MirrorShownBlock(r, w);
    } else if (record.kind == DEVICE_KIND_LEGACY) {
        r.legacyWord = w.legacyWord;
        r.legacyAddressing = w.legacyAddressing;
        r.flags = w.flags;
    }
    return r;
}

_CommandDataTable ApplyTwoPortSave(const _CommandDataTable& record, const _CommandDataTable& w) {
    _CommandDataTable r = record;
    CopyShownBlock(r, w);
    r.ipv4Mode = w.ipv4Mode;
    r.flags = w.flags;
    r.primary.ipAddress2 = w.primary.ipAddress2;
    r.primary.subnetMask2 = w.primary.subnetMask2;
    r.secondary.ipAddress2 = w.primary.ipAddress2;
    r.secondary.subnetMask2 = w.primary.subnetMask2;
    MirrorShownBlock(r, w);
    return r;
}

_CommandDataTable PrepareRecordForDialog(const _CommandDataTable& record) {
    _CommandDataTable r = record;
    const bool replace = record.kind == DEVICE_KIND_STANDARD ||
                         record.kind == DEVICE_KIND_TWO_PORT ||
                         (record.kind == DEVICE_KIND_LEGACY &&
                          (record.legacyAddressing == 0xFF || record.legacyAddressing == 0x7F));
    if (replace) r.legacyAddressing = record.flags;
    return r;
}

SinglePortEntry InitialSinglePortEntry(const _CommandDataTable& p, bool waitForRestart) {
    SinglePortEntry e;
    if (p.kind == DEVICE_KIND_STANDARD) {
        switch (p.ipv4Mode) {
            case 5:
                e.mode = AddressMode::AutoAdvanced;
                break;
            case 4:
                e.mode = AddressMode::AutoIp;
                break;
            case 0:
                e.mode = AddressMode::Dhcp;
                break;
            default:
                e.mode = AddressMode::Static;
                break;
        }
        // The Static rule forces DNS Manual first; the DNS selection that follows wins.
        e.dns = (p.legacyAddressing & 0x92) == 0x90 ? DnsMode::Auto : DnsMode::Manual;
    } else {
        if (p.legacyAddressing == 0xFF) {
            e.mode = AddressMode::AutoAdvanced;
        } else if (p.legacyAddressing == 1) {
            e.mode = AddressMode::Dhcp;
        } else {
            e.mode = AddressMode::Static;
        }
        e.dns = DnsMode::Manual;  // both DNS radios unchecked and disabled
    }
    e.portText = std::to_string(InitialPort(p));
    e.address = p.primary.ipAddress;
    e.mask = p.primary.subnetMask;
    e.gateway = p.primary.gateway;
    e.dns1 = p.primary.dns1;
    e.dns2 = p.primary.dns2;
    e.waitForRestart = waitForRestart;
    return e;
}

TwoPortEntry InitialTwoPortEntry(const _CommandDataTable& p) {
    TwoPortEntry e;
    if (p.portOptionA != 0 && p.ipv4Mode == 0) {
        e.mode = TwoPortMode::LanDhcp;
    } else if (p.portOptionA != 0 && p.ipv4Mode == 18) {
        e.mode = TwoPortMode::PcDhcp;
    } else {
        e.mode = TwoPortMode::BothManual;
    }
    e.dnsAutoChecked = p.portOptionA != 0 && (p.legacyAddressing & 0x92) == 0x90;
    e.portText = std::to_string(InitialPort(p));
    e.lanAddress = p.primary.ipAddress;
    e.lanMask = p.primary.subnetMask;
    e.pcAddress = p.primary.ipAddress2;
    e.pcMask = p.primary.subnetMask2;
    e.gateway = p.primary.gateway;
    e.dns1 = p.primary.dns1;
    e.dns2 = p.primary.dns2;
    return e;
}

std::string FormatRefusal(std::string_view text, const SaveResult& result) {
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size()) {
            const char conversion = text[i + 1];
            if (conversion == 's' && result.argumentKind == ArgumentKind::Address) {
                out += Ipv4Text(result.argument);
                ++i;
                continue;
            }
            if (conversion == 'd' && result.argumentKind == ArgumentKind::Number) {
                out += std::to_string(result.argument);
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

}  // namespace valdrune
