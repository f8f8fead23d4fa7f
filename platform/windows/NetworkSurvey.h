// The facts behind "valdrune-cli doctor" on Windows: GetAdaptersAddresses and GetIfTable2 for
// the adapters, GetExtendedUdpTable with the owning process for the port, the firewall's
// policy (Firewall.h) and a looped broadcast for the firewall, GetIpForwardTable2 for the
// routes, the process token for the rights. Windows has no reverse-path filter setting to
// read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/NetworkDoctor.h"

namespace valdrune {

struct WindowsRouteRow {
    std::uint32_t prefix = 0;  // host order
    int prefixLength = 0;
    std::int32_t ifIndex = -1;
    unsigned long metric = 0;  // route metric plus the adapter's metric
};

// The adapter a datagram to `destination` leaves through: the longest matching prefix, then
// the lowest metric; -1 when no route matches.
std::int32_t RouteIndexFor(const std::vector<WindowsRouteRow>& rows, std::uint32_t destination);

class WindowsNetworkSurvey final : public INetworkSurvey {
  public:
    NetworkFacts Gather(const std::string& adapter, std::int32_t fallbackIndex) override;
};

}  // namespace valdrune
