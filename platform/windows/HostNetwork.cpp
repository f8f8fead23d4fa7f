#include "platform/windows/HostNetwork.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/windows/CodePage.h"
#include "protocol/Record.h"

namespace valdrune {
namespace {

std::uint32_t Ipv4Of(const SOCKADDR* address) {
    if (address == nullptr || address->sa_family != AF_INET) return 0;
    sockaddr_in in{};
    std::memcpy(&in, address, sizeof in);
    return ntohl(in.sin_addr.s_addr);
}

}  // namespace

std::string FormatAdapterDescription(const WindowsAdapterFacts& a) {
    std::string text = a.friendlyName.empty() ? std::to_string(a.index) : a.friendlyName;
    std::string details = a.loopback ? std::string("loopback") : a.description;
    const auto& mac = a.hwAddress;
    if (mac.size() == 6 &&
        std::any_of(mac.begin(), mac.end(), [](std::uint8_t b) { return b != 0; })) {
        char macText[18];
        std::snprintf(macText, sizeof macText, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1],
                      mac[2], mac[3], mac[4], mac[5]);
        details += details.empty() ? macText : std::string(", ") + macText;
    }
    if (!a.up) details += details.empty() ? "down" : ", down";
    if (!details.empty()) text += " (" + details + ")";
    return text;
}

std::vector<HostAdapter> ToHostAdapters(std::vector<WindowsAdapterFacts> adapters) {
    std::stable_partition(adapters.begin(), adapters.end(),
                          [](const WindowsAdapterFacts& a) { return !a.loopback; });
    std::vector<HostAdapter> result;
    for (const auto& a : adapters) {
        HostAdapter h;
        h.ipv4Text = Ipv4Text(a.ipv4);
        if (a.gateway != 0) h.gatewayText = Ipv4Text(a.gateway);
        h.index = a.index;
        h.description = FormatAdapterDescription(a);
        result.push_back(std::move(h));
    }
    return result;
}

std::uint32_t OwnAddress(const std::vector<WindowsAdapterFacts>& adapters) {
    for (const auto& a : adapters) {
        if (!a.loopback && a.up && a.ipv4 != 0) return a.ipv4;
    }
    return 0;
}

bool IsTunnelIfType(unsigned long ifType) {
    return ifType == IF_TYPE_TUNNEL || ifType == IF_TYPE_PPP || ifType == IF_TYPE_PROP_VIRTUAL;
}

bool ReadAdapters(std::vector<WindowsAdapterFacts>& out) {
    const ULONG flags = GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST |
                        GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list can grow between the size query and the read: a few rounds.
    std::vector<std::uint8_t> buffer(16 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int round = 0; round < 4 && rc == ERROR_BUFFER_OVERFLOW; ++round) {
        buffer.resize(size);
        rc = ::GetAdaptersAddresses(AF_INET, flags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (rc == ERROR_NO_DATA) return true;  // no adapter at all
    if (rc != NO_ERROR) return false;
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
         a = a->Next) {
        WindowsAdapterFacts f;
        f.index = static_cast<std::int32_t>(a->IfIndex);
        f.friendlyName = WideToUtf8(a->FriendlyName);
        f.description = WideToUtf8(a->Description);
        f.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
        f.up = a->OperStatus == IfOperStatusUp;
        f.tunnel = IsTunnelIfType(a->IfType);
        f.wireless = a->IfType == IF_TYPE_IEEE80211;
        f.metric = a->Ipv4Metric;
        const ULONG length = std::min<ULONG>(a->PhysicalAddressLength, MAX_ADAPTER_ADDRESS_LENGTH);
        f.hwAddress.assign(a->PhysicalAddress, a->PhysicalAddress + length);
        for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
            const std::uint32_t address = Ipv4Of(u->Address.lpSockaddr);
            if (address == 0) continue;
            if (f.ipv4 == 0) {
                f.ipv4 = address;
                f.prefixLength = u->OnLinkPrefixLength;
            }
            f.addresses.push_back(address);
        }
        for (auto* g = a->FirstGatewayAddress; g != nullptr && f.gateway == 0; g = g->Next)
            f.gateway = Ipv4Of(g->Address.lpSockaddr);
        out.push_back(std::move(f));
    }
    return true;
}

std::int32_t AdapterOfAddress(std::uint32_t networkOrderAddress) {
    std::vector<WindowsAdapterFacts> adapters;
    if (!ReadAdapters(adapters)) return -1;
    const std::uint32_t wanted = ntohl(networkOrderAddress);
    for (const auto& a : adapters) {
        if (std::find(a.addresses.begin(), a.addresses.end(), wanted) != a.addresses.end())
            return a.index;
    }
    return -1;
}

std::vector<HostAdapter> HostNetwork::Adapters() {
    std::vector<WindowsAdapterFacts> adapters;
    if (!ReadAdapters(adapters)) return {};
    return ToHostAdapters(std::move(adapters));
}

bool HostNetwork::InterfaceRows(std::vector<HostInterfaceRow>& rows) {
    MIB_IF_TABLE2* table = nullptr;
    if (::GetIfTable2(&table) != NO_ERROR || table == nullptr) return false;
    rows.clear();
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2& r = table->Table[i];
        HostInterfaceRow row;
        row.index = static_cast<std::int32_t>(r.InterfaceIndex);
        const ULONG length = std::min<ULONG>(r.PhysicalAddressLength, IF_MAX_PHYS_ADDRESS_LENGTH);
        row.physicalAddress.assign(r.PhysicalAddress, r.PhysicalAddress + length);
        rows.push_back(std::move(row));
    }
    ::FreeMibTable(table);
    std::sort(rows.begin(), rows.end(),
              [](const HostInterfaceRow& a, const HostInterfaceRow& b) { return a.index < b.index; });
    return true;
}

// The host's own name is never sent to a name server: on a camera network without one the
// query would hold up the start. The resolver answers it from the adapters anyway.
std::uint32_t HostNetwork::HostNameAddress() {
    std::vector<WindowsAdapterFacts> adapters;
    if (!ReadAdapters(adapters)) return 0;
    return OwnAddress(adapters);
}

}  // namespace valdrune
