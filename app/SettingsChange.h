// The settings change driven by the main dialog: from the Network Settings button to the
// result box, as a chain of posted messages handled while the progress dialog runs.
#pragma once

#include <cstdint>

#include "protocol/Messages.h"
#include "protocol/Record.h"
#include "protocol/Seams.h"

namespace valdrune {

class CTallyrigDlg;
class DeviceSession;

class SettingsChange {
public:
    // The engine's limits of the two long steps: the device's acceptance and its restart.
    static constexpr Milliseconds kAcceptanceLimit{30000};
    static constexpr Milliseconds kRestartLimit{120000};

    explicit SettingsChange(CTallyrigDlg& dlg);
    ~SettingsChange();
    SettingsChange(const SettingsChange&) = delete;
    SettingsChange& operator=(const SettingsChange&) = delete;

    // Button 1002 "Network Settings": the selected device's settings dialog, then Confirm.
    void OnNetworkSettings();
    // The user saved new settings for the device (found by that source): busy until the
    // outcome is known; the progress dialog comes up once the current message has been
    // handled.
    void Confirm(const _CommandDataTable& settings, bool waitForRestart, int source = 0);
    // WM_SEND_SETTINGS, WM_SETUP_ACCEPTED, WM_SETUP_FAILED, WM_SETUP_FINISHED,
    // WM_RUN_MESSAGE_DIALOG with wParam 0 and WM_PROGRESS_READY. True when handled.
    bool OnMessage(WindowMessage message, std::uintptr_t wParam, std::intptr_t lParam);

    // Between Confirm and the outcome; the window ignores its keys, double-clicks and the
    // window menu's About item meanwhile.
    bool Busy() const { return busy_; }
    // The device last chosen with Network Settings, and the source of its row: the change
    // goes through the session that found it.
    const MacAddress& TargetMac() const { return targetMac_; }
    int TargetSource() const { return source_; }
    // The settings being sent.
    const _CommandDataTable& PendingSettings() const { return pendingSettings_; }
    // The check box of the settings dialogs, kept from one change to the next.
    bool WaitForRestart() const { return waitForRestart_; }
    // The open progress dialog, 0 when none.
    std::uintptr_t ProgressWindow() const { return progressWindow_; }
    // Text of the result box waiting for the progress dialog to close, 0 when none.
    int OutcomeTextId() const { return resultTextId_; }

private:
    void RunProgressDialog();
    void CloseProgressWindow();
    void RecordOutcome(int textId, int boxType);
    void SendSettings();
    // The progress dialog shows how long this step has run against its limit.
    void StartStep(Milliseconds limit);
    DeviceSession& Session();

    CTallyrigDlg& dlg_;
    MacAddress targetMac_{};
    int source_ = 0;
    bool busy_ = false;
    _CommandDataTable pendingSettings_;
    std::uintptr_t progressWindow_ = 0;
    int resultTextId_ = 0;
    int resultBoxType_ = 0;
    bool waitForRestart_ = true;
};

}  // namespace valdrune
