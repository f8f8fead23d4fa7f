#include "platform/linux/EchoSocket.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/SocketMessage.h"

namespace valdrune {

int OpenEchoSocket(EchoSocketKind kind, std::int32_t ifIndex) {
    if (kind == EchoSocketKind::None) {
        errno = EINVAL;
        return -1;
    }
    const int type = kind == EchoSocketKind::Ping ? SOCK_DGRAM : SOCK_RAW;
    const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return -1;
    const int on = 1;
    // Errors about our echo (unreachable, from a router or our own neighbour resolution) are
    // queued with the offender's address instead of only failing the next read.
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    if (kind == EchoSocketKind::Raw) {
        icmp_filter filter{};
        filter.data =
            ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
              (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    if (ifIndex > 0 &&
        ::setsockopt(fd, SOL_SOCKET, SO_BINDTOIFINDEX, &ifIndex, sizeof ifIndex) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

std::uint16_t RandomEchoWord() {
    std::uint16_t word = 0;
    if (::getrandom(&word, sizeof word, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof word)) {
        // Early boot without entropy: still not a value another host can know.
        word = static_cast<std::uint16_t>(::getpid() ^ reinterpret_cast<std::uintptr_t>(&word));
    }
    return word;
}

int SendEcho(int fd, EchoSocketKind kind, EchoMatch& match) {
    if (kind == EchoSocketKind::Ping) {
        // Binding picks the id (the socket's "port"); the kernel writes it into the request.
        sockaddr_in local{};
        local.sin_family = AF_INET;
        socklen_t length = sizeof local;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            return errno;
        match.id = ntohs(local.sin_port);
    }
    const auto packet = BuildEchoRequest(match.id, match.sequence, match.data);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(match.target);
    ssize_t sent;
    do {
        sent = ::sendto(fd, packet.data(), packet.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? errno : 0;
}

namespace {

// One error-queue entry: the kernel hands back what it took for our request (the ICMP part
// the error quoted) with the quoted destination in msg_name and the sender as offender.
IcmpVerdict ReadQueuedError(int fd, const EchoMatch& match, bool& empty) {
    std::uint8_t quoted[576];
    SocketMessage<512> m(quoted, sizeof quoted);
    msghdr& msg = m.msg;
    const sockaddr_in& to = m.peer;
    const ssize_t n = ::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0) {
        empty = errno != EINTR;
        return IcmpVerdict::Unrelated;
    }
    if (ntohl(to.sin_addr.s_addr) != match.target ||
        !IsOurEchoRequest(quoted, static_cast<std::size_t>(n), match))
        return IcmpVerdict::Unrelated;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR ||
            c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
            continue;
        sock_extended_err ee{};
        std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
        if (ee.ee_origin == SO_EE_ORIGIN_LOCAL) return IcmpVerdict::HostUnreachable;
        if (ee.ee_origin != SO_EE_ORIGIN_ICMP) continue;
        std::uint32_t offender = 0;
        if (c->cmsg_len >= CMSG_LEN(sizeof ee + sizeof(sockaddr_in))) {
            sockaddr_in off{};
            std::memcpy(&off, CMSG_DATA(c) + sizeof ee, sizeof off);
            if (off.sin_family == AF_INET) offender = ntohl(off.sin_addr.s_addr);
        }
        return ClassifyIcmpError(ee.ee_type, ee.ee_code, offender, match.target);
    }
    return IcmpVerdict::Unrelated;
}

}  // namespace

IcmpVerdict ReadEchoOutcome(int fd, EchoSocketKind kind, const EchoMatch& match) {
    // Bounded rounds: a flood of unrelated packets must not keep the caller here.
    bool empty = false;
    for (int round = 0; round < 64 && !empty; ++round) {
        const IcmpVerdict verdict = ReadQueuedError(fd, match, empty);
        if (verdict != IcmpVerdict::Unrelated) return verdict;
    }
    for (int round = 0; round < 64; ++round) {
        std::uint8_t packet[1500];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd, packet, sizeof packet, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        const IcmpVerdict verdict =
            ClassifyIcmpPacket(packet, static_cast<std::size_t>(n), kind == EchoSocketKind::Raw,
                               ntohl(from.sin_addr.s_addr), match);
        if (verdict != IcmpVerdict::Unrelated) return verdict;
    }
    return IcmpVerdict::Unrelated;
}

}  // namespace valdrune
