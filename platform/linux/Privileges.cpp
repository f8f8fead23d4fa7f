#include "platform/linux/Privileges.h"

#include <linux/capability.h>
#include <unistd.h>

#include "platform/linux/EchoProber.h"

namespace valdrune {

PrivilegeReport BuildPrivilegeReport(bool pingSocket, bool helperRaw, bool helperAdmin,
                                     const std::string& helper, unsigned groupId) {
    PrivilegeReport r;
    r.canProbe = pingSocket || helperRaw;
    r.usesPingSocket = pingSocket;
    r.canFlush = helperAdmin;
    r.helper = helper;
    if (!r.canProbe) r.missingCapabilities = "cap_net_raw";
    if (!r.canFlush)
        r.missingCapabilities += r.missingCapabilities.empty() ? "cap_net_admin" : ",cap_net_admin";
    // setcap replaces the file's whole set, so the advice always names both: granting only the
    // missing one would take away the other one the file may already carry. Permitted only:
    // the helper raises the one its run needs.
    if (!r.missingCapabilities.empty())
        r.setcapCommand = "setcap cap_net_raw,cap_net_admin+p " + helper;
    if (!r.canProbe) {
        const std::string gid = std::to_string(groupId);
        r.pingGroupCommand = "sysctl -w net.ipv4.ping_group_range=\"" + gid + " " + gid + "\"";
    }
    return r;
}

PrivilegeReport CheckPrivileges(const std::string& helper) {
    const EchoSocketKind kind = AvailableEchoSocket(helper);
    return BuildPrivilegeReport(kind == EchoSocketKind::Ping, kind == EchoSocketKind::Raw,
                                NetProbeMayHold(helper, CAP_NET_ADMIN), helper,
                                static_cast<unsigned>(::getgid()));
}

}  // namespace valdrune
