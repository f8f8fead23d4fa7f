#include "platform/linux/NetworkSurvey.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "platform/linux/NftRules.h"
#include "platform/linux/Privileges.h"
#include "platform/linux/SocketMessage.h"
#include "protocol/Record.h"

namespace valdrune {
namespace {

constexpr std::uint16_t kAnswerPort = 10669;
// An address outside every subnet a camera network uses (TEST-NET-1): where its route leaves
// is where answers from devices outside the adapter's subnet are routed back.
constexpr std::uint32_t kOutsideAddress = 0xC0000201u;  // 192.0.2.1

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

int ReadInt(const std::string& path, int fallback) {
    const std::string s = ReadLine(path);
    try {
        return s.empty() ? fallback : std::stoi(s);
    } catch (...) {
        return fallback;
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct OsAdapter {
    AdapterFacts facts;
    int index = 0;
    MacAddress mac{};
};

bool IsTunnel(const std::string& name) {
    const int type = ReadInt("/sys/class/net/" + name + "/type", ARPHRD_ETHER);
    std::ifstream tun("/sys/class/net/" + name + "/tun_flags");
    return IsTunnelType(type, static_cast<bool>(tun));
}

std::vector<OsAdapter> ListAdapters() {
    std::vector<OsAdapter> list;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return list;
    auto entry = [&list](const char* name) -> OsAdapter& {
        for (auto& a : list) {
            if (a.facts.name == name) return a;
        }
        OsAdapter a;
        a.facts.name = name;
        a.index = static_cast<int>(if_nametoindex(name));
        list.push_back(a);
        return list.back();
    };
    for (ifaddrs* i = all; i; i = i->ifa_next) {
        if (!i->ifa_name) continue;
        OsAdapter& a = entry(i->ifa_name);
        a.facts.up = (i->ifa_flags & IFF_UP) != 0;
        a.facts.carrier = (i->ifa_flags & IFF_RUNNING) != 0;
        if (!i->ifa_addr) continue;
        if (i->ifa_addr->sa_family == AF_INET && a.facts.ipv4 == 0) {
            a.facts.ipv4 = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
            if (i->ifa_netmask) {
                const std::uint32_t m =
                    ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
                a.facts.prefixLength = __builtin_popcount(m);
            }
        } else if (i->ifa_addr->sa_family == AF_PACKET) {
            auto* ll = reinterpret_cast<sockaddr_ll*>(i->ifa_addr);
            if (ll->sll_halen == 6) std::memcpy(a.mac.data(), ll->sll_addr, 6);
        }
    }
    freeifaddrs(all);
    for (auto& a : list) a.facts.tunnel = IsTunnel(a.facts.name);
    return list;
}

const OsAdapter* Choose(const std::vector<OsAdapter>& list, const std::string& wanted,
                        std::int32_t fallbackIndex) {
    MacAddress mac{};
    std::uint32_t ip = 0;
    const bool isMac = !wanted.empty() && ParseMac(wanted, mac);
    const bool isIp = !wanted.empty() && ParseIpv4(wanted, ip);
    for (const auto& a : list) {
        if (wanted.empty() ? a.index == fallbackIndex
                           : (a.facts.name == wanted || (isMac && a.mac == mac) ||
                              (isIp && a.facts.ipv4 == ip))) {
            return &a;
        }
    }
    return nullptr;
}

// inode -> (pid, process name) of every socket this process may look at; the sockets of this
// process itself go to `own`.
std::map<unsigned long long, PortHolder> SocketOwners(std::set<unsigned long long>& own) {
    std::map<unsigned long long, PortHolder> owners;
    DIR* proc = opendir("/proc");
    if (!proc) return owners;
    const int self = static_cast<int>(getpid());
    while (dirent* d = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(d->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        const std::string base = std::string("/proc/") + d->d_name;
        DIR* fds = opendir((base + "/fd").c_str());
        if (!fds) continue;
        std::string comm;
        while (dirent* f = readdir(fds)) {
            char target[64] = {};
            const std::string link = base + "/fd/" + f->d_name;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            unsigned long long inode = 0;
            if (n <= 0 || std::sscanf(target, "socket:[%llu]", &inode) != 1) continue;
            if (pid == self) {
                own.insert(inode);
                continue;
            }
            if (comm.empty()) comm = ReadLine(base + "/comm");
            owners[inode] = PortHolder{static_cast<int>(pid), comm};
        }
        closedir(fds);
    }
    closedir(proc);
    return owners;
}

// Other processes' sockets on the port. This process's own (the window's search socket) is
// not in the way of its own searches.
std::vector<PortHolder> PortHolders() {
    std::vector<UdpSocketRow> rows = ParseUdpTable(ReadAll("/proc/net/udp"), false);
    for (const auto& r : ParseUdpTable(ReadAll("/proc/net/udp6"), true)) rows.push_back(r);
    std::vector<PortHolder> holders;
    std::map<unsigned long long, PortHolder> owners;
    std::set<unsigned long long> own;
    bool scanned = false;
    for (const auto& r : rows) {
        if (r.port != kAnswerPort) continue;
        if (!scanned) {
            owners = SocketOwners(own);
            scanned = true;
        }
        if (own.count(r.inode) != 0) continue;
        auto it = owners.find(r.inode);
        holders.push_back(it != owners.end() ? it->second : PortHolder{});
    }
    return holders;
}

// The adapter that the kernel routes `address` out of; empty when it has no route.
std::string RouteAdapter(std::uint32_t address) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return {};
    struct {
        nlmsghdr n;
        rtmsg r;
        char attrs[16];
    } req{};
    req.n.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    req.n.nlmsg_type = RTM_GETROUTE;
    req.n.nlmsg_flags = NLM_F_REQUEST;
    req.n.nlmsg_seq = 1;
    req.r.rtm_family = AF_INET;
    req.r.rtm_dst_len = 32;
    auto* rta =
        reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&req) + NLMSG_ALIGN(req.n.nlmsg_len));
    rta->rta_type = RTA_DST;
    rta->rta_len = RTA_LENGTH(4);
    const std::uint32_t dst = htonl(address);
    std::memcpy(RTA_DATA(rta), &dst, 4);
    req.n.nlmsg_len = NLMSG_ALIGN(req.n.nlmsg_len) + RTA_ALIGN(rta->rta_len);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    std::string name;
    if (sendto(fd, &req, req.n.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) >=
        0) {
        pollfd p{fd, POLLIN, 0};
        std::array<char, 8192> buf{};
        const ssize_t n = poll(&p, 1, 1000) == 1 ? recv(fd, buf.data(), buf.size(), 0) : -1;
        auto* h = reinterpret_cast<nlmsghdr*>(buf.data());
        if (n > 0 && NLMSG_OK(h, static_cast<unsigned>(n)) && h->nlmsg_type == RTM_NEWROUTE &&
            h->nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg))) {
            auto* body = reinterpret_cast<std::uint8_t*>(h) + NLMSG_ALIGN(sizeof(nlmsghdr));
            int len = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(rtmsg)));
            for (auto* a = reinterpret_cast<rtattr*>(body + NLMSG_ALIGN(sizeof(rtmsg)));
                 RTA_OK(a, len); a = RTA_NEXT(a, len)) {
                if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) >= 4) {
                    int index = 0;
                    std::memcpy(&index, RTA_DATA(a), 4);
                    char ifname[IF_NAMESIZE] = {};
                    if (if_indextoname(static_cast<unsigned>(index), ifname)) name = ifname;
                }
            }
        }
    }
    close(fd);
    return name;
}

// Sends a broadcast to port 10669 out of the adapter and waits briefly for the looped copy,
// which passes the input hooks as if it had arrived on that adapter.
LoopOutcome LoopTest(const OsAdapter& a, std::string& target, std::string& whyNot) {
    target = "255.255.255.255:10669 via " + a.facts.name;
    const int rx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int tx = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    LoopOutcome outcome = LoopOutcome::NotRun;
    int one = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kAnswerPort);
    if (rx < 0 || tx < 0 || setsockopt(rx, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
        bind(rx, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        setsockopt(tx, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0) {
        whyNot = std::string("the looped test could not bind UDP 10669: ") + std::strerror(errno);
    } else {
        std::random_device rd;
        const std::string token = "valdrune doctor " + std::to_string(rd()) + std::to_string(rd());
        SocketMessage m(token.data(), token.size());
        m.To(0xFFFFFFFFu, kAnswerPort);
        m.From(a.index, htonl(a.facts.ipv4));
        if (sendmsg(tx, &m.msg, 0) < 0) {
            whyNot = std::string("the looped test could not send: ") + std::strerror(errno);
        } else {
            outcome = LoopOutcome::Lost;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
            for (;;) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                pollfd p{rx, POLLIN, 0};
                if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1) break;
                char buf[128];
                const ssize_t n = recv(rx, buf, sizeof buf, 0);
                if (n == static_cast<ssize_t>(token.size()) &&
                    std::memcmp(buf, token.data(), token.size()) == 0) {
                    outcome = LoopOutcome::Arrived;
                    break;
                }
            }
        }
    }
    if (rx >= 0) close(rx);
    if (tx >= 0) close(tx);
    return outcome;
}

}  // namespace

std::vector<UdpSocketRow> ParseUdpTable(std::string_view text, bool ipv6) {
    std::vector<UdpSocketRow> rows;
    std::istringstream lines{std::string(text)};
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) {
        std::istringstream f(line);
        std::string slot, local, remote, state, queues, timer, retr, uid, timeout, inode;
        if (!(f >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >> timeout >>
              inode)) {
            continue;
        }
        const std::size_t colon = local.find(':');
        const std::size_t addressDigits = ipv6 ? 32 : 8;
        if (colon != addressDigits || local.size() != colon + 5) continue;
        UdpSocketRow row;
        try {
            row.port = static_cast<std::uint16_t>(std::stoul(local.substr(colon + 1), nullptr, 16));
            row.inode = std::stoull(inode);
            std::array<std::uint32_t, 4> words{};
            for (std::size_t w = 0; w < addressDigits / 8; ++w) {
                // Each word is the address bytes as the kernel holds them, printed natively.
                words[w] = ntohl(
                    static_cast<std::uint32_t>(std::stoul(local.substr(w * 8, 8), nullptr, 16)));
            }
            if (!ipv6) {
                row.address = words[0];
            } else if (words[0] == 0 && words[1] == 0 && (words[2] == 0 || words[2] == 0xFFFF)) {
                if (words[2] == 0 && words[3] != 0) continue;  // ::1 and the like
                row.address = words[2] == 0 ? 0 : words[3];
            } else {
                continue;
            }
        } catch (...) {
            continue;
        }
        rows.push_back(row);
    }
    return rows;
}

bool IsTunnelType(int arphrdType, bool hasTunFlags) {
    switch (arphrdType) {
        case ARPHRD_NONE:  // tun, wireguard
        case ARPHRD_PPP:
        case ARPHRD_TUNNEL:
        case ARPHRD_TUNNEL6:
        case ARPHRD_SIT:
        case ARPHRD_IPGRE:
        case 823:  // ARPHRD_IP6GRE, missing from older headers
            return true;
        default:
            return hasTunFlags;
    }
}

NetworkFacts LinuxNetworkSurvey::Gather(const std::string& adapter,
                                            std::int32_t fallbackIndex) {
    NetworkFacts f;
    f.requested = adapter;
    f.broadcastPinned = true;  // the transport sends with IP_PKTINFO out of the adapter
    const auto list = ListAdapters();
    const OsAdapter* chosen = Choose(list, adapter, fallbackIndex);
    f.adapterFound = chosen != nullptr;
    if (chosen) f.adapter = chosen->facts;
    for (const auto& a : list) {
        if (&a != chosen && a.facts.ipv4 != 0 && a.facts.name != "lo") f.others.push_back(a.facts);
    }

    f.portHolders = PortHolders();

    const PrivilegeReport rights = CheckPrivileges(helper_);
    f.canProbe = rights.canProbe;
    f.canFlush = rights.canFlush;
    f.usesPingSocket = rights.usesPingSocket;
    f.grantCommand = rights.setcapCommand;
    f.asAdministrator = "as root";
    f.rulesName = "nftables rules";
    f.rulesReadAs = "as root";
    if (chosen) {
        f.adapterUpCommand = "ip link set " + chosen->facts.name + " up";
        f.addressCommand = "ip addr add ADDRESS/24 dev " + chosen->facts.name;
    }

    if (!chosen || chosen->facts.ipv4 == 0) return f;
    const std::string& name = chosen->facts.name;

    std::string ruleset, error;
    if (ReadNftRuleset(ruleset, error)) {
        f.TakeRules(JudgeNftRuleset(ruleset, name));
    } else {
        f.untestedReason = "the nftables rules cannot be read (" + error + ")";
    }
    std::string whyNot;
    if (chosen->facts.up) f.loop = LoopTest(*chosen, f.loopTarget, whyNot);
    if (f.loop == LoopOutcome::NotRun && !whyNot.empty()) {
        f.untestedReason += (f.untestedReason.empty() ? "" : "; ") + whyNot;
    }
    if (f.loop == LoopOutcome::Lost && f.ruleFixCommand.empty()) {
        f.ruleFixCommand =
            "nft insert rule inet filter input iifname \"" + name + "\" udp dport 10669 accept";
    }

    f.reversePathMode = std::max(ReadInt("/proc/sys/net/ipv4/conf/all/rp_filter", 0),
                                 ReadInt("/proc/sys/net/ipv4/conf/" + name + "/rp_filter", 0));
    f.outsideRouteAdapter = RouteAdapter(kOutsideAddress);
    f.reversePathFixCommand = "sysctl -w net.ipv4.conf." + name + ".rp_filter=2";

    f.defaultRouteAdapter = f.outsideRouteAdapter;
    f.broadcastRouteAdapter = RouteAdapter(0xFFFFFFFFu);
    for (const auto& a : list) {
        if (a.facts.name == f.defaultRouteAdapter) f.defaultRouteTunnel = a.facts.tunnel;
        if (a.facts.name == f.broadcastRouteAdapter) f.broadcastRouteTunnel = a.facts.tunnel;
    }
    return f;
}

}  // namespace valdrune
