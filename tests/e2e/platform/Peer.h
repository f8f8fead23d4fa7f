// A plain UDP socket made inside a namespace (sockets stay in the namespace they were made
// in), standing in for the device side of an exchange.
#pragma once

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/lib/NetNs.h"

namespace valdrune::e2e {

using Bytes = std::vector<std::uint8_t>;

struct Received {
    Bytes bytes;
    std::string from;
    std::uint16_t fromPort = 0;
};

class Peer {
  public:
    // Bound to 0.0.0.0:port on `device` of namespace ns.
    Peer(const std::string& ns, const std::string& device, std::uint16_t port) {
        NetNs::Entered inside(ns);
        if (!inside.Ok()) return;
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        ::setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                     static_cast<socklen_t>(device.size()));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Peer() {
        if (fd_ >= 0) ::close(fd_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool Ok() const { return fd_ >= 0; }

    bool SendTo(const std::string& address, std::uint16_t port, const Bytes& bytes) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                        sizeof to) == static_cast<ssize_t>(bytes.size());
    }

    std::optional<Received> Receive(int timeoutMs) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
        Received r;
        r.bytes.resize(2048);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd_, r.bytes.data(), r.bytes.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return std::nullopt;
        r.bytes.resize(static_cast<std::size_t>(n));
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        r.from = text;
        r.fromPort = ntohs(from.sin_port);
        return r;
    }

  private:
    int fd_ = -1;
};

inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace valdrune::e2e
