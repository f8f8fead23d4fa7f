#include "tests/support/AnswerBuilder.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace valdrune::test {

namespace {

void Put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
}
void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}

}  // namespace

std::uint32_t Ip(std::string_view dotted) {
    std::uint32_t out = 0;
    int parts = 0;
    const char* p = dotted.data();
    const char* end = p + dotted.size();
    while (parts < 4) {
        unsigned v = 0;
        auto [next, ec] = std::from_chars(p, end, v);
        if (ec != std::errc{} || v > 255) return 0;
        out = out << 8 | v;
        ++parts;
        p = next;
        if (parts < 4) {
            if (p == end || *p != '.') return 0;
            ++p;
        }
    }
    return p == end ? out : 0;
}

namespace {

void SetIp(std::uint32_t& field, const char* dotted) {
    if (dotted != nullptr && *dotted != '\0') field = Ip(dotted);
}

}  // namespace

RecordBuilder::RecordBuilder(std::uint8_t kind) { r_.kind = kind; }

RecordBuilder& RecordBuilder::Kind(std::uint8_t kind) { r_.kind = kind; return *this; }
RecordBuilder& RecordBuilder::DeviceMac(const MacAddress& mac) { r_.primary.mac = mac; return *this; }
RecordBuilder& RecordBuilder::Address(const char* ipv4, const char* mask, const char* gateway) {
    SetIp(r_.primary.ipAddress, ipv4);
    SetIp(r_.primary.subnetMask, mask);
    SetIp(r_.primary.gateway, gateway);
    return *this;
}
RecordBuilder& RecordBuilder::PcAddress(const char* ipv4, const char* mask) {
    SetIp(r_.primary.ipAddress2, ipv4);
    SetIp(r_.primary.subnetMask2, mask);
    return *this;
}
RecordBuilder& RecordBuilder::Dns(const char* dns1, const char* dns2) {
    SetIp(r_.primary.dns1, dns1);
    SetIp(r_.primary.dns2, dns2);
    return *this;
}
RecordBuilder& RecordBuilder::Port(std::uint16_t port, std::uint8_t https) {
    r_.primary.port = port;
    r_.https = https;
    return *this;
}
RecordBuilder& RecordBuilder::Capability(std::uint8_t c) { r_.capabilityFlag = c; return *this; }
RecordBuilder& RecordBuilder::Ipv4Mode(std::uint8_t m) { r_.ipv4Mode = m; return *this; }
RecordBuilder& RecordBuilder::Flags(std::uint8_t f) { r_.flags = f; return *this; }
RecordBuilder& RecordBuilder::Addressing(std::uint8_t a) { r_.legacyAddressing = a; return *this; }
RecordBuilder& RecordBuilder::PortOptions(std::uint16_t portKind, std::uint16_t optionA,
                                          std::uint16_t optionB) {
    r_.portKind = portKind;
    r_.portOptionA = optionA;
    r_.portOptionB = optionB;
    return *this;
}
RecordBuilder& RecordBuilder::Name(std::string_view n) { SetFieldText(r_.deviceName, n); return *this; }
RecordBuilder& RecordBuilder::Model(std::string_view model, std::string_view version) {
    SetFieldText(r_.model, model);
    SetFieldText(r_.versionText, version);
    return *this;
}
RecordBuilder& RecordBuilder::Serial(std::string_view s) { SetFieldText(r_.serialNumber, s); return *this; }

MacAddress Mac(std::uint8_t last, std::uint8_t fifth) { return MacAddress{2, 0, 0, 0, fifth, last}; }

AnswerBuilder::AnswerBuilder(std::uint16_t command, const MacAddress& mac)
    : command_(command), mac_(mac) {}

AnswerBuilder& AnswerBuilder::Command(std::uint16_t command) { command_ = command; return *this; }
AnswerBuilder& AnswerBuilder::DeviceMac(const MacAddress& mac) { mac_ = mac; return *this; }
AnswerBuilder& AnswerBuilder::Requester(const MacAddress& mac, std::uint32_t ipv4) {
    requesterMac_ = mac;
    requesterIp_ = ipv4;
    return *this;
}
AnswerBuilder& AnswerBuilder::Sequence(std::uint16_t s) { sequence_ = s; return *this; }
AnswerBuilder& AnswerBuilder::Mode(std::uint8_t m) { mode_ = m; return *this; }
AnswerBuilder& AnswerBuilder::Capability(std::uint8_t c) { capability_ = c; return *this; }

AnswerBuilder& AnswerBuilder::Item(std::uint16_t tag, std::vector<std::uint8_t> value) {
    Put16(items_, tag);
    Put16(items_, static_cast<std::uint16_t>(value.size()));
    items_.insert(items_.end(), value.begin(), value.end());
    return *this;
}
AnswerBuilder& AnswerBuilder::U8(std::uint16_t tag, std::uint8_t v) { return Item(tag, {v}); }
AnswerBuilder& AnswerBuilder::U16(std::uint16_t tag, std::uint16_t v) {
    std::vector<std::uint8_t> b;
    Put16(b, v);
    return Item(tag, std::move(b));
}
AnswerBuilder& AnswerBuilder::U32(std::uint16_t tag, std::uint32_t v) {
    std::vector<std::uint8_t> b;
    Put32(b, v);
    return Item(tag, std::move(b));
}
AnswerBuilder& AnswerBuilder::Ipv4(std::uint16_t tag, std::string_view dotted) {
    return U32(tag, Ip(dotted));
}
AnswerBuilder& AnswerBuilder::Pair(std::uint16_t tag, std::uint32_t first, std::uint32_t second) {
    std::vector<std::uint8_t> b;
    Put32(b, first);
    Put32(b, second);
    return Item(tag, std::move(b));
}
AnswerBuilder& AnswerBuilder::Text(std::uint16_t tag, std::string_view text, std::size_t width) {
    std::vector<std::uint8_t> b(width, 0);
    std::copy_n(text.begin(), std::min(width, text.size()), b.begin());
    return Item(tag, std::move(b));
}
AnswerBuilder& AnswerBuilder::Raw(std::vector<std::uint8_t> bytes) {
    items_.insert(items_.end(), bytes.begin(), bytes.end());
    return *this;
}
AnswerBuilder& AnswerBuilder::LengthField(std::uint16_t l) { lengthField_ = l; return *this; }
AnswerBuilder& AnswerBuilder::ChecksumDelta(int d) { checksumDelta_ = d; return *this; }
AnswerBuilder& AnswerBuilder::NoEndTag() { endTag_ = false; return *this; }
AnswerBuilder& AnswerBuilder::BadMagic() { badMagic_ = true; return *this; }

std::uint16_t AnswerBuilder::ChecksumOf(const std::vector<std::uint8_t>& bytes,
                                        std::size_t count) {
    unsigned sum = 1;
    for (std::size_t i = 0; i < count && i < bytes.size(); ++i) sum += bytes[i];
    return static_cast<std::uint16_t>(sum & 0xFFFF);
}

void AnswerBuilder::FixChecksum(std::vector<std::uint8_t>& d) {
    if (d.size() < 4) return;
    const std::size_t l = static_cast<std::size_t>(d[2] << 8 | d[3]);
    if (d.size() < l + 52) d.resize(l + 52, 0);
    const std::uint16_t c = ChecksumOf(d, l + 50);
    d[l + 50] = static_cast<std::uint8_t>(c >> 8);
    d[l + 51] = static_cast<std::uint8_t>(c & 0xFF);
}

std::vector<std::uint8_t> AnswerBuilder::Build() const {
    static constexpr std::array<std::uint8_t, 10> kMagic = {0x20, 0x11, 0x1E, 0x11, 0x23,
                                                            0x1F, 0x1E, 0x19, 0x13, 0x00};
    std::vector<std::uint8_t> d;
    d.reserve(52 + items_.size());
    Put16(d, 1);
    const auto realLength = static_cast<std::uint16_t>(items_.size());
    Put16(d, lengthField_.value_or(realLength));
    Put16(d, command_);
    d.insert(d.end(), mac_.begin(), mac_.end());
    d.insert(d.end(), requesterMac_.begin(), requesterMac_.end());
    Put32(d, requesterIp_);
    Put16(d, sequence_);
    d.insert(d.end(), kMagic.begin(), kMagic.end());
    if (badMagic_) d[24] ^= 0xFF;
    d.push_back(0);
    d.push_back(mode_);
    d.push_back(capability_);
    d.resize(48, 0);
    d.insert(d.end(), items_.begin(), items_.end());
    if (endTag_) Put16(d, 0xFFFF);
    // The checksum covers everything written so far, which for a well-formed answer is
    // bytes [0, 50+L).
    const auto sum = static_cast<std::uint16_t>(ChecksumOf(d, d.size()) + checksumDelta_);
    Put16(d, sum);
    return d;
}

}  // namespace valdrune::test
