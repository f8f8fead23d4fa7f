// What an ICMP error about our echo request means, in one table for every platform. Errors
// are numbered as the IP Helper numbers an echo's status (11002 network unreachable, 11003
// host unreachable, ...), so that a packet read off a socket and a status the system hands
// back are judged alike.
#pragma once

#include <cstdint>

namespace valdrune {

inline constexpr int ICMP_STATUS_NET_UNREACHABLE = 11002;
inline constexpr int ICMP_STATUS_HOST_UNREACHABLE = 11003;
// Protocol unreachable and "administratively prohibited" share this value.
inline constexpr int ICMP_STATUS_PROTOCOL_UNREACHABLE = 11004;
inline constexpr int ICMP_STATUS_PORT_UNREACHABLE = 11005;
inline constexpr int ICMP_STATUS_PACKET_TOO_BIG = 11009;
inline constexpr int ICMP_STATUS_BAD_ROUTE = 11012;
inline constexpr int ICMP_STATUS_TTL_EXPIRED_TRANSIT = 11013;
inline constexpr int ICMP_STATUS_TTL_EXPIRED_REASSEMBLY = 11014;
inline constexpr int ICMP_STATUS_PARAMETER_PROBLEM = 11015;
inline constexpr int ICMP_STATUS_SOURCE_QUENCH = 11016;
inline constexpr int ICMP_STATUS_UNREACHABLE = 11040;  // unreachable with a code nobody defined
inline constexpr int ICMP_STATUS_TIME_EXCEEDED = 11041;

// The status an ICMP error of this type and code stands for; 0 for a type that is no error
// about a sent packet (echo reply, redirect, requests).
int IcmpErrorStatus(std::uint8_t type, std::uint8_t code);

// True for a status that stands for an ICMP error someone sent back.
bool IsIcmpErrorStatus(int status);

// The echo's outcome code (ECHO_ANSWERED, ECHO_NET_UNREACHABLE or ECHO_HOST_UNREACHABLE) for
// an error status, given who sent the error (host order): the probed host itself sending any
// error proves the address in use; from anyone else only network and host unreachable mean
// "no answer", since every other error shows the request got far enough to be refused.
int EchoCodeForIcmpError(int status, std::uint32_t sender, std::uint32_t target);

}  // namespace valdrune
