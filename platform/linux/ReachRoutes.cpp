#include "platform/linux/ReachRoutes.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/capability.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace valdrune {
namespace {

struct Request {
    nlmsghdr h;
    union {
        ifaddrmsg addr;
        rtmsg route;
    };
    char attrs[64];
};

void Attr(Request& r, unsigned short type, const void* data, std::size_t size) {
    auto* a = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&r) + NLMSG_ALIGN(r.h.nlmsg_len));
    a->rta_type = type;
    a->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(a), data, size);
    r.h.nlmsg_len = NLMSG_ALIGN(r.h.nlmsg_len) + RTA_ALIGN(a->rta_len);
}

void Address(Request& r, unsigned short type, std::uint32_t hostOrder) {
    const std::uint32_t n = htonl(hostOrder);
    Attr(r, type, &n, sizeof n);
}

// Sends one request and waits for its acknowledgement; 0 or an errno value.
int Exchange(Request& r) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return errno;
    r.h.nlmsg_flags |= NLM_F_REQUEST | NLM_F_ACK;
    r.h.nlmsg_seq = 1;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    int result = EIO;
    if (sendto(fd, &r, r.h.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) >=
        0) {
        pollfd p{fd, POLLIN, 0};
        char buf[1024];
        const ssize_t n = poll(&p, 1, 2000) == 1 ? recv(fd, buf, sizeof buf, 0) : -1;
        auto* h = reinterpret_cast<nlmsghdr*>(buf);
        if (n >= static_cast<ssize_t>(NLMSG_LENGTH(sizeof(nlmsgerr))) &&
            h->nlmsg_type == NLMSG_ERROR) {
            nlmsgerr e{};
            std::memcpy(&e, buf + NLMSG_ALIGN(sizeof(nlmsghdr)), sizeof e);
            result = -e.error;
        }
    } else {
        result = errno;
    }
    close(fd);
    return result;
}

// An empty request of a body of `bodySize` bytes. One that adds creates its object and fails
// when the object is there already.
Request Header(std::size_t bodySize, std::uint16_t type, bool add) {
    Request r{};
    r.h.nlmsg_len = static_cast<std::uint32_t>(NLMSG_LENGTH(bodySize));
    r.h.nlmsg_type = type;
    if (add) r.h.nlmsg_flags = NLM_F_CREATE | NLM_F_EXCL;
    return r;
}

Request AddressRequest(const ReachEntry& e, bool add) {
    Request r = Header(sizeof(ifaddrmsg), add ? RTM_NEWADDR : RTM_DELADDR, add);
    // No subnet route: only the host route below moves traffic.
    r.addr = {.ifa_family = AF_INET, .ifa_prefixlen = 32, .ifa_flags = 0,
              .ifa_scope = RT_SCOPE_UNIVERSE, .ifa_index = static_cast<unsigned>(e.ifIndex)};
    Address(r, IFA_LOCAL, e.source);
    Address(r, IFA_ADDRESS, e.source);
    return r;
}

Request RouteRequest(const ReachEntry& e, bool add) {
    Request r = Header(sizeof(rtmsg), add ? RTM_NEWROUTE : RTM_DELROUTE, add);
    r.route = {.rtm_family = AF_INET, .rtm_dst_len = 32, .rtm_src_len = 0, .rtm_tos = 0,
               .rtm_table = RT_TABLE_MAIN, .rtm_protocol = RTPROT_STATIC,
               .rtm_scope = RT_SCOPE_LINK, .rtm_type = RTN_UNICAST, .rtm_flags = 0};
    Address(r, RTA_DST, e.device);
    Attr(r, RTA_OIF, &e.ifIndex, sizeof e.ifIndex);
    Address(r, RTA_PREFSRC, e.source);
    return r;
}

std::string Describe(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

bool PrivateDirectory(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 022) == 0;
}

// A directory only this user can write to, made when it is missing; empty when there is none.
std::string StateDirectory() {
    std::string base;
    if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x == '/' && PrivateDirectory(x)) {
        base = x;
    } else if (geteuid() == 0) {
        base = "/run";
    } else {
        return {};
    }
    const std::string dir = base + "/valdrune";
    mkdir(dir.c_str(), 0700);
    return PrivateDirectory(dir) ? dir : std::string();
}

}  // namespace

bool LinuxReachRoutes::Permitted() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        unsigned long long caps = 0;
        if (std::sscanf(line.c_str(), "CapEff: %llx", &caps) == 1)
            return (caps >> CAP_NET_ADMIN) & 1u;
    }
    return false;
}

std::string LinuxReachRoutes::StatePlace() { return "XDG_RUNTIME_DIR or /run/valdrune"; }

std::uint64_t LinuxReachRoutes::Namespace() {
    struct stat st {};
    return stat("/proc/self/ns/net", &st) == 0 ? static_cast<std::uint64_t>(st.st_ino) : 0;
}

std::vector<Ipv4Network> LinuxReachRoutes::Networks() {
    std::vector<Ipv4Network> out;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return out;
    for (ifaddrs* i = all; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_netmask) continue;
        Ipv4Network n;
        n.address = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        n.prefixLength = __builtin_popcount(
            ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr));
        // A /32 (such as a borrowed address) is no subnet the device could be in.
        if (n.prefixLength < 32 && (n.address >> 24) != 127) out.push_back(n);
    }
    freeifaddrs(all);
    return out;
}

ReachAdd LinuxReachRoutes::Add(const ReachEntry& e, std::string& error) {
    Request a = AddressRequest(e, true);
    if (int rc = Exchange(a)) {
        error = Describe("cannot add the address", rc);
        return ReachAdd::Failed;
    }
    Request r = RouteRequest(e, true);
    if (int rc = Exchange(r)) {
        error = Describe("cannot add the route", rc);
        Request undo = AddressRequest(e, false);
        const int undoRc = Exchange(undo);
        if (undoRc != 0 && undoRc != EADDRNOTAVAIL && undoRc != ENODEV) {
            error += ", and " + Describe("cannot remove the address again", undoRc);
            return ReachAdd::Partial;
        }
        return ReachAdd::Failed;
    }
    return ReachAdd::Added;
}

bool LinuxReachRoutes::Remove(const ReachEntry& e, std::string& error) {
    // Taking the address away takes the route using it along; delete both explicitly anyway,
    // and count "not there" as done.
    Request r = RouteRequest(e, false);
    const int routeRc = Exchange(r);
    Request a = AddressRequest(e, false);
    const int addrRc = Exchange(a);
    auto gone = [](int rc) {
        return rc == 0 || rc == ESRCH || rc == ENOENT || rc == EADDRNOTAVAIL || rc == ENODEV;
    };
    if (!gone(routeRc)) error = Describe("cannot remove the route", routeRc);
    if (!gone(addrRc)) error = Describe("cannot remove the address", addrRc);
    return gone(routeRc) && gone(addrRc);
}

bool LinuxReachRoutes::UpdateState(const std::function<std::string(const std::string&)>& change) {
    const std::string dir = StateDirectory();
    if (dir.empty()) return false;
    const std::string path = dir + "/reach.state";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX) != 0) {
        close(fd);
        return false;
    }
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<std::size_t>(n));
    const std::string next = change(text);
    bool ok = ftruncate(fd, 0) == 0 && lseek(fd, 0, SEEK_SET) == 0;
    for (std::size_t done = 0; ok && done < next.size();) {
        const ssize_t n = write(fd, next.data() + done, next.size() - done);
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = fsync(fd) == 0 && ok;
    close(fd);  // also releases the lock
    return ok;
}

bool LinuxReachRoutes::Alive(int pid) {
    // A run that was killed may linger as a zombie, and its number may have gone to another
    // program since: only a live process of this same program counts.
    if (pid <= 0) return false;
    const std::string base = "/proc/" + std::to_string(pid);
    std::string stat, comm, own;
    std::getline(std::ifstream(base + "/stat"), stat);
    std::getline(std::ifstream(base + "/comm"), comm);
    std::getline(std::ifstream("/proc/self/comm"), own);
    const auto close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' &&
           stat[close + 2] != 'X' && comm == own;
}

bool LinuxReachRoutes::InUse(std::int32_t ifIndex, const MacAddress& ownMac,
                             std::uint32_t address) {
    // Held here already (by another run, say): the probe would not see it.
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) == 0) {
        bool local = false;
        for (ifaddrs* i = all; i; i = i->ifa_next) {
            if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET &&
                ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr) == address)
                local = true;
        }
        freeifaddrs(all);
        if (local) return true;
    }
    // An address-resolution probe: sender address 0.0.0.0, so no host learns anything from it.
    const int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ARP));
    if (fd < 0) return true;  // cannot tell: do not borrow it
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ARP);
    link.sll_ifindex = ifIndex;
    link.sll_halen = 6;
    std::memset(link.sll_addr, 0xFF, 6);
    bind(fd, reinterpret_cast<sockaddr*>(&link), sizeof link);
    std::uint8_t probe[28] = {0, 1, 8, 0, 6, 4, 0, 1};
    std::memcpy(probe + 8, ownMac.data(), 6);
    const std::uint32_t target = htonl(address);
    std::memcpy(probe + 24, &target, 4);
    bool used = false;
    for (int attempt = 0; attempt < 2 && !used; ++attempt) {
        if (sendto(fd, probe, sizeof probe, 0, reinterpret_cast<sockaddr*>(&link), sizeof link) <
            0) {
            used = true;  // cannot tell
            break;
        }
        pollfd p{fd, POLLIN, 0};
        while (!used && poll(&p, 1, 500) == 1) {
            std::uint8_t in[64];
            const ssize_t n = recv(fd, in, sizeof in, 0);
            std::uint32_t sender = 0;
            if (n >= 28) std::memcpy(&sender, in + 14, 4);
            // A reply, or another host's own probe or announcement of the address.
            used = n >= 28 && in[2] == 8 && in[3] == 0 && sender == target;
        }
    }
    close(fd);
    return used;
}

}  // namespace valdrune
