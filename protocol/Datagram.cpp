#include "protocol/Datagram.h"

#include <algorithm>
#include <cstring>

#include "protocol/Catalogue.h"

namespace valdrune {

namespace {

inline constexpr std::array<std::uint8_t, 2> FORMAT_WORD = {0x13, 0x00};

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v & 0xFFu));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>((v >> 16) & 0xFFu));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFFu));
    out.push_back(static_cast<std::uint8_t>(v & 0xFFu));
}

template <std::size_t N>
void PutBytes(std::vector<std::uint8_t>& out, const std::array<std::uint8_t, N>& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void PutText(std::vector<std::uint8_t>& out, const Text16& text) {
    for (char c : text) out.push_back(static_cast<std::uint8_t>(c));
}

void Set16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v >> 8);
    out[at + 1] = static_cast<std::uint8_t>(v & 0xFFu);
}

std::uint16_t Get16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>((b[at] << 8) | b[at + 1]);
}

// Header with L = 0; FinishDatagram fills in L, the end tag and the checksum.
std::vector<std::uint8_t> StartHeader(std::uint16_t command, const MacAddress& device,
                                      const Requester& pc, std::uint16_t sequence,
                                      std::uint8_t protocolMode, std::uint8_t capability) {
    std::vector<std::uint8_t> out;
    out.reserve(256);
    Put16(out, 1);  // version
    Put16(out, 0);  // payload length, patched later
    Put16(out, command);
    PutBytes(out, device);
    PutBytes(out, pc.mac);
    Put32(out, pc.ipAddress);
    Put16(out, sequence);
    PutBytes(out, MAGIC);
    PutBytes(out, FORMAT_WORD);
    out.push_back(0);  // reserved
    out.push_back(protocolMode);
    out.push_back(capability);
    out.resize(HEADER_SIZE, 0);
    return out;
}

void FinishDatagram(std::vector<std::uint8_t>& out) {
    const std::size_t payload = out.size() - HEADER_SIZE;
    Set16(out, 2, static_cast<std::uint16_t>(payload));
    Put16(out, TAG_END);
    Put16(out, Checksum(out));
}

// Writes one catalogue row's value from the record, with the row's length. Values of rows that
// never travel out (answer-only tags) are written as zeros so that any mask still yields a
// well-formed datagram.
void PutItemValue(std::vector<std::uint8_t>& out, const _CommandCodeTable& row,
                  const _CommandDataTable& r) {
    const std::size_t start = out.size();
    switch (row.Tag()) {
        case 0: out.push_back(r.ipv4Mode); break;
        case 1: out.push_back(r.ipv6Mode); break;
        case 32: Put32(out, r.primary.ipAddress); break;
        case 33: Put32(out, r.primary.subnetMask); break;
        case 34: Put32(out, r.primary.gateway); break;
        case 35: Put32(out, r.primary.dns1); Put32(out, r.primary.dns2); break;
        case 37: Put16(out, r.primary.port); break;
        case 40: out.push_back(r.https); break;
        case 48: Put32(out, r.primary.ipAddress2); break;
        case 49: Put32(out, r.primary.subnetMask2); break;
        case 64: PutBytes(out, r.ipv6Address); break;
        case 65: PutBytes(out, r.ipv6Address2); break;
        case 66: PutBytes(out, r.ipv6AddressPair); break;
        case 68: Put16(out, r.ipv6Port); break;
        case 160: Put32(out, r.secondary.ipAddress); break;
        case 161: Put32(out, r.secondary.subnetMask); break;
        case 162: Put32(out, r.secondary.gateway); break;
        case 163: Put32(out, r.secondary.dns1); Put32(out, r.secondary.dns2); break;
        case 165: out.push_back(r.legacyAddressing); break;
        case 166: out.push_back(r.flags); break;
        case 167: PutText(out, r.deviceName); break;
        case 168: PutText(out, r.model); break;
        case 173: Put16(out, r.legacyWord); break;
        case 180: Put16(out, r.statusBits); break;
        case 192: Put16(out, r.portKind); break;
        case 209: PutText(out, r.serialNumber); break;
        default: break;
    }
    out.resize(start + row.Length(), 0);
}

// Items that a current device without an IPv6 mode item must not be sent.
bool IsIpv6Item(std::uint16_t tag) {
    return tag == 1 || tag == 64 || tag == 65 || tag == 66 || tag == 68;
}

}  // namespace

bool CatalogueRowInMask(const _CommandCodeTable& row, std::uint16_t mask) {
    return (row.usageMask & mask) == mask;
}

std::vector<std::uint16_t> SearchRequestTags() {
    std::vector<std::uint16_t> tags;
    for (const auto& row : kCatalogue)
        if (CatalogueRowInMask(row, MASK_SEARCH)) tags.push_back(row.Tag());
    return tags;
}

std::vector<std::uint8_t> BuildSearchRequest(std::uint8_t protocolMode, const Requester& pc) {
    std::vector<std::uint8_t> out = StartHeader(CMD_SEARCH, MacAddress{}, pc, 0, protocolMode, 1);
    const std::vector<std::uint16_t> tags = SearchRequestTags();
    Put16(out, TAG_REQUEST_LIST);
    Put16(out, static_cast<std::uint16_t>(tags.size() * 2));
    for (std::uint16_t tag : tags) Put16(out, tag);
    FinishDatagram(out);
    return out;
}

std::vector<std::uint8_t> BuildSettingsRequest(const _CommandDataTable& record,
                                               std::uint16_t command, std::uint16_t mask,
                                               const Requester& pc,
                                               std::uint16_t* writtenSequence) {
    // Legacy devices speak protocol mode 0; two-port and current devices mode 2.
    const bool legacy = command == CMD_SETUP && mask == MASK_LEGACY;
    const std::uint8_t mode = legacy ? 0 : 2;
    const bool v2 = command == CMD_SETUP_V2;
    const std::uint16_t sequence = v2 ? static_cast<std::uint16_t>(record.sequence + 1) : 0;
    const bool dropIpv6 = v2 && record.hasIpv6Mode == 0;

    std::vector<std::uint8_t> out =
        StartHeader(command, record.primary.mac, pc, sequence, mode, record.capabilityFlag);
    for (const auto& row : kCatalogue) {
        if (mask == 0 || !CatalogueRowInMask(row, mask)) continue;
        if (dropIpv6 && IsIpv6Item(row.Tag())) continue;
        Put16(out, row.Tag());
        Put16(out, row.Length());
        PutItemValue(out, row, record);
    }
    FinishDatagram(out);
    if (writtenSequence) *writtenSequence = sequence;
    return out;
}

std::vector<std::uint8_t> BuildConfirmation(std::uint16_t command, const MacAddress& target,
                                            std::uint8_t capability,
                                            std::uint16_t rememberedSequence,
                                            const Requester& pc) {
    const bool v2 = command == CMD_SETUP_V2_CONFIRM;
    const std::uint16_t sequence = v2 ? static_cast<std::uint16_t>(rememberedSequence + 1) : 0;
    std::vector<std::uint8_t> out =
        StartHeader(command, target, pc, sequence, v2 ? 2 : 0, capability);
    FinishDatagram(out);
    return out;
}

// Every received datagram is summed before anything else, so the sum runs 32 bytes at a time
// in four independent chains: each 8-byte word is spread over four 16-bit lanes, which are
// folded before they can overflow.
std::uint16_t Checksum(std::span<const std::uint8_t> bytes) {
    constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
    constexpr std::size_t kBlocksPerFold = 32;  // 32 blocks * 2 * 255 per lane < 65536
    const auto fold = [](std::uint64_t lanes) {
        return (lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) + ((lanes >> 32) & 0xFFFF) +
               (lanes >> 48);
    };
    const auto pairs = [&](std::size_t at) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);
        return (word & kLowBytes) + ((word >> 8) & kLowBytes);
    };
    std::uint64_t total = 1;
    std::size_t i = 0;
    while (bytes.size() - i >= 32) {
        std::uint64_t a = 0, b = 0, c = 0, d = 0;
        for (std::size_t block = 0; block < kBlocksPerFold && bytes.size() - i >= 32;
             ++block, i += 32) {
            a += pairs(i);
            b += pairs(i + 8);
            c += pairs(i + 16);
            d += pairs(i + 24);
        }
        total += fold(a) + fold(b) + fold(c) + fold(d);
    }
    for (; bytes.size() - i >= 8; i += 8) total += fold(pairs(i));
    for (; i < bytes.size(); ++i) total += bytes[i];
    return static_cast<std::uint16_t>(total & 0xFFFFu);
}

std::optional<AnswerHeader> ValidateAnswer(std::span<const std::uint8_t> d,
                                           const MacAddress& selectedMac) {
    const std::size_t n = d.size();
    if (n < HEADER_SIZE) return std::nullopt;

    // A nonzero requester address means the answer is addressed to one PC: it must be us.
    const bool addressed = d[18] != 0 || d[19] != 0 || d[20] != 0 || d[21] != 0;
    // Fixed-size compares, so that the compiler inlines them: this runs for every datagram.
    if (addressed && std::memcmp(d.data() + 12, selectedMac.data(), selectedMac.size()) != 0)
        return std::nullopt;

    const std::uint16_t length = Get16(d, 2);
    if (length > MAX_PAYLOAD) return std::nullopt;

    if (std::memcmp(d.data() + 24, MAGIC.data(), MAGIC.size()) != 0 ||
        std::memcmp(d.data() + 32, FORMAT_WORD.data(), FORMAT_WORD.size()) != 0)
        return std::nullopt;

    if (n < static_cast<std::size_t>(length) + 52) return std::nullopt;

    const std::size_t checksumAt = HEADER_SIZE + length + 2;
    if (Checksum(d.first(checksumAt)) != Get16(d, checksumAt)) return std::nullopt;

    AnswerHeader h;
    h.payloadLength = length;
    h.command = Get16(d, 4);
    std::copy_n(d.begin() + 6, 6, h.deviceMac.begin());
    std::copy_n(d.begin() + 12, 6, h.requesterMac.begin());
    h.requesterIp = (static_cast<std::uint32_t>(d[18]) << 24) |
                    (static_cast<std::uint32_t>(d[19]) << 16) |
                    (static_cast<std::uint32_t>(d[20]) << 8) | d[21];
    h.sequence = Get16(d, 22);
    h.protocolMode = d[35];
    h.capability = d[36];
    return h;
}

bool WalkItems(std::span<const std::uint8_t> datagram, std::uint16_t payloadLength,
               const std::function<void(const TlvItem&)>& onItem) {
    return ForEachItem(datagram, payloadLength, onItem);
}

}  // namespace valdrune
