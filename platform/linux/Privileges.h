// What the tools may do on the network beyond UDP, and how to grant what is missing. The tools
// themselves never hold capabilities: echo uses a ping socket or the probe helper, the
// neighbour cache only the helper, so every grant names the helper's file.
#pragma once

#include <string>

#include "platform/linux/NetProbe.h"

namespace valdrune {

struct PrivilegeReport {
    bool canProbe = false;        // a ping socket opens, or the helper may hold CAP_NET_RAW
    bool usesPingSocket = false;  // ... and it is the ping socket
    bool canFlush = false;        // the helper may hold CAP_NET_ADMIN for the neighbour cache
    // Empty when nothing is missing; otherwise "cap_net_raw", "cap_net_admin" or both, comma
    // separated, as setcap spells them.
    std::string missingCapabilities;
    std::string helper;  // the probe helper's file, the one any grant names
    // Ready-made commands for an administrator; empty when not needed.
    std::string setcapCommand;     // setcap cap_net_raw,cap_net_admin+p <helper>
    std::string pingGroupCommand;  // sysctl -w net.ipv4.ping_group_range="<gid> <gid>"

    bool Complete() const { return canProbe && canFlush; }
};

// helper: the probe helper to check and to name in the setcap command.
PrivilegeReport CheckPrivileges(const std::string& helper = DefaultNetProbePath());

// The report as a function of its inputs, so the advice can be checked without privileges.
PrivilegeReport BuildPrivilegeReport(bool pingSocket, bool helperRaw, bool helperAdmin,
                                     const std::string& helper, unsigned groupId);

}  // namespace valdrune
