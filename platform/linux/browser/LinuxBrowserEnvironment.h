// Browsers as a Linux desktop has them: executables at their usual paths, the Edge version from
// the "Last Version" file of its profile directory, the default browser from mimeapps.list,
// programs started directly with an argument list (never through a shell) and URLs handed to
// xdg-open.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "browser/core/BrowserSeams.h"

namespace valdrune {

struct LinuxBrowserPaths {
    BrowserCandidates candidates;
    std::string edgeProfileDir;              // holds "Last Version"
    std::vector<std::string> mimeappsFiles;  // most important first
    std::string startupDir;
    std::string opener = "xdg-open";
    bool trustedZones = false;

    // The usual locations of this user's desktop: executables at their usual paths (Linux has
    // no Internet Explorer), the Edge profile and mimeapps.list files after the XDG base
    // directories (HOME, XDG_CONFIG_HOME, XDG_CONFIG_DIRS, XDG_DATA_HOME, XDG_DATA_DIRS), the
    // site list in the start-up (current) directory.
    static LinuxBrowserPaths FromEnvironment();
};

// The identifier the default-browser table expects for a desktop entry name such as
// "firefox-esr.desktop"; unknown entries are returned unchanged.
std::string ProgIdForDesktopEntry(const std::string& desktopId);

// The first handler of text/html (else x-scheme-handler/http) in the [Default Applications]
// group of a mimeapps.list text, or empty.
std::string DefaultHtmlHandler(const std::string& mimeappsText);

class LinuxBrowserEnvironment final : public IBrowserEnvironment {
  public:
    using Starter =
        std::function<LaunchResult(const std::string&, const std::vector<std::string>&)>;

    explicit LinuxBrowserEnvironment(LinuxBrowserPaths paths);
    // The default starter is StartProgram; tests may record instead.
    void SetStarter(Starter starter) { starter_ = std::move(starter); }

    BrowserCandidates CandidatePaths() const override { return paths_.candidates; }
    bool FileExists(const std::string& path) const override;
    EdgeVersionValue ReadEdgeVersion() const override;
    std::string ReadDefaultBrowserProgId() const override;
    LaunchResult Launch(const std::string& executable,
                        const std::vector<std::string>& args) override;
    LaunchResult OpenDefault(const std::string& url) override;
    bool HasTrustedSiteZones() const override { return paths_.trustedZones; }
    std::string StartupDirectory() const override { return paths_.startupDir; }
    char PathSeparator() const override { return '/'; }
    LocalDateTime LocalNow() const override;

    const LinuxBrowserPaths& Paths() const { return paths_; }

  private:
    LinuxBrowserPaths paths_;
    Starter starter_;
};

// Starts a program (a bare name is looked up on PATH) with exactly these arguments, in a process
// group of its own, and watches it: a program that cannot be executed fails here with the
// system's reason, and `exited` gives the exit status (128 + signal for a crash) once it has
// ended. A program still running when the result is dropped is reaped whenever it ends, so it
// never lingers as a zombie.
LaunchResult StartProgram(const std::string& executable, const std::vector<std::string>& args);

}  // namespace valdrune
