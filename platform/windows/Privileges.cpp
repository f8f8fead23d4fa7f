#include "platform/windows/Privileges.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <windows.h>

namespace valdrune {

bool IsElevated() {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool ok = ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation,
                                          &size) != 0;
    ::CloseHandle(token);
    return ok && elevation.TokenIsElevated != 0;
}

WindowsPrivilegeReport CheckPrivileges() {
    WindowsPrivilegeReport r;
    r.elevated = IsElevated();
    r.canFlush = r.elevated;
    const HANDLE icmp = ::IcmpCreateFile();
    r.canProbe = icmp != INVALID_HANDLE_VALUE;
    if (r.canProbe) ::IcmpCloseHandle(icmp);
    return r;
}

}  // namespace valdrune
