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

RecordBuilder& RecordBuilder::SetIp(std::uint32_t& field, const char* dotted) {
    if (dotted != nullptr && *dotted != '\0') field = Ip(dotted);
    return *this;
}

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
