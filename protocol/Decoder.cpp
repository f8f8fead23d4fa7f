#include "protocol/Decoder.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "protocol/Datagram.h"
#include "protocol/Messages.h"

namespace valdrune {

namespace {

std::uint16_t Be16(std::span<const std::uint8_t> v) {
    return static_cast<std::uint16_t>((v[0] << 8) | v[1]);
}

std::uint32_t Be32(std::span<const std::uint8_t> v, std::size_t at = 0) {
    return (static_cast<std::uint32_t>(v[at]) << 24) | (static_cast<std::uint32_t>(v[at + 1]) << 16) |
           (static_cast<std::uint32_t>(v[at + 2]) << 8) | v[at + 3];
}

// Values sent "as is" are cut to the field; the rest of the field is cleared so that a short
// value never leaves bytes of an earlier item behind.
template <typename Field>
void CopyCut(Field& field, std::span<const std::uint8_t> v) {
    // A value that fills the field is copied at the field's fixed size, which the compiler
    // does without a library call.
    if (v.size() >= field.size()) {
        std::memcpy(field.data(), v.data(), field.size());
        return;
    }
    std::memset(field.data(), 0, field.size());
    if (!v.empty()) std::memcpy(field.data(), v.data(), v.size());
}

// Fixed widths of the numeric items. An item of another length is treated as unknown and
// skipped: it changes no field and none of the decode's working values.
constexpr std::array<std::uint8_t, 256> kNumericWidths = [] {
    std::array<std::uint8_t, 256> w{};
    for (int tag : {0, 1, 40, 165, 166, 183}) w[tag] = 1;
    for (int tag : {37, 68, 173, 180, 192, 210, 212, 213}) w[tag] = 2;
    for (int tag : {32, 33, 34, 48, 49, 160, 161, 162}) w[tag] = 4;
    for (int tag : {35, 163}) w[tag] = 8;
    return w;
}();

std::size_t NumericWidth(std::uint16_t tag) { return tag < 256 ? kNumericWidths[tag] : 0; }

struct LegacyFamily {
    std::uint8_t base;
    const char* name;
    std::uint8_t variants;  // bit v set: base + v is a known code
};

// Variant suffixes by variant number 0..4.
constexpr const char* kVariantSuffix[5] = {"", "A", "CE", "C", "CN"};

constexpr LegacyFamily kLegacyFamilies[] = {
    {0, "ZM-P41", 0b00111},      {8, "QF-WNT638", 0b00010},  {16, "ZM-P63", 0b11111},
    {24, "RT-WNR674", 0b00111},  {32, "RT-WNT528", 0b10111}, {40, "ZM-P52", 0b00111},
    {48, "RT-WNT846", 0b10111},  {56, "RT-WNE239", 0b00111}, {64, "RT-WNT962", 0b00011},
    {72, "RT-WNT157", 0b00111},  {80, "RT-WNT483", 0b00011}, {96, "RT-WNT705", 0b10111},
    {112, "RT-WNT326", 0b00111}, {128, "ZM-P7", 0b10111},    {144, "QF-WNT491", 0b00010},
    {160, "ZM-P84", 0b00111},    {176, "ZM-P29", 0b00111},   {192, "ZM-P96", 0b00111},
    {208, "QF-TV58", 0b00111},   {224, "RT-WNT219", 0b00111},
};

// Known at compile time, so that the prefix test's comparisons are constants.
constexpr std::array<const char*, 4> kPrefixes = {"QF-", "RT-", "ZM-", "WH-"};

}  // namespace

const std::array<const char*, 4> kLegacyPrefixes = kPrefixes;

AnswerContext ContextOf(const AnswerHeader& header) {
    return AnswerContext{header.deviceMac, header.protocolMode, header.capability,
                         header.sequence};
}

void LookupLegacyModel(std::uint8_t code, Text16& field) {
    field.fill(0);
    const std::uint8_t base = static_cast<std::uint8_t>(code & ~7u);
    const unsigned variant = code & 7u;
    if (variant > 4) return;
    for (const LegacyFamily& f : kLegacyFamilies) {
        if (f.base != base) continue;
        if (!(f.variants & (1u << variant))) return;
        std::string name = std::string(f.name) + kVariantSuffix[variant];
        // Every name fits in 15 bytes, so the field stays NUL-terminated.
        std::memcpy(field.data(), name.data(), std::min(name.size(), field.size() - 1));
        return;
    }
}

bool HasLegacyPrefix(const Text16& model) {
    // Every prefix is two letters and a hyphen: one pass looks at the two characters before
    // each hyphen of the text, spelt all upper or all lower case.
    const auto isPrefix = [](char a, char b) {
        for (const char* p : kPrefixes) {
            if (a == p[0] && b == p[1]) return true;
            if (a == p[0] - 'A' + 'a' && b == p[1] - 'A' + 'a') return true;
        }
        return false;
    };
    if (model[0] == 0 || model[1] == 0) return false;
    for (std::size_t i = 2; i < model.size(); ++i) {
        const char c = model[i];
        if (c == 0) return false;
        if (c == '-' && isPrefix(model[i - 2], model[i - 1])) return true;
    }
    return false;
}

void TrimUtf8Name(Text16& name) {
    name[15] = 0;
    auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(name[i]); };
    auto inRange = [&](std::size_t i, std::uint8_t lo, std::uint8_t hi) {
        return i < name.size() && at(i) >= lo && at(i) <= hi;
    };
    // Most names are plain ASCII: skip that run first. name[15] is 0, which ends it.
    std::size_t p = 0;
    while (static_cast<unsigned>(at(p)) - 0x20u <= 0x7Fu - 0x20u) ++p;
    while (p < name.size()) {
        const std::uint8_t b = at(p);
        if (b == 0) return;
        std::size_t len = 0;
        if (b >= 0x20 && b <= 0x7F) {
            len = 1;
        } else if (b >= 0xC2 && b <= 0xDF) {
            if (inRange(p + 1, 0x80, 0xBF)) len = 2;
        } else if (b == 0xE0) {
            if (inRange(p + 1, 0xA0, 0xBF) && inRange(p + 2, 0x80, 0xBF)) len = 3;
        } else if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) {
            if (inRange(p + 1, 0x80, 0xBF) && inRange(p + 2, 0x80, 0xBF)) len = 3;
        } else if (b == 0xED) {
            if (inRange(p + 1, 0x80, 0x9F) && inRange(p + 2, 0x80, 0xBF)) len = 3;
        } else if (b == 0xF0) {
            if (inRange(p + 1, 0x90, 0xBF) && inRange(p + 2, 0x80, 0xBF) &&
                inRange(p + 3, 0x80, 0xBF))
                len = 4;
        } else if (b >= 0xF1 && b <= 0xF3) {
            if (inRange(p + 1, 0x80, 0xBF) && inRange(p + 2, 0x80, 0xBF) &&
                inRange(p + 3, 0x80, 0xBF))
                len = 4;
        } else if (b == 0xF4) {
            if (inRange(p + 1, 0x80, 0x8F) && inRange(p + 2, 0x80, 0xBF) &&
                inRange(p + 3, 0x80, 0xBF))
                len = 4;
        }
        if (len == 0) {
            name[p] = 0;
            return;
        }
        p += len;
    }
}

DecodeResult DecodeDeviceAnswer(std::span<const std::uint8_t> datagram,
                                std::uint16_t payloadLength, const AnswerContext& context) {
    DecodeResult out;
    _CommandDataTable& r = out.record;
    r.primary.mac = context.deviceMac;
    r.kind = context.protocolMode == 2 ? DEVICE_KIND_STANDARD : DEVICE_KIND_LEGACY;
    r.capabilityFlag = context.capability;
    // Current devices with a capability level send UTF-8 names and report HTTPS in tag 166.
    const bool utf8Device = r.kind == DEVICE_KIND_STANDARD && context.capability != 0;

    bool sawMode = false;
    std::uint8_t legacySource = 255;
    std::uint8_t firstLegacyCode = 255;
    std::uint8_t secondLegacyCode = 255;

    ForEachItem(datagram, payloadLength, [&](const TlvItem& item) {
        const std::span<const std::uint8_t> v = item.value;
        const std::size_t width = NumericWidth(item.tag);
        if (width != 0 && v.size() != width) return;
        switch (item.tag) {
            case 0: r.ipv4Mode = v[0]; sawMode = true; break;
            case 1: r.ipv6Mode = v[0]; r.hasIpv6Mode = 1; sawMode = true; break;
            case 32:
                r.primary.ipAddress = Be32(v);
                out.hadAddress = true;
                out.address = r.primary.ipAddress;
                break;
            case 33: r.primary.subnetMask = Be32(v); break;
            case 34: r.primary.gateway = Be32(v); break;
            case 35: r.primary.dns1 = Be32(v); r.primary.dns2 = Be32(v, 4); break;
            case 37: r.primary.port = Be16(v); break;
            case 40: r.https = v[0]; break;
            case 48: r.primary.ipAddress2 = Be32(v); break;
            case 49: r.primary.subnetMask2 = Be32(v); break;
            case 64: CopyCut(r.ipv6Address, v); r.hasIpv6 = 1; break;
            case 65: CopyCut(r.ipv6Address2, v); break;
            case 66: CopyCut(r.ipv6AddressPair, v); break;
            case 68: r.ipv6Port = Be16(v); break;
            case 160: r.secondary.ipAddress = Be32(v); break;
            case 161: r.secondary.subnetMask = Be32(v); break;
            case 162: r.secondary.gateway = Be32(v); break;
            case 163: r.secondary.dns1 = Be32(v); r.secondary.dns2 = Be32(v, 4); break;
            case 165: r.legacyAddressing = v[0]; break;
            case 166:
                r.flags = v[0];
                if (utf8Device) r.https = (v[0] & 4) ? 1 : 0;
                break;
            case 167:
                CopyCut(r.deviceName, v);
                if (utf8Device) TrimUtf8Name(r.deviceName);
                break;
            case 168: CopyCut(r.model, v); break;
            case 169: CopyCut(r.versionText, v); break;
            case 173: r.legacyWord = Be16(v); break;
            // The model codes are byte 1 of a 16-byte value; any value long enough to hold
            // byte 1 is accepted.
            case 179: if (v.size() >= 2) secondLegacyCode = v[1]; break;
            case 180: r.statusBits = Be16(v); break;
            case 183: legacySource = v[0]; break;
            case 184: if (v.size() >= 2) firstLegacyCode = v[1]; break;
            case 192: r.portKind = Be16(v); break;
            case 209: CopyCut(r.serialNumber, v); break;
            case 210: r.browserBits = Be16(v); r.hasBrowserBits = 1; break;
            case 212: r.portOptionA = Be16(v); break;
            case 213: r.portOptionB = Be16(v); break;
            default: break;
        }
    });

    r.legacyPrefix = HasLegacyPrefix(r.model) ? 1 : 0;

    // Mode 0 is spoken by legacy devices and by current devices asked in mode 0; only the
    // model prefix tells them apart. A device that sends no mode item cannot take the
    // current settings command.
    if (context.protocolMode == 0 && r.legacyPrefix == 0) r.kind = DEVICE_KIND_STANDARD;
    if (r.kind == DEVICE_KIND_STANDARD && !sawMode) r.kind = DEVICE_KIND_LEGACY;

    if (r.portKind != 0) {
        r.kind = DEVICE_KIND_TWO_PORT;
        r.https = (r.flags != 255 && (r.flags & 4)) ? 1 : 0;
        if (r.portOptionA == 255) r.portOptionA = (r.portKind >= 16 || r.portKind == 11) ? 1 : 0;
        if (r.portOptionB == 255) r.portOptionB = (r.portKind >= 9 && r.portKind <= 18) ? 1 : 2;
    } else if (r.kind == DEVICE_KIND_LEGACY && legacySource != 2) {
        LookupLegacyModel(firstLegacyCode != 255 ? firstLegacyCode : secondLegacyCode, r.model);
    }

    r.sequence = context.sequence;
    return out;
}

StoredAnswer ParseDeviceAnswer(DeviceTable& table, std::span<const std::uint8_t> datagram,
                               std::uint16_t payloadLength, const AnswerContext& context) {
    DecodeResult decoded = DecodeDeviceAnswer(datagram, payloadLength, context);
    if (!decoded.hadAddress) return {};
    return {decoded.address, table.StoreIfRoom(std::move(decoded.record), MAX_DEVICES)};
}

}  // namespace valdrune
