// Drops cached hardware addresses through the IP Helper (GetIpNetTable2, DeleteIpNetEntry),
// never through the "arp" command. Needs an elevated token.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/Seams.h"

namespace valdrune {

// One row of the IPv4 neighbour table, in plain types.
struct NeighbourRow {
    std::int32_t ifIndex = -1;
    std::uint32_t address = 0;  // host order
    bool permanent = false;     // NlnsPermanent: configuration, not cache
};

// The rows that a flush of `address` removes: every non-permanent entry for it, on any
// adapter.
std::vector<NeighbourRow> RowsToFlush(const std::vector<NeighbourRow>& table,
                                      std::uint32_t address);

class WindowsNeighbourCache final : public INeighbourCache {
  public:
    void Flush(std::uint32_t address) override;
    bool CanFlush() const override;

    // The IPv4 neighbour table now; empty when it cannot be read.
    static std::vector<NeighbourRow> Table();
};

}  // namespace valdrune
