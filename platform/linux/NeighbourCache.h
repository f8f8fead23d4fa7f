// Drops cached hardware addresses: the entries are found through rtnetlink here, and each is
// deleted by one run of the probe helper, which alone may hold CAP_NET_ADMIN.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/NetProbe.h"
#include "protocol/Seams.h"

namespace valdrune {

class LinuxNeighbourCache final : public INeighbourCache {
  public:
    explicit LinuxNeighbourCache(IScheduler& scheduler,
                                 std::string helperPath = DefaultNetProbePath());

    // Finds every adapter on which the address is cached and has those entries deleted,
    // without waiting for it. Entries an administrator made permanent stay.
    void Flush(std::uint32_t address) override;
    bool CanFlush() const override;

    // Adapter indexes on which the address (host order) has a cached, non-permanent entry.
    static std::vector<std::int32_t> CachedOn(std::uint32_t address);

    std::size_t Running() const { return helper_.Running(); }

  private:
    NetProbeRunner helper_;
};

}  // namespace valdrune
