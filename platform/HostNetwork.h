// The host's adapters as the engine asks for them. platform/linux/ or platform/windows/
// implements it, whichever CMake builds for the target; their HostNetwork.h add what each
// system's implementation is made of.
#pragma once

#include <cstdint>
#include <vector>

#include "protocol/Seams.h"

namespace valdrune {

class HostNetwork final : public IHostNetwork {
  public:
    std::vector<HostAdapter> Adapters() override;
    bool InterfaceRows(std::vector<HostInterfaceRow>& rows) override;
    std::uint32_t HostNameAddress() override;
};

}  // namespace valdrune
