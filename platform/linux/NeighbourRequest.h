// rtnetlink requests about IPv4 neighbour entries, plain libc: the window lists them, the
// probe helper deletes one.
#pragma once

#include <cstdint>
#include <vector>

namespace valdrune {

// Adapter indexes on which the address (host order) has a cached, non-permanent entry.
// Entries an administrator made permanent are configuration, not cache, and are not listed.
std::vector<std::int32_t> NeighbourEntriesOf(std::uint32_t address);

// RTM_DELNEIGH for one entry; 0, or the kernel's errno (ENOENT: nothing cached, EPERM).
int DeleteNeighbour(std::int32_t ifIndex, std::uint32_t address);

}  // namespace valdrune
