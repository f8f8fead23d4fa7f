// Drops cached hardware addresses through rtnetlink (RTM_DELNEIGH), never through a command.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/Seams.h"

namespace valdrune {

// True when the effective capabilities include CAP_NET_ADMIN.
bool HasNetAdminCapability();

class LinuxNeighbourCache final : public INeighbourCache {
  public:
    // Finds every adapter on which the address is cached and deletes those entries. Entries an
    // administrator made permanent are configuration, not cache, and stay.
    void Flush(std::uint32_t address) override;
    bool CanFlush() const override { return HasNetAdminCapability(); }

    // Adapter indexes on which the address (host order) has a cached, non-permanent entry.
    static std::vector<std::int32_t> CachedOn(std::uint32_t address);
};

}  // namespace valdrune
