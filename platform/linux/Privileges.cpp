#include "platform/linux/Privileges.h"

#include <unistd.h>

#include <climits>

#include "platform/linux/EchoProber.h"
#include "platform/linux/NeighbourCache.h"

namespace valdrune {
namespace {

std::string RunningExecutable() {
    char path[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("valdrune");
}

}  // namespace

PrivilegeReport BuildPrivilegeReport(bool pingSocket, bool rawSocket, bool netAdmin,
                                     const std::string& executable, unsigned groupId) {
    PrivilegeReport r;
    r.canProbe = pingSocket || rawSocket;
    r.usesPingSocket = pingSocket;
    r.canFlush = netAdmin;
    if (!r.canProbe) r.missingCapabilities = "cap_net_raw";
    if (!r.canFlush)
        r.missingCapabilities += r.missingCapabilities.empty() ? "cap_net_admin" : ",cap_net_admin";
    // setcap replaces the file's whole set, so the advice always names both: granting only the
    // missing one would take away the other one the file may already carry.
    if (!r.missingCapabilities.empty())
        r.setcapCommand = "setcap cap_net_raw,cap_net_admin+ep " + executable;
    if (!r.canProbe) {
        const std::string gid = std::to_string(groupId);
        r.pingGroupCommand = "sysctl -w net.ipv4.ping_group_range=\"" + gid + " " + gid + "\"";
    }
    return r;
}

std::string PrivilegeReport::Summary() const {
    if (Complete()) return "ICMP echo and neighbour-cache flush are available.";
    std::string text;
    if (!canProbe) text += "ICMP echo is not permitted: address-conflict probes cannot run. ";
    if (!canFlush)
        text +=
            "The neighbour cache cannot be flushed: probes may be answered from stale entries. ";
    text += "Grant with: " + setcapCommand;
    if (!pingGroupCommand.empty()) text += " (or, for echo only: " + pingGroupCommand + ")";
    return text;
}

PrivilegeReport CheckPrivileges(const std::string& executable) {
    const EchoSocketKind kind = AvailableEchoSocket();
    return BuildPrivilegeReport(
        kind == EchoSocketKind::Ping, kind == EchoSocketKind::Raw, HasNetAdminCapability(),
        executable.empty() ? RunningExecutable() : executable, static_cast<unsigned>(::getgid()));
}

}  // namespace valdrune
