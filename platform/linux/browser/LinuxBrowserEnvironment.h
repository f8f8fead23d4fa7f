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
    bool mayStartPrograms = true;
    bool mayOpenDefault = true;

    // The usual locations. VALDRUNE_BROWSER_ROOT, when set, prefixes every executable path;
    // VALDRUNE_EDGE_PROFILE_DIR, VALDRUNE_MIMEAPPS (colon-separated files),
    // VALDRUNE_SITE_LIST_DIR, VALDRUNE_OPENER and VALDRUNE_TRUSTED_ZONES=1 override the rest.
    // Linux has no Internet Explorer; VALDRUNE_IE_PATH names a stand-in for tests.
    // On the invisible "offscreen" Qt platform (test runs) the real browsers and the real
    // opener are never started; only redirected stand-ins are.
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
    using Starter = std::function<bool(const std::string&, const std::vector<std::string>&)>;

    explicit LinuxBrowserEnvironment(LinuxBrowserPaths paths);
    // The default starter detaches the program; tests may record instead.
    void SetStarter(Starter starter) { starter_ = std::move(starter); }

    BrowserCandidates CandidatePaths() const override { return paths_.candidates; }
    bool FileExists(const std::string& path) const override;
    EdgeVersionValue ReadEdgeVersion() const override;
    std::string ReadDefaultBrowserProgId() const override;
    void Launch(const std::string& executable, const std::vector<std::string>& args) override;
    void OpenDefault(const std::string& url) override;
    bool HasTrustedSiteZones() const override { return paths_.trustedZones; }
    std::string StartupDirectory() const override { return paths_.startupDir; }
    char PathSeparator() const override { return '/'; }
    LocalDateTime LocalNow() const override;

    const LinuxBrowserPaths& Paths() const { return paths_; }

  private:
    LinuxBrowserPaths paths_;
    Starter starter_;
};

// Starts a program detached from this process with exactly these arguments.
bool StartDetached(const std::string& executable, const std::vector<std::string>& args);

}  // namespace valdrune
