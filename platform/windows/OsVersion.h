// The Windows version as the kernel reports it. GetVersionEx answers what the manifest claims
// compatibility with; RtlGetVersion of ntdll does not.
#pragma once

#include <optional>

namespace valdrune {

struct OsVersion {
    unsigned long major = 0;
    unsigned long minor = 0;
    unsigned long build = 0;
};

// From RtlGetVersion of the ntdll.dll in the system directory; empty when it cannot be called.
std::optional<OsVersion> ReadOsVersion();

// Windows 11 and later: major version 10 or more and build 22000 or more (Windows 11 still
// reports 10).
bool IsWindows11OrLater(const OsVersion& version);

}  // namespace valdrune
