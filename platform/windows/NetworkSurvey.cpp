#include "platform/windows/NetworkSurvey.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <windows.h>

#include <vector>

#include "platform/windows/CodePage.h"
#include "platform/windows/HostNetwork.h"
#include "platform/windows/Privileges.h"
#include "protocol/Record.h"

namespace valdrune {
namespace {

constexpr std::uint16_t kAnswerPort = 10669;
constexpr std::uint32_t kOutsideAddress = 0xC0000201u;  // 192.0.2.1, in no adapter's subnet

std::uint32_t Mask(int prefixLength) {
    if (prefixLength <= 0) return 0;
    if (prefixLength >= 32) return 0xFFFFFFFFu;
    return ~((1u << (32 - prefixLength)) - 1);
}

AdapterFacts ToFacts(const WindowsAdapterFacts& a) {
    AdapterFacts f;
    f.name = a.friendlyName;
    f.ipv4 = a.ipv4;
    f.prefixLength = a.prefixLength;
    f.up = a.up;
    // The IP Helper reports a missing link as "not up"; an up adapter has its medium.
    f.carrier = a.up;
    f.tunnel = a.tunnel;
    return f;
}

const WindowsAdapterFacts* Choose(const std::vector<WindowsAdapterFacts>& list,
                                  const std::string& wanted, std::int32_t fallbackIndex) {
    MacAddress mac{};
    std::uint32_t ip = 0;
    const bool isMac = !wanted.empty() && ParseMac(wanted, mac);
    const bool isIp = !wanted.empty() && ParseIpv4(wanted, ip);
    for (const auto& a : list) {
        const bool macMatches = isMac && a.hwAddress.size() == mac.size() &&
                                std::equal(mac.begin(), mac.end(), a.hwAddress.begin());
        if (wanted.empty() ? a.index == fallbackIndex
                           : (a.friendlyName == wanted || macMatches ||
                              (isIp && a.ipv4 != 0 && a.ipv4 == ip))) {
            return &a;
        }
    }
    return nullptr;
}

std::string ProcessName(DWORD pid) {
    const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return {};
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    std::string name;
    if (::QueryFullProcessImageNameW(process, 0, path, &size)) {
        const std::string full = WideToUtf8(path);
        const std::size_t slash = full.find_last_of("\\/");
        name = slash == std::string::npos ? full : full.substr(slash + 1);
    }
    ::CloseHandle(process);
    return name;
}

std::vector<PortHolder> PortHolders() {
    std::vector<std::uint8_t> buffer(16 * 1024);
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD rc = ERROR_INSUFFICIENT_BUFFER;
    for (int round = 0; round < 4 && rc == ERROR_INSUFFICIENT_BUFFER; ++round) {
        buffer.resize(size);
        rc = ::GetExtendedUdpTable(buffer.data(), &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
    }
    std::vector<PortHolder> holders;
    if (rc != NO_ERROR) return holders;
    const auto* table = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(buffer.data());
    const DWORD self = ::GetCurrentProcessId();
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_UDPROW_OWNER_PID& row = table->table[i];
        if (ntohs(static_cast<u_short>(row.dwLocalPort)) != kAnswerPort) continue;
        if (row.dwOwningPid == self) continue;
        PortHolder h;
        h.process = ProcessName(row.dwOwningPid);
        // A process this user may not open is named like one the system did not tell.
        h.pid = h.process.empty() ? -1 : static_cast<int>(row.dwOwningPid);
        holders.push_back(h);
    }
    return holders;
}

bool ReadRoutes(std::vector<WindowsRouteRow>& out) {
    MIB_IPFORWARD_TABLE2* table = nullptr;
    if (::GetIpForwardTable2(AF_INET, &table) != NO_ERROR) return false;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& r = table->Table[i];
        WindowsRouteRow row;
        row.prefix = ntohl(r.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr);
        row.prefixLength = r.DestinationPrefix.PrefixLength;
        row.ifIndex = static_cast<std::int32_t>(r.InterfaceIndex);
        row.metric = r.Metric;
        MIB_IPINTERFACE_ROW ifRow{};
        ifRow.Family = AF_INET;
        ifRow.InterfaceIndex = r.InterfaceIndex;
        if (::GetIpInterfaceEntry(&ifRow) == NO_ERROR) row.metric += ifRow.Metric;
        out.push_back(row);
    }
    ::FreeMibTable(table);
    return true;
}

}  // namespace

std::int32_t RouteIndexFor(const std::vector<WindowsRouteRow>& rows, std::uint32_t destination) {
    const WindowsRouteRow* best = nullptr;
    for (const auto& r : rows) {
        const std::uint32_t mask = Mask(r.prefixLength);
        if ((destination & mask) != (r.prefix & mask)) continue;
        if (!best || r.prefixLength > best->prefixLength ||
            (r.prefixLength == best->prefixLength && r.metric < best->metric)) {
            best = &r;
        }
    }
    return best ? best->ifIndex : -1;
}

NetworkFacts WindowsNetworkSurvey::Gather(const std::string& adapter, std::int32_t fallbackIndex) {
    NetworkFacts f;
    f.requested = adapter;
    f.broadcastPinned = true;  // the transport sends with IP_UNICAST_IF out of the adapter
    std::vector<WindowsAdapterFacts> list;
    ReadAdapters(list);
    const WindowsAdapterFacts* chosen = Choose(list, adapter, fallbackIndex);
    f.adapterFound = chosen != nullptr;
    if (chosen) f.adapter = ToFacts(*chosen);
    for (const auto& a : list) {
        if (&a != chosen && a.ipv4 != 0 && !a.loopback) f.others.push_back(ToFacts(a));
    }

    f.portHolders = PortHolders();

    const WindowsPrivilegeReport rights = CheckPrivileges();
    f.canProbe = rights.canProbe;
    f.canFlush = rights.canFlush;
    f.echoMeans = "system's ICMP API";

    if (!chosen || chosen->ipv4 == 0) return f;

    f.firewallRead = false;
    f.reversePathRead = false;

    std::vector<WindowsRouteRow> routes;
    if (!ReadRoutes(routes)) return f;
    auto nameOf = [&list](std::int32_t index, bool& tunnel) {
        for (const auto& a : list) {
            if (a.index == index) {
                tunnel = a.tunnel;
                return a.friendlyName;
            }
        }
        tunnel = false;
        return std::string();
    };
    f.outsideRouteAdapter = nameOf(RouteIndexFor(routes, kOutsideAddress), f.defaultRouteTunnel);
    f.defaultRouteAdapter = f.outsideRouteAdapter;
    f.broadcastRouteAdapter = nameOf(RouteIndexFor(routes, 0xFFFFFFFFu), f.broadcastRouteTunnel);
    return f;
}

}  // namespace valdrune
