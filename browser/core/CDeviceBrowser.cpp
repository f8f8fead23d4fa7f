#include "browser/core/CDeviceBrowser.h"

#include <algorithm>

namespace valdrune {

namespace {

constexpr std::size_t REGISTRY_TEXT_BYTES = 512;

constexpr int MSG_NO_SELECTION = 221;
constexpr int MSG_FAILED_TO_ACCESS = 222;
constexpr int MSG_OVERLAPPED = 223;
constexpr int MSG_COUNTDOWN = 237;
constexpr int MSG_CLOSE_EDGE = 238;
constexpr int MSG_TRUSTED_SITES = 239;
constexpr int MSG_SITE_LIST_NOTICE = 240;
constexpr int MSG_IE_MISSING = 447;

int IndexOf(const std::vector<std::string>& list, const std::string& value) {
    const auto it = std::find(list.begin(), list.end(), value);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

// A text value read into a fixed buffer: one that does not fit (with its terminator) fails.
std::string Bounded(const std::optional<std::string>& value) {
    if (!value || value->size() >= REGISTRY_TEXT_BYTES) return {};
    return value->substr(0, value->find('\0'));
}

// Small statuses as they are; large ones (Windows' NTSTATUS codes) in the hex they are known by.
std::string ExitStatusText(int status) {
    if (status >= 0 && status <= 255) return std::to_string(status);
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    const auto value = static_cast<std::uint32_t>(status);
    for (int shift = 28; shift >= 0; shift -= 4) text += digits[(value >> shift) & 0xF];
    return text;
}

}  // namespace

std::string ZoneKey(int n) {
    return std::string(ZONE_RANGES_KEY) + "\\" + ZONE_RANGE_PREFIX + std::to_string(n);
}

CDeviceBrowser::CDeviceBrowser(BrowserSeams seams) : s_(seams) {}

CDeviceBrowser::~CDeviceBrowser() = default;

// ---- start-up -------------------------------------------------------------------------------

void CDeviceBrowser::DetectWindows11() { isWindows11_ = s_.env.HasTrustedSiteZones(); }

void CDeviceBrowser::InitSiteListPath() {
    siteListPath_ = s_.env.StartupDirectory() + s_.env.PathSeparator() + SITE_LIST_FILE_NAME;
}

void CDeviceBrowser::DetectBrowsers() {
    candidates_ = s_.env.CandidatePaths();
    available_ = valdrune::DetectBrowsers(s_.env);
}

void CDeviceBrowser::LoadModelList(int index, std::string_view text) {
    if (index < 0 || index >= static_cast<int>(lists_.size())) return;
    ModelList rows = valdrune::LoadModelList(text);
    auto& list = lists_[static_cast<std::size_t>(index)];
    list.insert(list.end(), rows.begin(), rows.end());
}

void CDeviceBrowser::LoadSiteListState() {
    siteListPending_ = false;
    siteUrls_.clear();
    ie5Urls_.clear();
    policyLevelPresent_ =
        s_.store.QueryDword(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE).has_value();
    if (!policyLevelPresent_) return;
    if (ReadSiteListPolicy() == siteListPath_) {
        ReadExistingSiteList();
        userConsented_ = true;
    } else if (ReadExistingSiteList()) {
        siteListPending_ = true;
    }
}

// ---- classification and bookkeeping ------------------------------------------------------------

int CDeviceBrowser::ClassifyDevice(const _CommandDataTable& record) const {
    return valdrune::ClassifyDevice(record, lists_);
}

void CDeviceBrowser::TrackDeviceSite(const _CommandDataTable& record, int browserCode) {
    const std::string url = SiteUrl(record);
    const int a = IndexOf(siteUrls_, url);
    const int b = IndexOf(ie5Urls_, url);
    const int browserClass = ClassifyDevice(record);
    if (NeedsIeMode(record, browserClass)) {
        if (a == -1) {
            siteUrls_.push_back(url);
            if (browserCode != BROWSER_EDGE) siteListPending_ = true;
        }
        if (browserClass == 3 && b == -1 &&
            (record.capabilityFlag == 0 || record.legacyPrefix == 1)) {
            ie5Urls_.push_back(url);
        }
    } else {
        if (a != -1) {
            siteUrls_.erase(siteUrls_.begin() + a);
            if (browserCode != BROWSER_EDGE_IE_MODE) siteListPending_ = true;
        }
        if (b != -1) ie5Urls_.erase(ie5Urls_.begin() + b);
    }
}

void CDeviceBrowser::OnBrowserChoiceChanged(int newCode, int oldCode) {
    const bool haveUrls = !siteUrls_.empty();
    if (newCode == BROWSER_EDGE_IE_MODE || (newCode == BROWSER_EDGE && haveUrls) ||
        (newCode == BROWSER_AUTO && oldCode == BROWSER_EDGE_IE_MODE) ||
        (newCode == BROWSER_AUTO && oldCode == BROWSER_EDGE && haveUrls)) {
        siteListPending_ = true;
    }
}

// ---- opening a device
// ----------------------------------------------------------------------------

void CDeviceBrowser::OnOpenDeviceWindow(const std::optional<std::string>& selectedMac,
                                        int chosenCode) {
    if (probeRunning_) return;
    if (!selectedMac) {
        s_.host.ShowMessage(MSG_NO_SELECTION, MB_OK_ | MB_ICONEXCLAMATION_, BoxOwner::MainDialog);
        return;
    }
    _CommandDataTable record = s_.devices.FindDevice(*selectedMac).value_or(_CommandDataTable{});
    if (s_.devices.FindOverlaps(record) > 0) {
        s_.host.ShowMessage(MSG_OVERLAPPED, MB_OK_ | MB_ICONEXCLAMATION_, BoxOwner::MainDialog);
        return;
    }
    probeRunning_ = true;
    s_.devices.ProbeDevice(record, [this, alive = lifeline_.Hold(), record,
                                    chosenCode](bool answered) {
        if (!Lifeline::Alive(alive)) return;
        probeRunning_ = false;
        if (!answered) {
            s_.host.ShowMessage(MSG_FAILED_TO_ACCESS, MB_OK_ | MB_ICONEXCLAMATION_,
                                BoxOwner::MainDialog);
            return;
        }
        OpenDeviceUrl(record, chosenCode);
    });
}

void CDeviceBrowser::OpenDeviceUrl(const _CommandDataTable& record, int chosenCode) {
    const std::string url = DeviceUrl(record);
    if (LaunchChosenBrowser(chosenCode, url)) return;
    if (chosenCode != BROWSER_AUTO) return;
    const int d = DetectDefaultBrowser();
    switch (ClassifyDevice(record)) {
        case 0:
        case 2:
            if (d != BROWSER_IE) {
                LaunchDefaultBrowser(d, url);
            } else if (available_.ieInstalled) {
                Start(LaunchForm::InternetExplorer, url);
            } else {
                LaunchDefaultBrowser(BROWSER_IE, url);
            }
            return;
        case 1:
            LaunchDefaultBrowser(d == BROWSER_IE ? BROWSER_EDGE : d, url);
            return;
        default:
            if (!available_.ieInstalled) {
                s_.host.ShowMessage(MSG_IE_MISSING, MB_OK_ | MB_ICONEXCLAMATION_,
                                    BoxOwner::Application);
                return;
            }
            if (!available_.edgeInstalled || available_.edgeLegacy || d == BROWSER_IE) {
                Start(LaunchForm::InternetExplorer, url);
                return;
            }
            if (!siteListPending_) {
                Start(LaunchForm::Edge, url);
                return;
            }
            OpenInIeModeAfterRewrite(false, url);
            return;
    }
}

void CDeviceBrowser::OpenInIeModeAfterRewrite(bool allDevices, const std::string& url) {
    if (WriteSiteList(allDevices)) siteListPending_ = false;
    pendingUrl_ = url;
}

bool CDeviceBrowser::LaunchChosenBrowser(int code, const std::string& url) {
    switch (code) {
        case BROWSER_EDGE_IE_MODE:
            if (!available_.ieInstalled) {
                s_.host.ShowMessage(MSG_IE_MISSING, MB_OK_ | MB_ICONEXCLAMATION_,
                                    BoxOwner::Application);
            } else if (siteListPending_ && !available_.edgeLegacy) {
                OpenInIeModeAfterRewrite(true, url);
            } else {
                Start(LaunchForm::Edge, url);
            }
            return true;
        case BROWSER_EDGE:
            if (siteListPending_ && !available_.edgeLegacy && available_.ieInstalled) {
                switch (ResetSiteListOutcome()) {
                    case SetupOutcome::Started:
                        siteListPending_ = false;
                        pendingUrl_ = url;
                        break;
                    case SetupOutcome::Declined:
                    case SetupOutcome::Deferred:
                        pendingUrl_ = url;
                        break;
                    case SetupOutcome::NothingToReset:
                        // No IE-mode policy of ours exists, so plain Edge shows the page as is;
                        // leaving the click without any page would be a dead end.
                        pendingUrl_ = url;
                        Start(LaunchForm::Edge, url);
                        break;
                }
            } else {
                Start(LaunchForm::Edge, url);
            }
            return true;
        case BROWSER_CHROME:
            Start(LaunchForm::Chrome, url);
            return true;
        case BROWSER_FIREFOX:
            Start(LaunchForm::Firefox, url);
            return true;
        case BROWSER_IE:
            Start(LaunchForm::InternetExplorer, url);
            return true;
        default:
            return false;
    }
}

void CDeviceBrowser::LaunchDefaultBrowser(int code, const std::string& url) {
    if (code != BROWSER_EDGE) {
        Start(LaunchForm::SystemDefault, url);
    } else if (!available_.edgeLegacy && available_.ieInstalled) {
        if (siteListPending_) {
            OpenInIeModeAfterRewrite(false, url);
        } else {
            Start(LaunchForm::Edge, url);
        }
    } else if (available_.chromeInstalled) {
        Start(LaunchForm::Chrome, url);
    } else if (available_.firefoxInstalled) {
        Start(LaunchForm::Firefox, url);
    } else if (available_.ieInstalled) {
        Start(LaunchForm::InternetExplorer, url);
    } else {
        s_.host.ShowMessage(MSG_IE_MISSING, MB_OK_ | MB_ICONEXCLAMATION_, BoxOwner::Application);
    }
}

int CDeviceBrowser::DetectDefaultBrowser() const {
    return DefaultBrowserCode(Bounded(s_.env.ReadDefaultBrowserProgId()));
}

void CDeviceBrowser::Start(LaunchForm form, const std::string& url) {
    const LaunchCommand command = CommandFor(form, url, available_, candidates_);
    if (command.systemDefault) {
        Report(s_.env.OpenDefault(command.url));
    } else if (!command.executable.empty()) {
        Report(s_.env.Launch(command.executable, command.args));
    }
}

// A browser that did not come up is said so; otherwise the click would seem to do nothing.
// A program that ends with status 0 has handed the page to a running instance and is fine.
void CDeviceBrowser::Report(LaunchResult result) {
    const auto show = [this](int textId, const std::vector<std::string>& fill) {
        s_.host.ShowFilledMessage(textId, MB_OK_ | MB_ICONEXCLAMATION_, BoxOwner::MainDialog, fill);
    };
    switch (result.status) {
        case LaunchResult::Status::FailedToStart:
            show(MSG_BROWSER_NOT_STARTED, {result.program, result.reason});
            return;
        case LaunchResult::Status::ExitedAtOnce:
            if (result.exitStatus != 0)
                show(MSG_BROWSER_ENDED, {ExitStatusText(result.exitStatus), result.program});
            return;
        case LaunchResult::Status::Started:
            break;
    }
    if (!result.exited) return;
    s_.host.After(LAUNCH_GRACE_MS, [alive = lifeline_.Hold(), show,
                                    program = std::move(result.program),
                                    exited = std::move(result.exited)] {
        if (!Lifeline::Alive(alive)) return;
        const std::optional<int> status = exited();
        if (status && *status != 0) show(MSG_BROWSER_ENDED, {ExitStatusText(*status), program});
    });
}

// ---- site list ---------------------------------------------------------------------------------

bool CDeviceBrowser::AskConsent() {
    return s_.host.ShowMessage(MSG_SITE_LIST_NOTICE, MB_OKCANCEL_ | MB_ICONEXCLAMATION_,
                               BoxOwner::None) == ID_OK;
}

std::string CDeviceBrowser::SiteListText(const std::string& dateText,
                                         const std::vector<std::string>& urls) {
    return BuildSiteListText(templates_, dateText, urls, ie5Urls_);
}

bool CDeviceBrowser::WriteSiteList(bool allDevices) {
    return WriteSiteListOutcome(allDevices) == SetupOutcome::Started;
}

bool CDeviceBrowser::ResetSiteList() { return ResetSiteListOutcome() == SetupOutcome::Started; }

SetupOutcome CDeviceBrowser::WriteSiteListOutcome(bool allDevices) {
    const std::string dateText = SiteListDateText(s_.env.LocalNow());
    siteUrls_ = s_.devices.EnumerateDeviceUrls(allDevices);
    if (isWindows11_ && !siteUrls_.empty()) {
        if (s_.host.ShowMessage(MSG_TRUSTED_SITES, MB_OKCANCEL_ | MB_ICONEXCLAMATION_,
                                BoxOwner::None) != ID_OK) {
            return SetupOutcome::Declined;
        }
    }
    if (!policyLevelPresent_) {
        if (!userConsented_ && !AskConsent()) return SetupOutcome::Declined;
        userConsented_ = true;
        if (s_.store.CreateKey(Hive::LocalMachine, EDGE_POLICY_KEY)) {
            s_.store.SetDword(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE, 1);
        }
        policyLevelPresent_ = true;
    }
    if (ReadSiteListPolicy() != siteListPath_) {
        if (!userConsented_ && !AskConsent()) return SetupOutcome::Declined;
        userConsented_ = true;
        WriteSiteListPolicy(siteListPath_);
    }
    if (isWindows11_) {
        for (int n = 1; n <= ZONE_KEYS_CLEARED; ++n)
            s_.store.DeleteKey(Hive::CurrentUser, ZoneKey(n));
        for (std::size_t i = 0; i < siteUrls_.size(); ++i) {
            AddTrustedRange(ZoneHostText(siteUrls_[i]), static_cast<int>(i) + 1);
        }
    }
    s_.files.WriteWhole(siteListPath_, SiteListText(dateText, siteUrls_));
    if (!siteUrls_.empty() && !userConsented_) {
        if (!AskConsent()) return SetupOutcome::Declined;
        userConsented_ = true;
    }
    return StartEdgeSetup() ? SetupOutcome::Started : SetupOutcome::Deferred;
}

SetupOutcome CDeviceBrowser::ResetSiteListOutcome() {
    if (!policyLevelPresent_) return SetupOutcome::NothingToReset;
    if (ReadSiteListPolicy() != siteListPath_) {
        if (!userConsented_ && !AskConsent()) return SetupOutcome::Declined;
        WriteSiteListPolicy(siteListPath_);
        userConsented_ = true;
    }
    siteUrls_.clear();
    s_.files.WriteWhole(siteListPath_, SiteListText(SiteListDateText(s_.env.LocalNow()), {}));
    return StartEdgeSetup() ? SetupOutcome::Started : SetupOutcome::Deferred;
}

bool CDeviceBrowser::ReadExistingSiteList() {
    siteUrls_.clear();
    ie5Urls_.clear();
    if (!s_.files.Exists(siteListPath_)) return false;
    const std::optional<std::string> text = s_.files.Read(siteListPath_);
    if (text) siteUrls_ = ExtractSiteUrls(*text);
    return true;
}

std::string CDeviceBrowser::ReadSiteListPolicy() const {
    return Bounded(
        s_.store.QueryString(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_SITE_LIST_VALUE));
}

bool CDeviceBrowser::WriteSiteListPolicy(const std::string& path) {
    if (!s_.store.CreateKey(Hive::LocalMachine, EDGE_POLICY_KEY)) return false;
    return s_.store.SetString(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_SITE_LIST_VALUE, path);
}

bool CDeviceBrowser::AddTrustedRange(const std::string& host, int n) {
    const std::string key = ZoneKey(n);
    if (!s_.store.CreateKey(Hive::CurrentUser, key)) return false;
    s_.store.SetDword(Hive::CurrentUser, key, "*", 2);
    return s_.store.SetString(Hive::CurrentUser, key, ":Range", host);
}

// ---- Edge set-up run
// ------------------------------------------------------------------------------

int CDeviceBrowser::CountEdgeWindows() const {
    int count = 0;
    for (const TopLevelWindow& w : s_.windows.List()) {
        if (!w.hasOwner && !w.title.empty() && IsEdgeWindowTitle(w.title)) ++count;
    }
    return count;
}

void CDeviceBrowser::MinimizeEdgeWindows() {
    for (const TopLevelWindow& w : s_.windows.List()) {
        if (!w.hasOwner && !w.title.empty() && IsEdgeWindowTitle(w.title)) {
            s_.windows.ShowMinimized(w.handle);
        }
    }
}

bool CDeviceBrowser::StartEdgeSetup() {
    if (CountEdgeWindows() > 0) {
        s_.host.PostMessage(WM_RUN_MESSAGE_DIALOG, 1);
        siteListPending_ = false;
        return false;
    }
    edgeWaitMode_ = 2;
    s_.host.StartTimer(EDGE_SETUP_TIMER_ID, EDGE_SETUP_TIMER_MS);
    Start(LaunchForm::Edge, {});
    s_.host.PostMessage(WM_RUN_MESSAGE_DIALOG, 2);
    return true;
}

void CDeviceBrowser::OnRunMessageDialog(std::uintptr_t mode) {
    if (mode == 1) {
        progressWindow_ = 0;
        const int answer = s_.host.RunMessageDialog(1, MSG_CLOSE_EDGE);
        progressWindow_ = 0;
        if (answer == ID_OK) {
            edgeWaitMode_ = 2;
            Start(LaunchForm::Edge, {});
            s_.host.PostMessage(WM_RUN_MESSAGE_DIALOG, 2);
        } else {
            edgeWaitMode_ = 0;
        }
    } else if (mode == 2) {
        progressWindow_ = 0;
        s_.host.RunMessageDialog(2, MSG_COUNTDOWN);
        progressWindow_ = 0;
        edgeWaitMode_ = 0;
        s_.host.PostMessage(WM_OPEN_PENDING_URL, 0);
    }
}

void CDeviceBrowser::OnMessageDialogReady(std::uintptr_t dialogHandle) {
    progressWindow_ = dialogHandle;
    edgeWaitMode_ = 1;
    s_.host.StartTimer(EDGE_SETUP_TIMER_ID, EDGE_SETUP_TIMER_MS);
}

void CDeviceBrowser::OnOpenPendingUrl() { Start(LaunchForm::Edge, pendingUrl_); }

void CDeviceBrowser::OnTimer(int timerId) {
    if (timerId != EDGE_SETUP_TIMER_ID) return;  // other timers of the dialog are not ours
    if (edgeWaitMode_ == 0) {
        s_.host.KillTimer(timerId);
        return;
    }
    const int n = CountEdgeWindows();
    if (edgeWaitMode_ == 1) {
        if (CountEdgeWindows() < 1 && progressWindow_ != 0) {
            s_.host.PostToWindow(progressWindow_, WM_ENABLE_DIALOG_OK, 0);
        }
    } else if (edgeWaitMode_ == 2 && n > 0) {
        s_.host.KillTimer(timerId);
        // Waiting is scheduled, never slept, so the countdown dialog keeps running meanwhile.
        s_.host.After(EDGE_MINIMIZE_DELAY_MS, [this, alive = lifeline_.Hold()] {
            if (Lifeline::Alive(alive)) MinimizeEdgeWindows();
        });
    }
}

}  // namespace valdrune
