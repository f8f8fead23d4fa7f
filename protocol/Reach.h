// Reaching a device whose address lies outside every adapter's subnet without changing the
// device: a temporary address of the adapter in the device's own subnet (held as /32, so no
// other traffic moves) and a host route to the device from it. The decisions and the record
// of what was changed are here; the changes themselves go through IReachRoutes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Record.h"

namespace valdrune {

struct Ipv4Network {
    std::uint32_t address = 0;  // host order
    int prefixLength = 0;
};

// True when address lies in one of the networks.
bool InsideAny(std::uint32_t address, const std::vector<Ipv4Network>& networks);

// Addresses to borrow in the device's subnet, best first: the highest hosts of the subnet its
// mask gives (a /24 when the mask is missing, not contiguous or leaves no room), never the
// device's own, the network or the broadcast address. At most `count`.
std::vector<std::uint32_t> BorrowCandidates(std::uint32_t device, std::uint32_t deviceMask,
                                            std::size_t count = 5);

// One change made for a device; kept in a state file until it is undone.
struct ReachEntry {
    std::uint64_t netns = 0;  // the network namespace it was made in
    std::int32_t ifIndex = 0;
    std::uint32_t source = 0;  // the borrowed address
    std::uint32_t device = 0;  // the host route's destination
    int pid = 0;               // the run that made it
};

std::string FormatReachEntries(const std::vector<ReachEntry>& entries);
// Malformed lines are skipped.
std::vector<ReachEntry> ParseReachEntries(std::string_view text);

// What Add did: the change is in place; the system found the address taken while adding it;
// it failed; or it failed and could not undo all of what it had done (Partial, the only
// failure that leaves something behind: its record has to stay for a later run).
enum class ReachAdd { Added, InUse, Failed, Partial };

class IReachRoutes {
  public:
    virtual ~IReachRoutes() = default;
    // Empty when this system can make the changes at all; else why it cannot.
    virtual std::string Unsupported() = 0;
    // May change addresses and routes; the right it asks for is worded by HostRights::reach.
    virtual bool Permitted() = 0;
    // Where UpdateState keeps the record, for the message when it has no safe place.
    virtual std::string StatePlace() = 0;
    virtual std::uint64_t Namespace() = 0;
    virtual std::vector<Ipv4Network> Networks() = 0;  // every adapter's IPv4 networks
    // Both with a reason on failure.
    virtual ReachAdd Add(const ReachEntry& entry, std::string& error) = 0;
    virtual bool Remove(const ReachEntry& entry, std::string& error) = 0;
    // Replaces the state file's text ("" when there is none) by change(text), locked against
    // other runs. False when there is no safe place for it.
    virtual bool UpdateState(const std::function<std::string(const std::string&)>& change) = 0;
    virtual bool Alive(int pid) = 0;
    // Whether some host on the adapter's link answers for `address` (an address-resolution
    // probe, which needs no route to it).
    virtual bool InUse(std::int32_t ifIndex, const MacAddress& ownMac, std::uint32_t address) = 0;
};

}  // namespace valdrune
