// The temporary address and host route of valdrune-cli reach, over rtnetlink; the record of
// them in $XDG_RUNTIME_DIR/valdrune (when it is this user's own) or /run/valdrune.
#pragma once

#include "protocol/Reach.h"

namespace valdrune {

class LinuxReachRoutes final : public IReachRoutes {
  public:
    std::string Unsupported() override { return {}; }
    bool Permitted() override;
    std::string StatePlace() override;
    std::uint64_t Namespace() override;
    std::vector<Ipv4Network> Networks() override;
    ReachAdd Add(const ReachEntry& entry, std::string& error) override;
    bool Remove(const ReachEntry& entry, std::string& error) override;
    bool UpdateState(const std::function<std::string(const std::string&)>& change) override;
    bool Alive(int pid) override;
    bool InUse(std::int32_t ifIndex, const MacAddress& ownMac, std::uint32_t address) override;
};

}  // namespace valdrune
