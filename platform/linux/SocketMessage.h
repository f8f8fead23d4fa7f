// One datagram's msghdr for sendmsg and recvmsg: a single buffer, the peer's address and room
// for control messages. It points into itself, so it is neither copied nor moved.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace valdrune {

template <std::size_t ControlBytes = CMSG_SPACE(sizeof(in_pktinfo))>
struct SocketMessage {
    sockaddr_in peer{};
    iovec iov{};
    alignas(cmsghdr) unsigned char control[ControlBytes] = {};
    msghdr msg{};

    SocketMessage(const void* data, std::size_t size) : iov{const_cast<void*>(data), size} {
        msg.msg_name = &peer;
        msg.msg_namelen = sizeof peer;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
    }
    SocketMessage(const SocketMessage&) = delete;
    SocketMessage& operator=(const SocketMessage&) = delete;

    // The peer: host-order address and port.
    void To(std::uint32_t address, std::uint16_t port) {
        peer.sin_family = AF_INET;
        peer.sin_port = htons(port);
        peer.sin_addr.s_addr = htonl(address);
    }
    // Sent out of ifIndex from source (network order, 0: the kernel's choice), whatever the
    // routing table prefers.
    void From(std::int32_t ifIndex, std::uint32_t source) {
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = ifIndex;
        info.ipi_spec_dst.s_addr = source;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    // Sent with no control message at all.
    void WithoutControl() {
        msg.msg_control = nullptr;
        msg.msg_controllen = 0;
    }
    // Received: the adapter IP_PKTINFO names, -1 when none does.
    std::int32_t ArrivalAdapter() {
        std::int32_t arrival = -1;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
                c->cmsg_len >= CMSG_LEN(sizeof(in_pktinfo))) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                arrival = info.ipi_ifindex;
            }
        }
        return arrival;
    }
};

}  // namespace valdrune
