// Browsers as Windows has them: the executables at their fixed install paths, then where the
// App Paths keys (current user first, as the shell looks) say; the Edge version from its
// per-user beacon, else from the file version of msedge.exe; the default browser from the
// .html association, else the http one; programs started with CreateProcessW and an exactly
// quoted command line, URLs handed to the shell.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "browser/core/BrowserSeams.h"

namespace valdrune {

// Where each browser may live: the fixed paths first, then the given App Paths values,
// leaving out paths already listed.
BrowserCandidates WindowsCandidates(const std::vector<std::string>& edge,
                                    const std::vector<std::string>& chrome,
                                    const std::vector<std::string>& firefox,
                                    const std::vector<std::string>& ie);

// The App Paths entries of an executable name ("chrome.exe"): current user, then machine.
std::vector<std::string> RegisteredAppPaths(const std::wstring& exeName);

// "a.b.c.d" from an executable's version resource, or nothing.
std::optional<std::string> FileVersionText(const std::string& path);

// Windows 11 and later (major 10 or more, build 22000 or more), from RtlGetVersion.
bool IsWindows11OrLater();

class WindowsBrowserEnvironment final : public IBrowserEnvironment {
  public:
    BrowserCandidates CandidatePaths() const override;
    bool FileExists(const std::string& path) const override;
    EdgeVersionValue ReadEdgeVersion() const override;
    std::string ReadDefaultBrowserProgId() const override;
    LaunchResult Launch(const std::string& executable,
                        const std::vector<std::string>& args) override;
    LaunchResult OpenDefault(const std::string& url) override;
    bool HasTrustedSiteZones() const override { return IsWindows11OrLater(); }
    std::string StartupDirectory() const override;
    char PathSeparator() const override { return '\\'; }
    LocalDateTime LocalNow() const override;
};

}  // namespace valdrune
