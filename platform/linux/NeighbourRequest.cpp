#include "platform/linux/NeighbourRequest.h"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace valdrune {
namespace {

// A netlink socket to the kernel that cannot hang the caller: replies come at once or never.
class Netlink {
  public:
    Netlink() : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
        if (fd_ < 0) return;
        timeval limit{0, 300000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Netlink() {
        if (fd_ >= 0) ::close(fd_);
    }
    Netlink(const Netlink&) = delete;
    Netlink& operator=(const Netlink&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    bool Send(const void* message, std::size_t size) const {
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        return ::sendto(fd_, message, size, 0, reinterpret_cast<const sockaddr*>(&kernel),
                        sizeof kernel) == static_cast<ssize_t>(size);
    }

  private:
    int fd_;
};

struct NeighbourRequest {
    nlmsghdr header;
    ndmsg body;
    rtattr dstAttribute;
    std::uint32_t dst;
};

NeighbourRequest MakeRequest(std::uint16_t type, std::uint16_t flags, std::int32_t ifIndex,
                             std::uint32_t address, std::uint32_t sequence) {
    NeighbourRequest r{};
    r.header.nlmsg_len = sizeof r;
    r.header.nlmsg_type = type;
    r.header.nlmsg_flags = flags;
    r.header.nlmsg_seq = sequence;
    r.body.ndm_family = AF_INET;
    r.body.ndm_ifindex = ifIndex;
    r.dstAttribute.rta_type = NDA_DST;
    r.dstAttribute.rta_len = RTA_LENGTH(sizeof(std::uint32_t));
    r.dst = htonl(address);
    return r;
}

}  // namespace

std::vector<std::int32_t> NeighbourEntriesOf(std::uint32_t address) {
    std::vector<std::int32_t> found;
    Netlink link;
    if (!link.Ok()) return found;
    // A dump of the IPv4 neighbour table; the address filter is ours (older kernels ignore
    // filter attributes in dump requests).
    struct {
        nlmsghdr header;
        ndmsg body;
    } dump{};
    dump.header.nlmsg_len = sizeof dump;
    dump.header.nlmsg_type = RTM_GETNEIGH;
    dump.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    dump.header.nlmsg_seq = 1;
    dump.body.ndm_family = AF_INET;
    if (!link.Send(&dump, sizeof dump)) return found;

    alignas(nlmsghdr) std::uint8_t buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(link.Fd(), buffer, sizeof buffer, 0);
        if (n <= 0) return found;
        auto remaining = static_cast<unsigned>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, remaining);
             h = NLMSG_NEXT(h, remaining)) {
            if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) return found;
            if (h->nlmsg_type != RTM_NEWNEIGH || h->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
                continue;
            const auto* body = reinterpret_cast<const ndmsg*>(
                reinterpret_cast<const std::uint8_t*>(h) + NLMSG_ALIGN(sizeof(nlmsghdr)));
            if (body->ndm_family != AF_INET) continue;
            if ((body->ndm_state & (NUD_PERMANENT | NUD_NOARP)) != 0) continue;
            int attributesLength = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
            for (auto* a = reinterpret_cast<const rtattr*>(
                     reinterpret_cast<const std::uint8_t*>(body) + NLMSG_ALIGN(sizeof(ndmsg)));
                 RTA_OK(a, attributesLength); a = RTA_NEXT(a, attributesLength)) {
                if (a->rta_type != NDA_DST || RTA_PAYLOAD(a) != sizeof(std::uint32_t)) continue;
                std::uint32_t dst = 0;
                std::memcpy(&dst, RTA_DATA(a), sizeof dst);
                if (ntohl(dst) == address) found.push_back(body->ndm_ifindex);
            }
        }
    }
}

int DeleteNeighbour(std::int32_t ifIndex, std::uint32_t address) {
    Netlink link;
    if (!link.Ok()) return errno != 0 ? errno : EIO;
    const auto request = MakeRequest(RTM_DELNEIGH, NLM_F_REQUEST | NLM_F_ACK, ifIndex, address, 1);
    if (!link.Send(&request, sizeof request)) return errno != 0 ? errno : EIO;
    // The acknowledgement says whether the entry is gone.
    alignas(nlmsghdr) std::uint8_t reply[1024];
    const ssize_t n = ::recv(link.Fd(), reply, sizeof reply, 0);
    if (n < 0) return errno;
    auto remaining = static_cast<unsigned>(n);
    for (auto* h = reinterpret_cast<nlmsghdr*>(reply); NLMSG_OK(h, remaining);
         h = NLMSG_NEXT(h, remaining)) {
        if (h->nlmsg_type != NLMSG_ERROR || h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) continue;
        nlmsgerr error{};
        std::memcpy(&error, reinterpret_cast<const std::uint8_t*>(h) + NLMSG_HDRLEN, sizeof error);
        return -error.error;
    }
    return EIO;
}

}  // namespace valdrune
