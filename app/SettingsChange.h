// The settings change driven by the main dialog: from the Network Settings button to the
// result box, as a chain of posted messages handled while the progress dialog runs.
#pragma once

#include <cstdint>
#include <memory>

#include "protocol/Messages.h"

namespace valdrune {

class CTallyrigDlg;

class SettingsChange {
public:
    explicit SettingsChange(CTallyrigDlg& dlg);
    ~SettingsChange();
    SettingsChange(const SettingsChange&) = delete;
    SettingsChange& operator=(const SettingsChange&) = delete;

    // Button 1002 "Network Settings".
    void OnNetworkSettings();
    // WM_SEND_SETTINGS, WM_SETUP_ACCEPTED, WM_SETUP_FAILED, WM_SETUP_FINISHED,
    // WM_RUN_MESSAGE_DIALOG with wParam 0 and WM_PROGRESS_READY. True when handled.
    bool OnMessage(WindowMessage message, std::uintptr_t wParam, std::intptr_t lParam);

private:
    struct State;
    CTallyrigDlg& dlg_;
    std::unique_ptr<State> state_;
};

}  // namespace valdrune
