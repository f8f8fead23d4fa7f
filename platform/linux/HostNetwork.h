// The host's adapters on Linux: getifaddrs for addresses and hardware addresses, the routing
// table for gateways, /sys/class/net and ethtool for what kind of adapter each one is.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/HostNetwork.h"
#include "protocol/Seams.h"

namespace valdrune {

enum class AdapterKind { Wired, Wireless, Virtual, Loopback };

struct AdapterTraits {
    AdapterKind kind = AdapterKind::Wired;
    std::string driver;                   // empty when unknown
    std::vector<std::uint8_t> hwAddress;  // shown only when 6 bytes and not all zero
    bool up = true;
};

// "eth0 (wired, e1000e, 52:54:00:12:34:56)", "wlan0 (wireless, iwlwifi, ...)",
// "veth-pc (virtual, veth, ...)", "lo (loopback)"; ", down" is added for an adapter that is
// not up, so a person can tell the entries apart.
std::string FormatAdapterDescription(const std::string& name, const AdapterTraits& traits);

// The text of /proc/net/route: per interface, the gateway (host order) of its first default
// route. Lines that do not parse are skipped.
std::map<std::string, std::uint32_t> ParseDefaultGateways(std::string_view routeTable);

// The first IPv4 address that a hosts file (the text of /etc/hosts) gives for name, compared
// without case; 0 when it has none. Comments and malformed lines are skipped.
std::uint32_t HostsFileAddress(std::string_view hostsText, std::string_view name);

struct AdapterEntry {
    std::string name;
    std::int32_t index = -1;
    bool loopback = false;
    std::uint32_t ipv4 = 0;  // host order, first address; 0 when none
    std::string description;
};
// Orders adapters by index with loopback ones last.
void OrderAdapters(std::vector<AdapterEntry>& adapters);

}  // namespace valdrune
