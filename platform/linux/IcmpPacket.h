// ICMP echo packets: building a request and reading what comes back. No sockets here, so the
// matching rules can be checked byte for byte. Plain C++ only: the probe helper uses it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/EchoStatus.h"

namespace valdrune {

std::uint16_t InternetChecksum(const std::uint8_t* data, std::size_t size);

// Type 8 echo request with the checksum filled in.
std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t sequence,
                                           const std::string& data);

enum class IcmpVerdict {
    Unrelated,        // not about our echo: keep waiting
    Answered,         // something holds the address, or no one can say it is free
    NetUnreachable,   // a router says the network cannot be reached
    HostUnreachable,  // a router (or our own stack) says the host cannot be reached
};

// What identifies our one echo request. Everything must match: a host on the network can send
// any packet it likes, and errors about other requests (or made up) must never decide.
struct EchoMatch {
    std::uint32_t target = 0;  // host order
    std::uint16_t id = 0;
    std::uint16_t sequence = 0;
    std::string data;  // replies carry it whole, errors as much as they quote
};

// What an error about our echo means, given who sent it (host order), by the shared table
// (EchoStatus.h).
IcmpVerdict ClassifyIcmpError(std::uint8_t type, std::uint8_t code, std::uint32_t offender,
                              std::uint32_t target);

// True when `icmp` (the ICMP part of a packet we sent, possibly cut short by the quoting host,
// at least 8 bytes) is our echo request: type 8, our id and sequence, our data as far as it goes.
bool IsOurEchoRequest(const std::uint8_t* icmp, std::size_t size, const EchoMatch& match);

// One received packet. withIpHeader: raw sockets deliver the IP header, ping sockets do not
// (their source comes from recvfrom, passed as `source`, host order; ignored with the header).
IcmpVerdict ClassifyIcmpPacket(const std::uint8_t* packet, std::size_t size, bool withIpHeader,
                               std::uint32_t source, const EchoMatch& match);

}  // namespace valdrune
