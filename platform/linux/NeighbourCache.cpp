#include "platform/linux/NeighbourCache.h"

#include <linux/capability.h>

#include "platform/linux/NeighbourRequest.h"

namespace valdrune {
namespace {

// The helper answers at once; this only bounds one that hangs.
constexpr Milliseconds kFlushLimit{2000};

}  // namespace

LinuxNeighbourCache::LinuxNeighbourCache(IScheduler& scheduler, std::string helperPath)
    : helper_(scheduler, std::move(helperPath)) {}

bool LinuxNeighbourCache::CanFlush() const {
    return NetProbeMayHold(helper_.Path(), CAP_NET_ADMIN);
}

std::vector<std::int32_t> LinuxNeighbourCache::CachedOn(std::uint32_t address) {
    return NeighbourEntriesOf(address);
}

void LinuxNeighbourCache::Flush(std::uint32_t address) {
    if (!CanFlush()) return;
    for (const std::int32_t ifIndex : CachedOn(address))
        helper_.Run(NetProbeOperation::Flush, address, ifIndex, kFlushLimit, nullptr);
}

}  // namespace valdrune
