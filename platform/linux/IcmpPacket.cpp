#include "platform/linux/IcmpPacket.h"

#include <algorithm>
#include <cstring>

namespace valdrune {
namespace {

constexpr std::uint8_t ECHO_REPLY = 0;
constexpr std::uint8_t ECHO_REQUEST = 8;
constexpr std::uint8_t PROTOCOL_ICMP = 1;
constexpr std::size_t ICMP_HEADER = 8;
constexpr std::size_t IP_HEADER_MIN = 20;

constexpr int kNetUnreachable = 11002;
constexpr int kHostUnreachable = 11003;
// IP Helper gives protocol unreachable and "administratively prohibited" the same value.
constexpr int kProtocolUnreachable = 11004;
constexpr int kProhibited = 11004;
constexpr int kPortUnreachable = 11005;
constexpr int kPacketTooBig = 11009;
constexpr int kBadRoute = 11012;
constexpr int kTtlExpiredTransit = 11013;
constexpr int kTtlExpiredReassembly = 11014;
constexpr int kParameterProblem = 11015;
constexpr int kSourceQuench = 11016;
constexpr int kUnreachable = 11040;  // destination unreachable with a code nobody defined
constexpr int kTimeExceeded = 11041;

// Every ICMP error type and code, in order; rows cover codes first..last of one type. Codes a
// router should no longer send (RFC 1812: 8 for 0/1, 9 and 10 for 13) mean what their
// replacements mean.
struct ErrorRow {
    std::uint8_t type, first, last;
    int status;
};
constexpr ErrorRow kErrors[] = {
    {3, 0, 0, kNetUnreachable},       // network unreachable
    {3, 1, 1, kHostUnreachable},      // host unreachable (also our own failed ARP)
    {3, 2, 2, kProtocolUnreachable},  // protocol unreachable: the host is there
    {3, 3, 3, kPortUnreachable},      // port unreachable: the host is there
    {3, 4, 4, kPacketTooBig},         // fragmentation needed
    {3, 5, 5, kBadRoute},             // source route failed
    {3, 6, 6, kNetUnreachable},       // destination network unknown
    {3, 7, 7, kHostUnreachable},      // destination host unknown
    {3, 8, 8, kHostUnreachable},      // source host isolated
    {3, 9, 10, kProhibited},          // network / host administratively prohibited
    {3, 11, 11, kNetUnreachable},     // network unreachable for the type of service
    {3, 12, 12, kHostUnreachable},    // host unreachable for the type of service
    {3, 13, 15, kProhibited},         // filtered, precedence violation, precedence cut-off
    {3, 16, 255, kUnreachable},
    {4, 0, 255, kSourceQuench},
    {11, 0, 0, kTtlExpiredTransit},
    {11, 1, 1, kTtlExpiredReassembly},
    {11, 2, 255, kTimeExceeded},
    {12, 0, 255, kParameterProblem},
};

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

int IcmpErrorStatus(std::uint8_t type, std::uint8_t code) {
    for (const ErrorRow& row : kErrors)
        if (row.type == type && code >= row.first && code <= row.last) return row.status;
    return 0;
}

IcmpVerdict ClassifyIcmpError(std::uint8_t type, std::uint8_t code, std::uint32_t offender,
                              std::uint32_t target) {
    const int status = IcmpErrorStatus(type, code);
    if (status == 0) return IcmpVerdict::Unrelated;
    if (offender == target) return IcmpVerdict::Answered;
    if (status == kNetUnreachable) return IcmpVerdict::NetUnreachable;
    if (status == kHostUnreachable) return IcmpVerdict::HostUnreachable;
    return IcmpVerdict::Answered;
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
