#include "cli/Decode.h"

#include <cstdio>
#include <fstream>

#include "cli/CaptureFile.h"
#include "protocol/Decoder.h"

namespace valdrune::cli {

bool ParseHex(std::string_view text, std::vector<std::uint8_t>& bytes, std::string& error) {
    bytes.clear();
    int high = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
            high < 0) {
            ++i;
            continue;
        }
        int v = -1;
        if (c >= '0' && c <= '9') v = c - '0';
        if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        if (v < 0) {
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ':' || c == '-' ||
                c == ',') {
                if (high >= 0) {
                    error = "a byte is split by a separator at offset " + std::to_string(i);
                    return false;
                }
                continue;
            }
            error = std::string("not a hex digit: '") + c + "' at offset " + std::to_string(i);
            return false;
        }
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) {
        error = "odd number of hex digits";
        return false;
    }
    if (bytes.empty()) {
        error = "no bytes";
        return false;
    }
    return true;
}

namespace {

std::uint16_t U16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}
std::uint32_t U32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
           static_cast<std::uint32_t>(b[at + 2]) << 8 | b[at + 3];
}

// The first validation step that fails, with the reason; 0 when all pass.
int FirstFailure(std::span<const std::uint8_t> b, const MacAddress& pcMac, std::string& why) {
    const std::size_t n = b.size();
    if (n < HEADER_SIZE) {
        why = "shorter than the 48-byte header (" + std::to_string(n) + " bytes)";
        return 1;
    }
    if (U32(b, 18) != 0 && !std::equal(pcMac.begin(), pcMac.end(), b.begin() + 12)) {
        MacAddress m{};
        std::copy(b.begin() + 12, b.begin() + 18, m.begin());
        why = "meant for another PC: requester MAC " + MacText(m) + ", this PC " + MacText(pcMac);
        return 2;
    }
    const std::size_t l = U16(b, 2);
    if (l > MAX_PAYLOAD) {
        why = "payload length " + std::to_string(l) + " exceeds 1470";
        return 3;
    }
    static const std::uint8_t expected[10] = {0x20, 0x11, 0x1E, 0x11, 0x23,
                                              0x1F, 0x1E, 0x19, 0x13, 0x00};
    if (!std::equal(std::begin(expected), std::end(expected), b.begin() + 24)) {
        why = "bytes 24-33 are " + Hex(b.data() + 24, 10, true) +
              ", not the magic and format word 20 11 1e 11 23 1f 1e 19 13 00";
        return 4;
    }
    if (n < l + 52) {
        why = "truncated: payload length " + std::to_string(l) + " needs " +
              std::to_string(l + 52) + " bytes, " + std::to_string(n) + " received";
        return 5;
    }
    const std::uint16_t want = Checksum(b.first(l + 50));
    const std::uint16_t got = U16(b, l + 50);
    if (want != got) {
        char text[96];
        std::snprintf(text, sizeof text, "checksum is %04x, the bytes give %04x", got, want);
        why = text;
        return 6;
    }
    return 0;
}

}  // namespace

DecodedDatagram DecodeDatagram(std::span<const std::uint8_t> bytes,
                               const std::optional<MacAddress>& pcMac) {
    DecodedDatagram d;
    d.bytes.assign(bytes.begin(), bytes.end());
    MacAddress mac{};
    if (pcMac) {
        mac = *pcMac;
    } else if (bytes.size() >= 18) {
        std::copy(bytes.begin() + 12, bytes.begin() + 18, mac.begin());
    }
    d.failedStep = FirstFailure(bytes, mac, d.reason);
    if (d.failedStep != 0) return d;
    // The engine's own validator has the last word.
    auto header = ValidateAnswer(bytes, mac);
    if (!header) {
        d.failedStep = 6;
        d.reason = "rejected by the validator";
        return d;
    }
    d.valid = true;
    d.header = *header;
    d.endTagReached = WalkItems(bytes, header->payloadLength, [&](const TlvItem& item) {
        d.items.push_back(DecodedItem{item.tag, {item.value.begin(), item.value.end()}});
    });
    if (header->command == CMD_SEARCH_REPLY || header->command == CMD_INFO) {
        AnswerContext ctx{header->deviceMac, header->protocolMode, header->capability,
                          header->sequence};
        d.record = DecodeDeviceAnswer(bytes, header->payloadLength, ctx).record;
    }
    return d;
}

std::optional<UdpPayload> ExtractUdp(int linkType, std::span<const std::uint8_t> f) {
    std::size_t ip = 0;
    auto etherType = [&](std::size_t at) -> std::optional<std::size_t> {
        // Skips VLAN tags; returns the offset after the EtherType when it is IPv4.
        while (at + 2 <= f.size()) {
            const std::uint16_t type = U16(f, at);
            if (type == 0x8100 || type == 0x88A8) {
                at += 4;
                continue;
            }
            if (type == 0x0800) return at + 2;
            return std::nullopt;
        }
        return std::nullopt;
    };
    std::optional<std::size_t> start;
    switch (linkType) {
        case LINKTYPE_ETHERNET:
            start = etherType(12);
            break;
        case LINKTYPE_LINUX_SLL:
            start = etherType(14);
            break;
        case LINKTYPE_LINUX_SLL2:
            if (f.size() >= 20 && U16(f, 0) == 0x0800) start = 20;
            break;
        case LINKTYPE_RAW:
        case LINKTYPE_RAW_OLD:
        case LINKTYPE_IPV4:
            start = 0;
            break;
        case LINKTYPE_NULL:
        case LINKTYPE_LOOP:
            if (f.size() >= 4) start = 4;
            break;
        default:
            break;
    }
    if (!start) return std::nullopt;
    ip = *start;
    if (ip + 20 > f.size() || (f[ip] >> 4) != 4) return std::nullopt;
    const std::size_t ihl = static_cast<std::size_t>(f[ip] & 15) * 4;
    if (ihl < 20 || ip + ihl + 8 > f.size() || f[ip + 9] != 17) return std::nullopt;
    if ((U16(f, ip + 6) & 0x3FFF) != 0) return std::nullopt;  // fragments are not reassembled
    const std::size_t totalLength = U16(f, ip + 2);
    const std::size_t udp = ip + ihl;
    const std::size_t udpLength = U16(f, udp + 4);
    if (udpLength < 8 || totalLength < ihl + udpLength) return std::nullopt;
    if (udp + udpLength > f.size()) return std::nullopt;  // cut off by the capture's snap length
    UdpPayload p;
    p.sourceIp = U32(f, ip + 12);
    p.destinationIp = U32(f, ip + 16);
    p.sourcePort = U16(f, udp);
    p.destinationPort = U16(f, udp + 2);
    p.payload.assign(f.begin() + static_cast<std::ptrdiff_t>(udp + 8),
                     f.begin() + static_cast<std::ptrdiff_t>(udp + udpLength));
    return p;
}

bool IsCaptureMagic(std::span<const std::uint8_t> head) {
    if (head.size() < 4) return false;
    const std::uint32_t magic = U32(head, 0);
    return magic == 0xA1B2C3D4u || magic == 0xD4C3B2A1u || magic == 0xA1B23C4Du ||
           magic == 0x4D3CB2A1u || magic == 0x0A0D0D0Au;
}

bool ReadCapture(const std::string& path, const std::function<void(UdpPayload&&)>& each,
                 std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot be read";
        return false;
    }
    CaptureReader reader(in);
    if (!reader.Open(error)) return false;
    CapturedFrame frame;
    while (reader.Next(frame, error)) {
        auto p = ExtractUdp(frame.linkType, frame.data);
        if (!p) continue;
        const bool ours = p->sourcePort == LOCAL_PORT || p->sourcePort == DEVICE_PORT ||
                          p->destinationPort == LOCAL_PORT || p->destinationPort == DEVICE_PORT;
        if (ours) each(std::move(*p));
    }
    return error.empty();
}

namespace {

Json DecodedJson(const DecodedDatagram& d) {
    Json j = Json::object();
    if (!d.source.empty()) j["source"] = d.source;
    j["length"] = d.bytes.size();
    j["valid"] = d.valid;
    if (!d.valid) {
        j["failed_step"] = d.failedStep;
        j["reason"] = d.reason;
        return j;
    }
    const AnswerHeader& h = d.header;
    j["command"] = h.command;
    j["payload_length"] = h.payloadLength;
    j["device_mac"] = MacText(h.deviceMac);
    j["requester_mac"] = MacText(h.requesterMac);
    j["requester_ipv4"] = Ipv4Text(h.requesterIp);
    j["sequence"] = h.sequence;
    j["protocol_mode"] = h.protocolMode;
    j["capability"] = h.capability;
    Json items = Json::array();
    for (const auto& it : d.items) {
        items.push_back(Json{{"tag", it.tag},
                             {"length", it.value.size()},
                             {"value", Hex(it.value.data(), it.value.size())}});
    }
    j["items"] = items;
    j["end_tag"] = d.endTagReached;
    if (d.record) j["record"] = DeviceJson(DeviceView{*d.record, {}, -1, {}});
    return j;
}

}  // namespace

TextRead ReadBoundedText(std::istream& in, std::size_t limit, std::string& text) {
    text.clear();
    if (!in) return TextRead::Unreadable;
    char buffer[65536];
    while (in) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > limit) {
            text.clear();
            return TextRead::TooLarge;
        }
    }
    return in.bad() ? TextRead::Unreadable : TextRead::Ok;
}

void DecodedWriter::Add(const DecodedDatagram& d) {
    if (format_ == Format::Json) {
        // The layout of one indented array, written item by item.
        std::string item = Dump(DecodedJson(d));
        for (std::size_t at = item.find('\n'); at != std::string::npos;
             at = item.find('\n', at + 3))
            item.replace(at, 1, "\n  ");
        out_ << (count_ == 0 ? "[\n  " : ",\n  ") << item;
        ++count_;
        return;
    }
    if (count_++) out_ << '\n';
    if (!d.source.empty()) out_ << d.source << '\n';
    if (!d.valid) {
        out_ << "invalid (" << d.bytes.size() << " bytes): step " << d.failedStep << ": "
             << d.reason << '\n';
        return;
    }
    const AnswerHeader& h = d.header;
    out_ << "command " << h.command << ", " << d.bytes.size() << " bytes, payload "
         << h.payloadLength << ", device " << MacText(h.deviceMac) << ", requester "
         << MacText(h.requesterMac) << " " << Ipv4Text(h.requesterIp) << ", sequence " << h.sequence
         << ", mode " << int(h.protocolMode) << ", capability " << int(h.capability) << '\n';
    for (const auto& it : d.items) {
        char line[32];
        std::snprintf(line, sizeof line, "  tag %5u len %3zu  ", it.tag, it.value.size());
        out_ << line << Hex(it.value.data(), it.value.size(), true) << '\n';
    }
    if (!d.endTagReached) out_ << "  (no end tag where the payload length says)\n";
    if (d.record) WriteDevices(out_, {DeviceView{*d.record, {}, -1, {}}}, Format::Text);
}

void DecodedWriter::Finish() {
    if (format_ == Format::Json) out_ << (count_ == 0 ? "[]\n" : "\n]\n");
    out_.flush();
}

void WriteDecoded(std::ostream& out, const std::vector<DecodedDatagram>& all, Format format) {
    DecodedWriter writer(out, format);
    for (const auto& d : all) writer.Add(d);
    writer.Finish();
}

}  // namespace valdrune::cli
