// The host's adapters on Windows: GetAdaptersAddresses for addresses, gateways, names and
// state, GetIfTable2 for the hardware addresses. No name resolution anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/HostNetwork.h"
#include "protocol/Seams.h"

namespace valdrune {

// What the IP Helper reports about one adapter, already in plain types.
struct WindowsAdapterFacts {
    std::int32_t index = -1;
    std::string friendlyName;  // UTF-8, e.g. "Ethernet 2"
    std::string description;   // UTF-8, the driver's text
    bool loopback = false;
    bool up = true;
    std::vector<std::uint8_t> hwAddress;
    std::uint32_t ipv4 = 0;     // host order, first unicast address; 0 when none
    int prefixLength = 0;       // of that address
    bool tunnel = false;        // IfTunnelType: a tunnel, PPP or virtual (VPN) adapter
    bool wireless = false;      // IEEE 802.11
    unsigned long metric = 0;   // the adapter's IPv4 metric, added to each route's own
    std::vector<std::uint32_t> addresses;  // every IPv4 unicast address, host order
    std::uint32_t gateway = 0;  // host order, first IPv4 gateway; 0 when none
};

// "Ethernet 2 (Intel(R) Ethernet Connection, 52:54:00:12:34:56)"; ", down" is added for an
// adapter that is not up. The part before " (" is what a user types to select it.
std::string FormatAdapterDescription(const WindowsAdapterFacts& adapter);

// Whether an adapter of this IfType (IP Helper) is a tunnel, point-to-point or virtual link,
// as VPN clients install them.
bool IsTunnelIfType(unsigned long ifType);

// The adapters in the order the system reports them, loopback ones last.
std::vector<HostAdapter> ToHostAdapters(std::vector<WindowsAdapterFacts> adapters);

// First IPv4 address of an up, non-loopback adapter (host order); what the resolver answers
// for the host's own name. 0 when there is none.
std::uint32_t OwnAddress(const std::vector<WindowsAdapterFacts>& adapters);

// Every adapter from GetAdaptersAddresses; false when it fails.
bool ReadAdapters(std::vector<WindowsAdapterFacts>& out);

// Index of the adapter that holds this address (network order), -1 when none does.
std::int32_t AdapterOfAddress(std::uint32_t networkOrderAddress);

}  // namespace valdrune
