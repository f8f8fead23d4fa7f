// Everything the main dialog does to open a device's page: browser detection and choice,
// classification by the model lists, the IE-mode site list with its policy values and trusted
// zones, and the Edge set-up run that restarts Edge before the page opens.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/core/BrowserChoice.h"
#include "browser/core/BrowserSeams.h"
#include "browser/core/ModelLists.h"
#include "browser/core/SiteList.h"
#include "protocol/Lifeline.h"

namespace valdrune {

inline constexpr int EDGE_SETUP_TIMER_ID = 1;
inline constexpr int EDGE_SETUP_TIMER_MS = 500;
inline constexpr int EDGE_MINIMIZE_DELAY_MS = 300;
// How long a started browser is watched for ending with an error before it counts as running.
inline constexpr int LAUNCH_GRACE_MS = 2000;
inline constexpr int MSG_BROWSER_NOT_STARTED = 931;
inline constexpr int MSG_BROWSER_ENDED = 932;

inline constexpr const char* EDGE_POLICY_KEY = "SOFTWARE\\Policies\\Microsoft\\Edge";
inline constexpr const char* POLICY_LEVEL_VALUE = "InternetExplorerIntegrationLevel";
inline constexpr const char* POLICY_SITE_LIST_VALUE = "InternetExplorerIntegrationSiteList";
inline constexpr const char* ZONE_RANGES_KEY =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Ranges";
inline constexpr const char* ZONE_RANGE_PREFIX = "Quembrel";
inline constexpr int ZONE_KEYS_CLEARED = 100;

// "%s\%s%d" of the ranges key, the prefix and n.
std::string ZoneKey(int n);

// How a site-list rewrite ended; only Started means the set-up run began.
enum class SetupOutcome { Started, Declined, Deferred, NothingToReset };

struct BrowserSeams {
    IBrowserEnvironment& env;
    IKeyValueStore& store;
    ISiteListFiles& files;
    ITopLevelWindows& windows;
    IBrowserHost& host;
    IDeviceSource& devices;
};

class CDeviceBrowser {
  public:
    explicit CDeviceBrowser(BrowserSeams seams);
    ~CDeviceBrowser();
    CDeviceBrowser(const CDeviceBrowser&) = delete;
    CDeviceBrowser& operator=(const CDeviceBrowser&) = delete;

    // Start-up, in this order.
    void DetectWindows11();
    void InitSiteListPath();
    void DetectBrowsers();
    void LoadModelList(int index, std::string_view text);
    void SetTemplates(SiteListTemplates templates) { templates_ = std::move(templates); }
    void LoadSiteListState();

    // The browser combo's codes for what was detected.
    std::vector<int> ComboCodes() const { return BrowserComboCodes(available_); }

    // A listed device answer: classify (from the record and the model lists, never stored in
    // the record), then track its site URL.
    int ClassifyDevice(const _CommandDataTable& record) const;
    void TrackDeviceSite(const _CommandDataTable& record, int browserCode);
    void OnBrowserChoiceChanged(int newCode, int oldCode);

    // Button "Open the device window". selectedMac is the first selected row's MAC text.
    // The probe answers later; a second click while it runs is ignored.
    void OnOpenDeviceWindow(const std::optional<std::string>& selectedMac, int chosenCode);
    // The open after all checks passed.
    void OpenDeviceUrl(const _CommandDataTable& record, int chosenCode);
    bool LaunchChosenBrowser(int code, const std::string& url);
    void LaunchDefaultBrowser(int code, const std::string& url);
    int DetectDefaultBrowser() const;

    // Site list.
    bool WriteSiteList(bool allDevices);
    bool ResetSiteList();
    SetupOutcome WriteSiteListOutcome(bool allDevices);
    SetupOutcome ResetSiteListOutcome();
    bool ReadExistingSiteList();
    std::string ReadSiteListPolicy() const;
    bool WriteSiteListPolicy(const std::string& path);
    bool AddTrustedRange(const std::string& host, int n);

    // Edge set-up run.
    bool StartEdgeSetup();
    int CountEdgeWindows() const;
    void MinimizeEdgeWindows();
    void OnRunMessageDialog(std::uintptr_t mode);
    void OnMessageDialogReady(std::uintptr_t dialogHandle);
    void OnOpenPendingUrl();
    void OnTimer(int timerId);

    // State, for the dialog and for tests.
    const BrowserAvailability& Available() const { return available_; }
    const ModelLists& Lists() const { return lists_; }
    bool IsWindows11() const { return isWindows11_; }
    const std::string& SiteListPath() const { return siteListPath_; }
    bool PolicyLevelPresent() const { return policyLevelPresent_; }
    bool SiteListPending() const { return siteListPending_; }
    void SetSiteListPending(bool pending) { siteListPending_ = pending; }
    bool UserConsented() const { return userConsented_; }
    const std::string& PendingUrl() const { return pendingUrl_; }
    const std::vector<std::string>& SiteUrls() const { return siteUrls_; }
    const std::vector<std::string>& Ie5Urls() const { return ie5Urls_; }
    int EdgeWaitMode() const { return edgeWaitMode_; }
    std::uintptr_t ProgressWindow() const { return progressWindow_; }
    bool ProbeRunning() const { return probeRunning_; }

  private:
    void Start(LaunchForm form, const std::string& url);
    void Report(LaunchResult result);
    void OpenInIeModeAfterRewrite(bool allDevices, const std::string& url);
    bool AskConsent();
    std::string SiteListText(const std::string& dateText, const std::vector<std::string>& urls);

    BrowserSeams s_;
    Lifeline lifeline_;
    BrowserAvailability available_;
    BrowserCandidates candidates_;
    ModelLists lists_;
    SiteListTemplates templates_;
    bool isWindows11_ = false;
    std::string siteListPath_;
    bool policyLevelPresent_ = false;
    bool siteListPending_ = false;
    bool userConsented_ = false;
    std::string pendingUrl_;
    std::vector<std::string> siteUrls_;
    std::vector<std::string> ie5Urls_;
    int edgeWaitMode_ = 0;
    std::uintptr_t progressWindow_ = 0;
    bool probeRunning_ = false;
};

}  // namespace valdrune
