// The facts behind "valdrune-cli doctor" on Windows: GetAdaptersAddresses for the adapters,
// GetExtendedUdpTable with the owning process for the port, GetIpForwardTable2 for the routes,
// the process token for the rights. The firewall and reverse-path filtering are reported as
// not checked: nothing here reads them yet.
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
