// One ICMP echo on one socket: opening it, sending the request and reading every queued
// answer, error and error-queue entry until one is about our request. Plain libc, so that the
// window's ping sockets and the probe helper's raw socket share one set of matching rules.
#pragma once

#include <cstdint>

#include "platform/linux/IcmpPacket.h"

namespace valdrune {

enum class EchoSocketKind { None, Ping, Raw };

// The data the probe helper always sends (it takes no data on its command line).
inline constexpr char kHelperEchoData[] = "ICMP SEND DATA";

// A non-blocking socket of that kind with IP_RECVERR on (raw: only replies and errors pass
// its filter); -1 with errno set when the kernel refuses. ifIndex > 0 binds it to that adapter.
int OpenEchoSocket(EchoSocketKind kind, std::int32_t ifIndex = 0);

// Random starting values, so that no other host can guess our id and sequence.
std::uint16_t RandomEchoWord();

// Sends our request to match.target. A ping socket has its id chosen by the kernel, which is
// written into match.id first. Returns 0, or the errno of the failed send.
int SendEcho(int fd, EchoSocketKind kind, EchoMatch& match);

// Reads what is queued on fd without blocking; the first verdict about our request, Unrelated
// when none has come yet.
IcmpVerdict ReadEchoOutcome(int fd, EchoSocketKind kind, const EchoMatch& match);

}  // namespace valdrune
