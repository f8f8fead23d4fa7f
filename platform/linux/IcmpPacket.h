// ICMP echo packets: building a request and reading what comes back. No sockets here, so the
// matching rules can be checked byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace valdrune {

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t size);

// Type 8 echo request with the checksum filled in.
std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t sequence,
                                           const std::string& data);

enum class IcmpVerdict {
    Unrelated,        // not about our echo: keep waiting
    Answered,         // echo reply from the probed address, or the host itself refused
    NetUnreachable,   // a router says the network cannot be reached
    HostUnreachable,  // a router (or our own stack) says the host cannot be reached
};

struct EchoMatch {
    std::uint32_t target = 0;  // host order
    std::uint16_t id = 0;
    std::uint16_t sequence = 0;
    // Ping sockets rewrite the id and deliver only their own replies; raw sockets see all.
    bool checkId = true;
};

// What a destination-unreachable or time-exceeded message with this type and code means for
// an echo, given who sent it (host order).
IcmpVerdict ClassifyIcmpError(std::uint8_t type, std::uint8_t code, std::uint32_t offender,
                              std::uint32_t target);

// One received packet. withIpHeader: raw sockets deliver the IP header, ping sockets do not
// (their source comes from recvfrom, passed as `source`, host order; ignored with the header).
IcmpVerdict ClassifyIcmpPacket(const std::uint8_t* packet, std::size_t size, bool withIpHeader,
                               std::uint32_t source, const EchoMatch& match);

}  // namespace valdrune
