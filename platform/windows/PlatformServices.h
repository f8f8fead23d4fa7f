// The Windows members of PlatformServices (see platform/Platform.h).
#pragma once

#include <memory>
#include <string>

#include "platform/UdpTransport.h"
#include "platform/qt/QtScheduler.h"
#include "platform/windows/EchoProber.h"
#include "platform/windows/HostNetwork.h"
#include "platform/windows/NeighbourCache.h"
#include "platform/windows/NetworkSurvey.h"
#include "platform/windows/ReachRoutes.h"
#include "platform/windows/Winsock.h"
#include "protocol/HostRights.h"
#include "protocol/Protocol.h"
#include "protocol/Reach.h"

namespace valdrune {

// Members are destroyed in reverse order: Windows Sockets stay started until the socket is
// closed, and the prober (which cancels its timers) goes before the scheduler.
struct PlatformServices {
    // timeScale divides every interval (1 in the shipped programs; test drivers speed up).
    // Windows needs no probe helper: the echo and the neighbour calls run in the process.
    explicit PlatformServices(int timeScale = 1, const std::string& helper = {})
        : scheduler(timeScale) {
        (void)helper;
    }

    WinsockSession winsock;
    QtScheduler scheduler;
    UdpTransport transport;
    HostNetwork host;
    WindowsEchoProber prober{scheduler};
    WindowsNeighbourCache neighbours;
    WindowsNetworkSurvey survey;  // what valdrune-cli doctor judges

    ProtocolEnvironment Environment() {
        return ProtocolEnvironment{scheduler, transport, host, prober, neighbours};
    }
};

// The rights this host asks for, as the tools name them. Echo requests need none here: when
// they cannot be sent, the IP Helper had no ICMP handle to give.
inline constexpr HostRights kHostRights{
    .flush = "administrator rights",
    .probe = "The IP Helper (iphlpapi.dll) could not open an ICMP handle on this system.",
    .reach = "administrator rights: run it in a command prompt opened with \"Run as "
             "administrator\".",
};

// No helper program on Windows; the argument exists for the Linux build's sake.
inline std::string DefaultNetProbePath() { return {}; }

// The address and route changes of valdrune-cli reach.
inline std::unique_ptr<IReachRoutes> CreateReachRoutes() {
    return std::make_unique<WindowsReachRoutes>();
}

}  // namespace valdrune
