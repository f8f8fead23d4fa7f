#include "protocol/EchoStatus.h"

#include "protocol/Seams.h"

namespace valdrune {
namespace {

// Every ICMP error type and code, in order; rows cover codes first..last of one type. Codes a
// router should no longer send (RFC 1812: 8 for 0/1, 9 and 10 for 13) mean what their
// replacements mean.
struct ErrorRow {
    std::uint8_t type, first, last;
    int status;
};
constexpr ErrorRow kErrors[] = {
    {3, 0, 0, ICMP_STATUS_NET_UNREACHABLE},       // network unreachable
    {3, 1, 1, ICMP_STATUS_HOST_UNREACHABLE},      // host unreachable (also our own failed ARP)
    {3, 2, 2, ICMP_STATUS_PROTOCOL_UNREACHABLE},  // protocol unreachable: the host is there
    {3, 3, 3, ICMP_STATUS_PORT_UNREACHABLE},      // port unreachable: the host is there
    {3, 4, 4, ICMP_STATUS_PACKET_TOO_BIG},        // fragmentation needed
    {3, 5, 5, ICMP_STATUS_BAD_ROUTE},             // source route failed
    {3, 6, 6, ICMP_STATUS_NET_UNREACHABLE},       // destination network unknown
    {3, 7, 7, ICMP_STATUS_HOST_UNREACHABLE},      // destination host unknown
    {3, 8, 8, ICMP_STATUS_HOST_UNREACHABLE},      // source host isolated
    {3, 9, 10, ICMP_STATUS_PROTOCOL_UNREACHABLE},  // network / host administratively prohibited
    {3, 11, 11, ICMP_STATUS_NET_UNREACHABLE},     // network unreachable for the type of service
    {3, 12, 12, ICMP_STATUS_HOST_UNREACHABLE},    // host unreachable for the type of service
    {3, 13, 15, ICMP_STATUS_PROTOCOL_UNREACHABLE},  // filtered, precedence violation, cut-off
    {3, 16, 255, ICMP_STATUS_UNREACHABLE},
    {4, 0, 255, ICMP_STATUS_SOURCE_QUENCH},
    {11, 0, 0, ICMP_STATUS_TTL_EXPIRED_TRANSIT},
    {11, 1, 1, ICMP_STATUS_TTL_EXPIRED_REASSEMBLY},
    {11, 2, 255, ICMP_STATUS_TIME_EXCEEDED},
    {12, 0, 255, ICMP_STATUS_PARAMETER_PROBLEM},
};

}  // namespace

int IcmpErrorStatus(std::uint8_t type, std::uint8_t code) {
    for (const ErrorRow& row : kErrors)
        if (row.type == type && code >= row.first && code <= row.last) return row.status;
    return 0;
}

bool IsIcmpErrorStatus(int status) {
    for (const ErrorRow& row : kErrors)
        if (row.status == status) return true;
    return false;
}

int EchoCodeForIcmpError(int status, std::uint32_t sender, std::uint32_t target) {
    if (sender == target) return ECHO_ANSWERED;
    if (status == ICMP_STATUS_NET_UNREACHABLE) return ECHO_NET_UNREACHABLE;
    if (status == ICMP_STATUS_HOST_UNREACHABLE) return ECHO_HOST_UNREACHABLE;
    return ECHO_ANSWERED;
}

}  // namespace valdrune
