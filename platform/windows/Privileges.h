// What this process may do on the network on Windows. UDP, the adapter list and ICMP echo
// (IcmpSendEcho2) need no rights; removing a neighbour-cache entry (DeleteIpNetEntry) needs
// an elevated administrator token.
#pragma once

#include <string>

namespace valdrune {

struct WindowsPrivilegeReport {
    bool elevated = false;
    bool canProbe = false;  // an ICMP handle can be opened
    bool canFlush = false;  // = elevated

    bool Complete() const { return canProbe && canFlush; }
};

// True when the process token is elevated (TokenElevation).
bool IsElevated();

WindowsPrivilegeReport CheckPrivileges();

}  // namespace valdrune
