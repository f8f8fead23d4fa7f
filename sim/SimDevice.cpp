#include "sim/SimDevice.h"

#include <algorithm>
#include <cstring>

#include "protocol/Catalogue.h"

namespace valdrune::sim {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xFFu));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, static_cast<std::uint16_t>(v >> 16));
    Put16(out, static_cast<std::uint16_t>(v & 0xFFFFu));
}

void Set16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v >> 8);
    out[at + 1] = static_cast<std::uint8_t>(v & 0xFFu);
}

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at = 0) {
    return (static_cast<std::uint32_t>(Get16(b, at)) << 16) | Get16(b, at + 2);
}

template <std::size_t N>
void PutBytes(std::vector<std::uint8_t>& out, const std::array<std::uint8_t, N>& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void PutText(std::vector<std::uint8_t>& out, const Text16& text) {
    for (char c : text) out.push_back(static_cast<std::uint8_t>(c));
}

// A 16-byte value whose byte 1 carries a legacy model code.
void PutCode(std::vector<std::uint8_t>& out, std::uint8_t code) {
    out.push_back(0);
    out.push_back(code);
    out.resize(out.size() + 14, 0);
}

std::vector<std::uint8_t> Header(std::uint16_t command, const DeviceSpec& d,
                                 const Requester& requester, std::uint16_t sequence) {
    std::vector<std::uint8_t> out;
    out.reserve(512);
    Put16(out, 1);
    Put16(out, 0);  // payload length, set by Finish
    Put16(out, command);
    PutBytes(out, d.record.primary.mac);
    MacAddress reqMac = requester.mac;
    if (d.faults.foreignRequesterMac) reqMac[5] ^= 0xFF;
    PutBytes(out, reqMac);
    Put32(out, requester.ipAddress);
    Put16(out, sequence);
    PutBytes(out, MAGIC);
    out.push_back(0x13);
    out.push_back(0x00);
    out.push_back(0);
    out.push_back(d.protocolMode);
    out.push_back(d.record.capabilityFlag);
    out.resize(HEADER_SIZE, 0);
    return out;
}

void Finish(std::vector<std::uint8_t>& out, const Faults& faults, std::size_t lastItemAt) {
    if (faults.oversizedLength) {
        // Pad with an unknown item so that only the length cap is broken.
        const std::size_t target = HEADER_SIZE + MAX_PAYLOAD + 1;
        if (out.size() + 4 <= target) {
            const std::size_t fill = target - out.size() - 4;
            Put16(out, 0x7FFF);
            Put16(out, static_cast<std::uint16_t>(fill));
            out.resize(out.size() + fill, 0);
        }
    }
    if (faults.truncatedItems && lastItemAt != 0) {
        // The last item claims more bytes than the payload holds; end tag and checksum stay
        // where L says, so the datagram still validates and only the walk is cut short.
        Set16(out, lastItemAt + 2, static_cast<std::uint16_t>(Get16(out, lastItemAt + 2) + 8));
    }
    Set16(out, 2, static_cast<std::uint16_t>(out.size() - HEADER_SIZE));
    Put16(out, TAG_END);
    std::uint16_t sum = Checksum(out);
    if (faults.badChecksum) sum = static_cast<std::uint16_t>(sum + 1);
    Put16(out, sum);
}

// Value of one answer item; false for a tag this simulator cannot fill.
bool PutValue(std::vector<std::uint8_t>& out, std::uint16_t tag, const DeviceSpec& d) {
    const _CommandDataTable& r = d.record;
    switch (tag) {
        case 0: out.push_back(r.ipv4Mode); return true;
        case 1: out.push_back(r.ipv6Mode); return true;
        case 32: Put32(out, r.primary.ipAddress); return true;
        case 33: Put32(out, r.primary.subnetMask); return true;
        case 34: Put32(out, r.primary.gateway); return true;
        case 35: Put32(out, r.primary.dns1); Put32(out, r.primary.dns2); return true;
        case 37: Put16(out, r.primary.port); return true;
        case 40: out.push_back(r.https); return true;
        case 48: Put32(out, r.primary.ipAddress2); return true;
        case 49: Put32(out, r.primary.subnetMask2); return true;
        case 64: PutBytes(out, r.ipv6Address); return true;
        case 65: PutBytes(out, r.ipv6Address2); return true;
        case 66: PutBytes(out, r.ipv6AddressPair); return true;
        case 68: Put16(out, r.ipv6Port); return true;
        case 160: Put32(out, r.secondary.ipAddress); return true;
        case 161: Put32(out, r.secondary.subnetMask); return true;
        case 162: Put32(out, r.secondary.gateway); return true;
        case 163: Put32(out, r.secondary.dns1); Put32(out, r.secondary.dns2); return true;
        case 165: out.push_back(r.legacyAddressing); return true;
        case 166: out.push_back(r.flags); return true;
        case 167: PutText(out, r.deviceName); return true;
        case 168: PutText(out, r.model); return true;
        case 169: PutText(out, r.versionText); return true;
        case 173: Put16(out, r.legacyWord); return true;
        case 179: PutCode(out, d.modelCode2); return true;
        case 180: Put16(out, r.statusBits); return true;
        case 183: out.push_back(d.modelSource); return true;
        case 184: PutCode(out, d.modelCode); return true;
        case 192: Put16(out, r.portKind); return true;
        case 209: PutText(out, r.serialNumber); return true;
        case 210: Put16(out, r.browserBits); return true;
        case 212: Put16(out, r.portOptionA); return true;
        case 213: Put16(out, r.portOptionB); return true;
        default: return false;
    }
}

}  // namespace

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::Standard: return "standard";
        case Kind::Legacy: return "legacy";
        case Kind::TwoPort: return "two-port";
    }
    return "?";
}

std::uint16_t DeviceSpec::SettingsCommand() const {
    return kind == Kind::Standard ? CMD_SETUP_V2 : CMD_SETUP;
}

std::uint16_t DeviceSpec::ConfirmCommand() const {
    return kind == Kind::Standard ? CMD_SETUP_V2_CONFIRM : CMD_SETUP_CONFIRM;
}

std::vector<std::uint16_t> DefaultTags(const DeviceSpec& d) {
    std::vector<std::uint16_t> tags;
    const _CommandDataTable& r = d.record;
    switch (d.kind) {
        case Kind::Standard:
            tags = {0, 1, 32, 33, 34, 35, 37, 40, 64, 65, 66, 68, 160, 161, 162, 163,
                    166, 167, 168, 169, 180, 209};
            break;
        case Kind::Legacy:
            tags = {32, 33, 34, 35, 37, 165, 166, 167, 168, 173, 180};
            if (d.modelCode2 != 255) tags.push_back(179);
            if (d.modelSource != 255) tags.push_back(183);
            if (d.modelCode != 255) tags.push_back(184);
            break;
        case Kind::TwoPort:
            tags = {0, 1, 32, 33, 34, 35, 37, 48, 49, 64, 65, 66, 68, 166, 167, 168, 180, 192,
                    209};
            if (r.portOptionA != 255) tags.push_back(212);
            if (r.portOptionB != 255) tags.push_back(213);
            break;
    }
    if (r.hasBrowserBits) tags.push_back(210);
    return tags;
}

std::vector<std::uint8_t> BuildAnswer(const DeviceSpec& d, const Requester& requester) {
    const std::uint16_t command = d.behaviour.answersInfo ? CMD_INFO : CMD_SEARCH_REPLY;
    std::vector<std::uint8_t> out = Header(command, d, requester, d.record.sequence);
    const std::vector<std::uint16_t> tags = d.tags.empty() ? DefaultTags(d) : d.tags;
    std::size_t lastItemAt = 0;
    for (std::uint16_t tag : tags) {
        const std::size_t at = out.size();
        Put16(out, tag);
        Put16(out, 0);
        if (!PutValue(out, tag, d)) {
            out.resize(at);
            continue;
        }
        Set16(out, at + 2, static_cast<std::uint16_t>(out.size() - at - 4));
        lastItemAt = at;
    }
    Finish(out, d.faults, lastItemAt);
    return out;
}

std::vector<std::uint8_t> BuildAcceptance(const DeviceSpec& d, std::uint16_t command,
                                          const Requester& requester, std::uint16_t sequence) {
    const std::uint16_t reply =
        command == CMD_SETUP_V2 ? CMD_SETUP_V2_REPLY : CMD_SETUP_REPLY;
    std::vector<std::uint8_t> out = Header(reply, d, requester, sequence);
    Finish(out, Faults{.badChecksum = d.faults.badChecksum}, 0);
    return out;
}

int ApplySettings(_CommandDataTable& r, std::span<const std::uint8_t> datagram,
                  std::uint16_t payloadLength) {
    int applied = 0;
    WalkItems(datagram, payloadLength, [&](const TlvItem& item) {
        const std::span<const std::uint8_t> v = item.value;
        auto is = [&](std::size_t n) { return v.size() == n; };
        bool ok = true;
        switch (item.tag) {
            case 0: if ((ok = is(1))) r.ipv4Mode = v[0]; break;
            case 1: if ((ok = is(1))) { r.ipv6Mode = v[0]; r.hasIpv6Mode = 1; } break;
            case 32: if ((ok = is(4))) r.primary.ipAddress = Get32(v); break;
            case 33: if ((ok = is(4))) r.primary.subnetMask = Get32(v); break;
            case 34: if ((ok = is(4))) r.primary.gateway = Get32(v); break;
            case 35:
                if ((ok = is(8))) { r.primary.dns1 = Get32(v); r.primary.dns2 = Get32(v, 4); }
                break;
            case 37: if ((ok = is(2))) r.primary.port = Get16(v, 0); break;
            case 48: if ((ok = is(4))) r.primary.ipAddress2 = Get32(v); break;
            case 49: if ((ok = is(4))) r.primary.subnetMask2 = Get32(v); break;
            case 64: if ((ok = is(16))) std::copy(v.begin(), v.end(), r.ipv6Address.begin()); break;
            case 65: if ((ok = is(16))) std::copy(v.begin(), v.end(), r.ipv6Address2.begin()); break;
            case 66:
                if ((ok = is(32))) std::copy(v.begin(), v.end(), r.ipv6AddressPair.begin());
                break;
            case 68: if ((ok = is(2))) r.ipv6Port = Get16(v, 0); break;
            case 160: if ((ok = is(4))) r.secondary.ipAddress = Get32(v); break;
            case 161: if ((ok = is(4))) r.secondary.subnetMask = Get32(v); break;
            case 162: if ((ok = is(4))) r.secondary.gateway = Get32(v); break;
            case 163:
                if ((ok = is(8))) {
                    r.secondary.dns1 = Get32(v);
                    r.secondary.dns2 = Get32(v, 4);
                }
                break;
            case 165: if ((ok = is(1))) r.legacyAddressing = v[0]; break;
            case 166:
                if ((ok = is(1))) {
                    r.flags = v[0];
                    r.https = (v[0] & 4) ? 1 : 0;
                }
                break;
            case 173: if ((ok = is(2))) r.legacyWord = Get16(v, 0); break;
            default: ok = false; break;
        }
        if (ok) ++applied;
    });
    return applied;
}

std::optional<AnswerHeader> ValidateRequest(std::span<const std::uint8_t> datagram) {
    if (datagram.size() < HEADER_SIZE) return std::nullopt;
    MacAddress sender{};
    std::copy_n(datagram.begin() + 12, 6, sender.begin());
    return ValidateAnswer(datagram, sender);
}

}  // namespace valdrune::sim
