// What this process may do on the network beyond UDP, and how to grant what is missing.
#pragma once

#include <string>

namespace valdrune {

struct PrivilegeReport {
    bool canProbe = false;        // some ICMP echo socket can be opened
    bool usesPingSocket = false;  // ... and it is the unprivileged kind
    bool canFlush = false;        // CAP_NET_ADMIN for the neighbour cache
    // Empty when nothing is missing; otherwise "cap_net_raw", "cap_net_admin" or both, comma
    // separated, as setcap spells them.
    std::string missingCapabilities;
    // Ready-made commands for an administrator; empty when not needed.
    std::string setcapCommand;     // setcap cap_net_raw,cap_net_admin+ep <executable>
    std::string pingGroupCommand;  // sysctl -w net.ipv4.ping_group_range="<gid> <gid>"

    bool Complete() const { return canProbe && canFlush; }
    // One English paragraph for the command-line tool and logs.
    std::string Summary() const;
};

// executable: the path to name in the setcap command (the running binary when empty).
PrivilegeReport CheckPrivileges(const std::string& executable = {});

// The report as a function of its inputs, so the advice can be checked without privileges.
PrivilegeReport BuildPrivilegeReport(bool pingSocket, bool rawSocket, bool netAdmin,
                                     const std::string& executable, unsigned groupId);

}  // namespace valdrune
