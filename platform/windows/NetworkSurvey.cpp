#include "platform/windows/NetworkSurvey.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/UdpSocket.h"
#include "platform/windows/CodePage.h"
#include "platform/windows/Firewall.h"
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

// The IP Helper reports a missing link as "not up"; an up adapter has its medium. Down for
// the doctor is an adapter switched off.
AdapterFacts ToFacts(const WindowsAdapterFacts& a, bool disabled) {
    AdapterFacts f;
    f.name = a.friendlyName;
    f.ipv4 = a.ipv4;
    f.prefixLength = a.prefixLength;
    f.up = a.up || !disabled;
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

// The adapter's metric comes from the adapter list: GetIpInterfaceEntry, the usual source,
// crashes under Wine.
bool ReadRoutes(const std::vector<WindowsAdapterFacts>& adapters, std::vector<WindowsRouteRow>& out) {
    MIB_IPFORWARD_TABLE2* table = nullptr;
    if (::GetIpForwardTable2(AF_INET, &table) != NO_ERROR) return false;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& r = table->Table[i];
        WindowsRouteRow row;
        row.prefix = ntohl(r.DestinationPrefix.Prefix.Ipv4.sin_addr.s_addr);
        row.prefixLength = r.DestinationPrefix.PrefixLength;
        row.ifIndex = static_cast<std::int32_t>(r.InterfaceIndex);
        row.metric = r.Metric;
        for (const auto& a : adapters) {
            if (a.index == row.ifIndex) row.metric += a.metric;
        }
        out.push_back(row);
    }
    ::FreeMibTable(table);
    return true;
}

// Adapters switched off (administratively down), by index; one missing here counts as on.
std::vector<std::int32_t> DisabledAdapters() {
    std::vector<std::int32_t> disabled;
    MIB_IF_TABLE2* table = nullptr;
    if (::GetIfTable2(&table) != NO_ERROR || table == nullptr) return disabled;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        if (table->Table[i].AdminStatus == NET_IF_ADMIN_STATUS_DOWN)
            disabled.push_back(static_cast<std::int32_t>(table->Table[i].InterfaceIndex));
    }
    ::FreeMibTable(table);
    return disabled;
}

std::string ProgramPath() {
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return n > 0 && n < MAX_PATH * 2 ? WideToUtf8(path) : std::string();
}

// Sends a broadcast to port 10669 out of the adapter and waits briefly for the looped copy.
// Here the copy of one's own broadcast is not filtered as a device's answer is, so only a
// lost copy says something.
LoopOutcome LoopTest(const WindowsAdapterFacts& a, std::string& target, std::string& whyNot) {
    target = "255.255.255.255:10669 via " + a.friendlyName;
    UdpSocket socket;
    if (!socket.Open(kAnswerPort, a.index, a.index)) {
        whyNot = "the looped test could not bind UDP 10669 (error " +
                 std::to_string(::WSAGetLastError()) + ")";
        return LoopOutcome::NotRun;
    }
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const std::string token = "valdrune doctor " + std::to_string(::GetCurrentProcessId()) + " " +
                              std::to_string(now.QuadPart);
    if (socket.Broadcast(reinterpret_cast<const std::uint8_t*>(token.data()), token.size(),
                         kAnswerPort, a.index, htonl(a.ipv4)) < 0) {
        whyNot = "the looped test could not send (error " + std::to_string(::WSAGetLastError()) +
                 ")";
        return LoopOutcome::NotRun;
    }
    const ULONGLONG deadline = ::GetTickCount64() + 500;
    for (ULONGLONG left = 500; left > 0;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(static_cast<SOCKET>(socket.Handle()), &readable);
        timeval wait{0, static_cast<long>(left * 1000)};
        if (::select(0, &readable, nullptr, nullptr, &wait) <= 0) break;
        std::uint8_t buffer[128];
        std::size_t count = 0;
        std::int32_t arrival = -1;
        while (socket.Receive(buffer, sizeof buffer, count, arrival) != UdpSocket::Read::Empty) {
            if (count == token.size() && std::memcmp(buffer, token.data(), count) == 0)
                return LoopOutcome::Arrived;
        }
        const ULONGLONG t = ::GetTickCount64();
        left = t < deadline ? deadline - t : 0;
    }
    return LoopOutcome::Lost;
}

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

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
    f.asAdministrator = "as administrator";
    f.rulesName = "firewall rules";
    std::vector<WindowsAdapterFacts> list;
    ReadAdapters(list);
    const auto disabled = DisabledAdapters();
    const auto isDisabled = [&disabled](const WindowsAdapterFacts& a) {
        return std::find(disabled.begin(), disabled.end(), a.index) != disabled.end();
    };
    const WindowsAdapterFacts* chosen = Choose(list, adapter, fallbackIndex);
    f.adapterFound = chosen != nullptr;
    if (chosen) {
        f.adapter = ToFacts(*chosen, isDisabled(*chosen));
        const std::string name = Quoted(chosen->friendlyName);
        f.adapterUpCommand = "netsh interface set interface name=" + name + " admin=enabled";
        f.addressCommand =
            "netsh interface ipv4 set address name=" + name + " static ADDRESS 255.255.255.0";
    }
    for (const auto& a : list) {
        if (&a != chosen && a.ipv4 != 0 && !a.loopback) f.others.push_back(ToFacts(a, isDisabled(a)));
    }

    f.portHolders = PortHolders();

    const WindowsPrivilegeReport rights = CheckPrivileges();
    f.canProbe = rights.canProbe;
    f.canFlush = rights.canFlush;
    f.echoMeans = "system's ICMP API";

    if (!chosen || chosen->ipv4 == 0) return f;

    FirewallFacts firewall;
    const std::string program = ProgramPath();
    std::string whyNot;
    if (ReadFirewall(firewall, whyNot)) {
        const FirewallTarget target{
            program, chosen->friendlyName,
            chosen->tunnel ? "RemoteAccess" : chosen->wireless ? "Wireless" : "Lan"};
        f.TakeRules(JudgeFirewall(firewall, target));
    } else {
        f.untestedReason = whyNot;
    }
    std::string loopWhyNot;
    if (chosen->up) {
        // An arrived copy proves nothing here; it is left out of the judgement.
        if (LoopTest(*chosen, f.loopTarget, loopWhyNot) == LoopOutcome::Lost)
            f.loop = LoopOutcome::Lost;
        else if (loopWhyNot.empty())
            loopWhyNot = "a looped broadcast arrived, which proves nothing here";
    }
    if (f.rules == RuleOutcome::Unread && !loopWhyNot.empty())
        f.untestedReason += (f.untestedReason.empty() ? "" : "; ") + loopWhyNot;
    if (f.loop == LoopOutcome::Lost && f.ruleFixCommand.empty())
        f.ruleFixCommand = FirewallRuleCommand(program);

    f.reversePathRead = false;

    std::vector<WindowsRouteRow> routes;
    if (!ReadRoutes(list, routes)) return f;
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
