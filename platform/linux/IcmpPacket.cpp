#include "platform/linux/IcmpPacket.h"

#include <algorithm>
#include <cstring>

#include "protocol/Seams.h"

namespace valdrune {
namespace {

constexpr std::uint8_t ECHO_REPLY = 0;
constexpr std::uint8_t ECHO_REQUEST = 8;
constexpr std::uint8_t PROTOCOL_ICMP = 1;
constexpr std::size_t ICMP_HEADER = 8;
constexpr std::size_t IP_HEADER_MIN = 20;

std::uint16_t Be16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
std::uint32_t Be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

// Length of a well-formed IPv4 header at p, 0 when there is none.
std::size_t IpHeaderLength(const std::uint8_t* p, std::size_t size) {
    if (size < IP_HEADER_MIN || (p[0] >> 4) != 4) return 0;
    const std::size_t length = std::size_t{p[0] & 0x0Fu} * 4;
    return length >= IP_HEADER_MIN && length <= size ? length : 0;
}

bool SameIdAndSequence(const std::uint8_t* icmp, const EchoMatch& match) {
    return Be16(icmp + 4) == match.id && Be16(icmp + 6) == match.sequence;
}

}  // namespace

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t size) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) sum += Be16(data + i);
    if (size % 2 != 0) sum += std::uint32_t{data[size - 1]} << 8;
    while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t sequence,
                                           const std::string& data) {
    std::vector<std::uint8_t> packet(ICMP_HEADER + data.size(), 0);
    packet[0] = ECHO_REQUEST;
    packet[4] = static_cast<std::uint8_t>(id >> 8);
    packet[5] = static_cast<std::uint8_t>(id);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence);
    for (std::size_t i = 0; i < data.size(); ++i)
        packet[ICMP_HEADER + i] = static_cast<std::uint8_t>(data[i]);
    const std::uint16_t sum = InternetChecksum(packet.data(), packet.size());
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum);
    return packet;
}

IcmpVerdict ClassifyIcmpError(std::uint8_t type, std::uint8_t code, std::uint32_t offender,
                              std::uint32_t target) {
    const int status = IcmpErrorStatus(type, code);
    if (status == 0) return IcmpVerdict::Unrelated;
    switch (EchoCodeForIcmpError(status, offender, target)) {
        case ECHO_NET_UNREACHABLE:
            return IcmpVerdict::NetUnreachable;
        case ECHO_HOST_UNREACHABLE:
            return IcmpVerdict::HostUnreachable;
        default:
            return IcmpVerdict::Answered;
    }
}

bool IsOurEchoRequest(const std::uint8_t* icmp, std::size_t size, const EchoMatch& match) {
    if (icmp == nullptr || size < ICMP_HEADER) return false;
    if (icmp[0] != ECHO_REQUEST || icmp[1] != 0 || !SameIdAndSequence(icmp, match)) return false;
    const std::size_t carried = std::min(size - ICMP_HEADER, match.data.size());
    return std::memcmp(icmp + ICMP_HEADER, match.data.data(), carried) == 0;
}

IcmpVerdict ClassifyIcmpPacket(const std::uint8_t* packet, std::size_t size, bool withIpHeader,
                               std::uint32_t source, const EchoMatch& match) {
    if (packet == nullptr) return IcmpVerdict::Unrelated;
    const std::uint8_t* icmp = packet;
    std::size_t icmpSize = size;
    if (withIpHeader) {
        const std::size_t header = IpHeaderLength(packet, size);
        if (header == 0 || packet[9] != PROTOCOL_ICMP) return IcmpVerdict::Unrelated;
        source = Be32(packet + 12);
        icmp = packet + header;
        icmpSize = size - header;
    }
    if (icmpSize < ICMP_HEADER) return IcmpVerdict::Unrelated;
    const std::uint8_t type = icmp[0];

    if (type == ECHO_REPLY) {
        // A reply carries our data whole; anything else is another request's or made up.
        if (source != match.target || icmp[1] != 0 || !SameIdAndSequence(icmp, match) ||
            icmpSize - ICMP_HEADER != match.data.size() ||
            std::memcmp(icmp + ICMP_HEADER, match.data.data(), match.data.size()) != 0)
            return IcmpVerdict::Unrelated;
        return IcmpVerdict::Answered;
    }
    if (IcmpErrorStatus(type, icmp[1]) == 0) return IcmpVerdict::Unrelated;

    // The error quotes our packet: its IP header and at least the first 8 bytes of our echo.
    const std::uint8_t* quoted = icmp + ICMP_HEADER;
    const std::size_t quotedSize = icmpSize - ICMP_HEADER;
    const std::size_t quotedHeader = IpHeaderLength(quoted, quotedSize);
    if (quotedHeader == 0 || quoted[9] != PROTOCOL_ICMP || Be32(quoted + 16) != match.target)
        return IcmpVerdict::Unrelated;
    if (!IsOurEchoRequest(quoted + quotedHeader, quotedSize - quotedHeader, match))
        return IcmpVerdict::Unrelated;
    return ClassifyIcmpError(type, icmp[1], source, match.target);
}

}  // namespace valdrune
