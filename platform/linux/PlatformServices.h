// The Linux members of PlatformServices (see platform/Platform.h).
#pragma once

#include <memory>
#include <string>

#include "platform/UdpTransport.h"
#include "platform/linux/EchoProber.h"
#include "platform/linux/HostNetwork.h"
#include "platform/linux/NeighbourCache.h"
#include "platform/linux/NetworkSurvey.h"
#include "platform/linux/Privileges.h"
#include "platform/linux/ReachRoutes.h"
#include "platform/qt/QtScheduler.h"
#include "protocol/HostRights.h"
#include "protocol/Protocol.h"

namespace valdrune {

// Members are destroyed in reverse order: the prober and the neighbour cache (which cancel
// their timers and end any probe helper still running) go before the scheduler. Destroy any
// CProtocol built on Environment() before this.
struct PlatformServices {
    // timeScale divides every interval (1 in the shipped programs; test drivers speed up).
    // helper: the probe helper (valdrune-netprobe) the prober and the neighbour cache start.
    explicit PlatformServices(int timeScale = 1, const std::string& helper = DefaultNetProbePath())
        : scheduler(timeScale), prober(scheduler, helper), neighbours(scheduler, helper),
          survey(helper) {}

    QtScheduler scheduler;
    UdpTransport transport;
    HostNetwork host;
    LinuxEchoProber prober;
    LinuxNeighbourCache neighbours;
    LinuxNetworkSurvey survey;     // what valdrune-cli doctor judges

    ProtocolEnvironment Environment() {
        return ProtocolEnvironment{scheduler, transport, host, prober, neighbours};
    }
};

// The rights this host asks for, as the tools name them.
inline constexpr HostRights kHostRights{
    .flush = "CAP_NET_ADMIN",
    .probe = "Run as root or grant CAP_NET_RAW.",
    .reach = "root: run it with sudo. The tool holds no capabilities of its own.",
};

// The address and route changes of valdrune-cli reach; null where the host has none.
inline std::unique_ptr<IReachRoutes> CreateReachRoutes() {
    return std::make_unique<LinuxReachRoutes>();
}

}  // namespace valdrune
