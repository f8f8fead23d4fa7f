#include "platform/linux/HostNetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/if_packet.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace valdrune {
namespace {

std::string Ipv4Text(std::uint32_t hostOrder) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (hostOrder >> 24) & 0xFF,
                  (hostOrder >> 16) & 0xFF, (hostOrder >> 8) & 0xFF, hostOrder & 0xFF);
    return text;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string DriverOf(const std::string& name) {
    // ethtool knows drivers of virtual adapters too (veth, bridge, tun), sysfs only of real ones.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        ethtool_drvinfo info{};
        info.cmd = ETHTOOL_GDRVINFO;
        ifreq request{};
        std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
        request.ifr_data = reinterpret_cast<char*>(&info);
        const bool ok = ::ioctl(fd, SIOCETHTOOL, &request) == 0;
        ::close(fd);
        if (ok) {
            info.driver[sizeof info.driver - 1] = '\0';
            if (info.driver[0] != '\0') return info.driver;
        }
    }
    char target[256] = {};
    const std::string link = "/sys/class/net/" + name + "/device/driver";
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    const std::string path(target, static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

AdapterKind KindOf(const std::string& name, bool loopback) {
    if (loopback) return AdapterKind::Loopback;
    const std::string base = "/sys/class/net/" + name;
    if (PathExists(base + "/wireless") || PathExists(base + "/phy80211"))
        return AdapterKind::Wireless;
    if (!PathExists(base + "/device")) return AdapterKind::Virtual;
    return AdapterKind::Wired;
}

std::string ReadFile(const char* path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Collected {
    std::vector<AdapterEntry> adapters;
    std::vector<HostInterfaceRow> rows;
};

bool Collect(Collected& out, bool wantDescriptions) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    std::map<std::string, AdapterEntry> byName;
    std::map<std::string, AdapterTraits> traits;
    std::map<std::int32_t, HostInterfaceRow> rows;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_name == nullptr) continue;
        const std::string name = it->ifa_name;
        // Alias labels ("eth0:1") are addresses of the same adapter.
        const std::string adapter = name.substr(0, name.find(':'));
        AdapterEntry& entry = byName[adapter];
        if (entry.name.empty()) {
            entry.name = adapter;
            entry.index = static_cast<std::int32_t>(if_nametoindex(adapter.c_str()));
        }
        if ((it->ifa_flags & IFF_LOOPBACK) != 0) entry.loopback = true;
        AdapterTraits& t = traits[adapter];
        t.up = (it->ifa_flags & IFF_UP) != 0;
        if (it->ifa_addr == nullptr) continue;
        if (it->ifa_addr->sa_family == AF_INET && entry.ipv4 == 0) {
            sockaddr_in in{};
            std::memcpy(&in, it->ifa_addr, sizeof in);
            entry.ipv4 = ntohl(in.sin_addr.s_addr);
        } else if (it->ifa_addr->sa_family == AF_PACKET) {
            sockaddr_ll ll{};
            std::memcpy(&ll, it->ifa_addr, sizeof ll);
            HostInterfaceRow row;
            row.index = ll.sll_ifindex;
            const std::size_t length = std::min<std::size_t>(ll.sll_halen, sizeof ll.sll_addr);
            row.physicalAddress.assign(ll.sll_addr, ll.sll_addr + length);
            t.hwAddress = row.physicalAddress;
            rows[row.index] = row;
        }
    }
    freeifaddrs(list);

    for (auto& [name, entry] : byName) {
        if (entry.index <= 0) continue;
        if (wantDescriptions) {
            AdapterTraits& t = traits[name];
            t.kind = KindOf(name, entry.loopback);
            if (!entry.loopback) t.driver = DriverOf(name);
            entry.description = FormatAdapterDescription(name, t);
        }
        out.adapters.push_back(entry);
    }
    OrderAdapters(out.adapters);
    for (auto& [index, row] : rows) out.rows.push_back(row);
    return true;
}

}  // namespace

std::string FormatAdapterDescription(const std::string& name, const AdapterTraits& traits) {
    std::string text = name + " (";
    switch (traits.kind) {
        case AdapterKind::Wired:
            text += "wired";
            break;
        case AdapterKind::Wireless:
            text += "wireless";
            break;
        case AdapterKind::Virtual:
            text += "virtual";
            break;
        case AdapterKind::Loopback:
            text += "loopback";
            break;
    }
    if (!traits.driver.empty() && traits.kind != AdapterKind::Loopback)
        text += ", " + traits.driver;
    const auto& mac = traits.hwAddress;
    const bool showMac = mac.size() == 6 &&
                         std::any_of(mac.begin(), mac.end(), [](std::uint8_t b) { return b != 0; });
    if (showMac) {
        char macText[18];
        std::snprintf(macText, sizeof macText, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1],
                      mac[2], mac[3], mac[4], mac[5]);
        text += ", ";
        text += macText;
    }
    if (!traits.up) text += ", down";
    text += ")";
    return text;
}

std::map<std::string, std::uint32_t> ParseDefaultGateways(std::string_view routeTable) {
    constexpr unsigned RTF_UP_FLAG = 0x1;
    constexpr unsigned RTF_GATEWAY_FLAG = 0x2;
    std::map<std::string, std::uint32_t> gateways;
    std::istringstream lines{std::string(routeTable)};
    std::string line;
    bool header = true;
    while (std::getline(lines, line)) {
        if (header) {  // "Iface Destination Gateway Flags ..."
            header = false;
            continue;
        }
        std::istringstream fields(line);
        std::string iface, destination, gateway, flags, refCnt, use, metric, mask;
        if (!(fields >> iface >> destination >> gateway >> flags >> refCnt >> use >> metric >>
              mask))
            continue;
        unsigned long dest = 0, gw = 0, fl = 0, msk = 0;
        char* end = nullptr;
        auto hex = [&end](const std::string& s, unsigned long& value) {
            value = std::strtoul(s.c_str(), &end, 16);
            return end != s.c_str() && *end == '\0' && s.size() <= 8;
        };
        if (!hex(destination, dest) || !hex(gateway, gw) || !hex(flags, fl) || !hex(mask, msk))
            continue;
        if (dest != 0 || msk != 0 || (fl & RTF_UP_FLAG) == 0 || (fl & RTF_GATEWAY_FLAG) == 0)
            continue;
        // The kernel prints the address as a native-order word of the network-order bytes.
        const std::uint32_t hostOrder = ntohl(static_cast<std::uint32_t>(gw));
        gateways.emplace(iface, hostOrder);  // the first default route wins
    }
    return gateways;
}

void OrderAdapters(std::vector<AdapterEntry>& adapters) {
    std::stable_sort(adapters.begin(), adapters.end(),
                     [](const AdapterEntry& a, const AdapterEntry& b) {
                         if (a.loopback != b.loopback) return !a.loopback;
                         return a.index < b.index;
                     });
}

std::vector<HostAdapter> HostNetwork::Adapters() {
    Collected collected;
    if (!Collect(collected, true)) return {};
    // thread-self: the routing table of this thread's network namespace, which may differ from
    // the process's (/proc/net follows the main thread).
    std::string routes = ReadFile("/proc/thread-self/net/route");
    if (routes.empty()) routes = ReadFile("/proc/net/route");
    const auto gateways = ParseDefaultGateways(routes);
    std::vector<HostAdapter> result;
    for (const AdapterEntry& entry : collected.adapters) {
        HostAdapter adapter;
        adapter.ipv4Text = Ipv4Text(entry.ipv4);
        const auto gw = gateways.find(entry.name);
        if (gw != gateways.end()) adapter.gatewayText = Ipv4Text(gw->second);
        adapter.index = entry.index;
        adapter.description = entry.description;
        result.push_back(std::move(adapter));
    }
    return result;
}

bool HostNetwork::InterfaceRows(std::vector<HostInterfaceRow>& rows) {
    Collected collected;
    if (!Collect(collected, false)) return false;
    rows = std::move(collected.rows);
    return true;
}

std::uint32_t HostsFileAddress(std::string_view text, std::string_view name) {
    auto same = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) ==
                          std::tolower(static_cast<unsigned char>(y));
               });
    };
    std::istringstream lines{std::string(text)};
    std::string line;
    while (std::getline(lines, line)) {
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string address;
        if (!(words >> address)) continue;
        in_addr parsed{};
        if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1) continue;
        for (std::string alias; words >> alias;) {
            if (same(alias, name)) return ntohl(parsed.s_addr);
        }
    }
    return 0;
}

// The host's own name is looked up in the hosts file, then taken as the first non-loopback
// adapter address, which is what the resolver's own-host rules answer. A DNS query is never
// made: on a camera network without a reachable name server it would hold up the start.
std::uint32_t HostNetwork::HostNameAddress() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return 0;
    std::ifstream hosts("/etc/hosts");
    if (hosts) {
        std::stringstream text;
        text << hosts.rdbuf();
        if (const std::uint32_t address = HostsFileAddress(text.str(), name); address != 0)
            return address;
    }
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return 0;
    std::uint32_t address = 0;
    for (ifaddrs* it = list; it != nullptr && address == 0; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
        if ((it->ifa_flags & IFF_LOOPBACK) != 0) continue;
        sockaddr_in in{};
        std::memcpy(&in, it->ifa_addr, sizeof in);
        address = ntohl(in.sin_addr.s_addr);
    }
    ::freeifaddrs(list);
    return address;
}

}  // namespace valdrune
