#include "platform/linux/EchoProber.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/linux/IcmpPacket.h"
#include "platform/qt/FdWatch.h"

namespace valdrune {
namespace {

int OpenEchoSocket(EchoSocketKind kind) {
    const int type = kind == EchoSocketKind::Ping ? SOCK_DGRAM : SOCK_RAW;
    return ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
}

bool IsPermissionError(int error) { return error == EACCES || error == EPERM; }

// Raw sockets see every echo reply of the host: the sequence is unique per process, not per
// prober, so that two probers' replies cannot be mistaken for each other.
std::uint16_t NextSequence() {
    static std::atomic<std::uint16_t> sequence{1};
    return sequence.fetch_add(1, std::memory_order_relaxed);
}

int CodeFor(IcmpVerdict verdict) {
    switch (verdict) {
        case IcmpVerdict::Answered:
            return ECHO_ANSWERED;
        case IcmpVerdict::NetUnreachable:
            return ECHO_NET_UNREACHABLE;
        case IcmpVerdict::HostUnreachable:
            return ECHO_HOST_UNREACHABLE;
        case IcmpVerdict::Unrelated:
            break;
    }
    return ECHO_TIMED_OUT;
}

}  // namespace

EchoSocketKind AvailableEchoSocket() {
    for (EchoSocketKind kind : {EchoSocketKind::Ping, EchoSocketKind::Raw}) {
        const int fd = OpenEchoSocket(kind);
        if (fd >= 0) {
            ::close(fd);
            return kind;
        }
    }
    return EchoSocketKind::None;
}

struct LinuxEchoProber::Pending {
    int fd = -1;
    EchoSocketKind kind = EchoSocketKind::None;
    EchoMatch match;
    TimerId timer = 0;
    std::unique_ptr<FdWatch> watch;
    std::function<void(int)> done;

    ~Pending() {
        watch.reset();
        if (fd >= 0) ::close(fd);
    }
};

LinuxEchoProber::LinuxEchoProber(IScheduler& scheduler)
    : scheduler_(scheduler),
      rawId_(static_cast<std::uint16_t>(::getpid() & 0xFFFF)),
      alive_(std::make_shared<bool>(true)) {}

LinuxEchoProber::~LinuxEchoProber() {
    CancelAll();
    *alive_ = false;
}

bool LinuxEchoProber::CanProbe() const { return AvailableEchoSocket() != EchoSocketKind::None; }

void LinuxEchoProber::PostResult(std::function<void(int)> done, int code) {
    // Never call back from inside Probe: the caller is usually still setting up.
    std::weak_ptr<bool> alive = alive_;
    scheduler_.Post([alive, done = std::move(done), code]() {
        const auto flag = alive.lock();
        if (flag && *flag && done) done(code);
    });
}

void LinuxEchoProber::Probe(std::uint32_t address, const std::string& data, Milliseconds timeout,
                            std::function<void(int)> done) {
    auto pending = std::make_unique<Pending>();
    int fd = OpenEchoSocket(EchoSocketKind::Ping);
    pending->kind = EchoSocketKind::Ping;
    if (fd < 0) {
        // Not allowed by ping_group_range, or a kernel without ping sockets.
        const int pingError = errno;
        fd = OpenEchoSocket(EchoSocketKind::Raw);
        pending->kind = EchoSocketKind::Raw;
        if (fd < 0) {
            const bool refused = IsPermissionError(errno) &&
                                 (IsPermissionError(pingError) || pingError == EAFNOSUPPORT ||
                                  pingError == EPROTONOSUPPORT);
            PostResult(std::move(done), refused ? ECHO_NOT_PERMITTED : ECHO_NOT_PREPARED);
            return;
        }
    }
    pending->fd = fd;
    const int on = 1;
    // Errors about our echo (unreachable, from a router or our own neighbour resolution)
    // are queued with the offender's address instead of only failing the next read.
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    if (pending->kind == EchoSocketKind::Raw) {
        icmp_filter filter{};
        filter.data =
            ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_TIME_EXCEEDED));
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }

    pending->match.target = address;
    pending->match.sequence = NextSequence();
    pending->match.id = rawId_;
    pending->match.checkId = pending->kind == EchoSocketKind::Raw;
    const auto packet = BuildEchoRequest(pending->match.id, pending->match.sequence, data);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    ssize_t sent;
    do {
        sent = ::sendto(fd, packet.data(), packet.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        // Sent nowhere: no answer. The kernel sometimes already knows why.
        PostResult(std::move(done),
                   errno == EHOSTUNREACH ? ECHO_HOST_UNREACHABLE : ECHO_NET_UNREACHABLE);
        return;
    }

    const std::uint64_t key = nextKey_++;
    pending->done = std::move(done);
    pending->watch = std::make_unique<FdWatch>(fd, [this, key]() { OnReadable(key); });
    pending->timer = scheduler_.StartTimer(timeout, false, [this, key]() {
        const auto it = probes_.find(key);
        if (it != probes_.end()) it->second->timer = 0;
        Finish(key, ECHO_TIMED_OUT);
    });
    probes_.emplace(key, std::move(pending));
}

void LinuxEchoProber::OnReadable(std::uint64_t key) {
    const auto it = probes_.find(key);
    if (it == probes_.end()) return;
    Pending& p = *it->second;

    // Queued errors first: with IP_RECVERR they arrive here, not as packets (ping sockets).
    for (int round = 0; round < 64; ++round) {
        std::uint8_t quoted[576];
        alignas(cmsghdr) unsigned char control[512];
        sockaddr_in from{};
        iovec iov{quoted, sizeof quoted};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        if (::recvmsg(p.fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) break;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
            sock_extended_err ee{};
            std::memcpy(&ee, CMSG_DATA(c), sizeof ee);
            // The error is about the last datagram this socket sent, which is our one echo;
            // the destination is in msg_name.
            if (ntohl(from.sin_addr.s_addr) != p.match.target) continue;
            std::uint32_t offender = 0;
            if (c->cmsg_len >= CMSG_LEN(sizeof ee + sizeof(sockaddr_in))) {
                sockaddr_in off{};
                std::memcpy(&off, CMSG_DATA(c) + sizeof ee, sizeof off);
                if (off.sin_family == AF_INET) offender = ntohl(off.sin_addr.s_addr);
            }
            IcmpVerdict verdict = IcmpVerdict::Unrelated;
            if (ee.ee_origin == SO_EE_ORIGIN_ICMP)
                verdict = ClassifyIcmpError(ee.ee_type, ee.ee_code, offender, p.match.target);
            else if (ee.ee_origin == SO_EE_ORIGIN_LOCAL)
                verdict = IcmpVerdict::HostUnreachable;
            if (verdict != IcmpVerdict::Unrelated) {
                Finish(key, CodeFor(verdict));
                return;
            }
        }
    }

    for (int round = 0; round < 64; ++round) {
        std::uint8_t packet[1500];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(p.fd, packet, sizeof packet, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        const IcmpVerdict verdict =
            ClassifyIcmpPacket(packet, static_cast<std::size_t>(n), p.kind == EchoSocketKind::Raw,
                               ntohl(from.sin_addr.s_addr), p.match);
        if (verdict != IcmpVerdict::Unrelated) {
            Finish(key, CodeFor(verdict));
            return;
        }
    }
}

void LinuxEchoProber::Finish(std::uint64_t key, int code) {
    const auto it = probes_.find(key);
    if (it == probes_.end()) return;
    std::unique_ptr<Pending> p = std::move(it->second);
    probes_.erase(it);
    if (p->timer != 0) scheduler_.CancelTimer(p->timer);
    auto done = std::move(p->done);
    p.reset();  // socket closed before the caller sees the outcome
    if (done) done(code);
}

void LinuxEchoProber::CancelAll() {
    auto probes = std::move(probes_);
    probes_.clear();
    for (auto& [key, p] : probes)
        if (p->timer != 0) scheduler_.CancelTimer(p->timer);
    // The posted results of probes that failed at once are dropped too.
    *alive_ = false;
    alive_ = std::make_shared<bool>(true);
}

}  // namespace valdrune
