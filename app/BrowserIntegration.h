// The main dialog's steps that belong to opening device pages: browser detection, model lists,
// classification, the IE-mode site list and the Edge set-up run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "browser/core/BrowserSeams.h"
#include "protocol/Messages.h"
#include "protocol/Record.h"

class QComboBox;

namespace valdrune {

class CTallyrigDlg;
class CDeviceBrowser;
class CSettingsStore;

class BrowserIntegration {
public:
    // platform: browsers, key store, site-list files and window list of this run.
    BrowserIntegration(CTallyrigDlg& dlg, BrowserPlatform platform);
    ~BrowserIntegration();
    BrowserIntegration(const BrowserIntegration&) = delete;
    BrowserIntegration& operator=(const BrowserIntegration&) = delete;

    // Set-up steps of the main dialog: 1 to 4 (Windows 11, site-list path, browsers, model
    // lists) before its controls exist, then 9.
    void SetUpBeforeControls();
    void LoadSiteListState();
    // Combo 1034: (text, browser code) in entry order.
    std::vector<std::pair<std::string, int>> BrowserComboEntries() const;
    // Combo 1034 filled, the stored choice selected; a stored code the combo does not offer
    // shows as Auto and stays stored until the user picks another browser.
    void FillBrowserCombo(QComboBox& combo, int storedCode);
    // The browser chosen in combo 1034, and the codes of its entries.
    int BrowserCode() const;
    const std::vector<int>& BrowserCodes() const;

    // From WriteDeviceRow: tracks the device's site URL by its browser class.
    void TrackDevice(const _CommandDataTable& record);
    // Combo 1034 changed to the entry at index: the site lists follow, the choice is stored.
    void OnBrowserChoice(int index, CSettingsStore& store);
    // Button 1005 "Open the device window".
    void OnOpenDeviceWindow();
    // Dialog timer ticks (timer 1, 500 ms).
    void OnTimer(int timerId);
    // WM_RUN_MESSAGE_DIALOG with wParam 1 or 2, WM_MESSAGE_DIALOG_READY, WM_OPEN_PENDING_URL.
    bool OnMessage(WindowMessage message, std::uintptr_t wParam, std::intptr_t lParam);

    // The decisions and their state (flags, URL lists, wait mode), read-only.
    const CDeviceBrowser& Decisions() const;

private:
    struct State;
    CTallyrigDlg& dlg_;
    std::unique_ptr<State> state_;
};

}  // namespace valdrune
