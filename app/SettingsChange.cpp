#include "app/SettingsChange.h"

#include <memory>

#include "app/TallyrigDlg.h"
#include "dialogkit/CMessageDialog.h"
#include "dialogkit/MessageBox.h"
#include "settings/dialogs/CSetNetwork.h"
#include "settings/dialogs/CSetNetworkRec.h"
#include "settings/rules/SaveRules.h"

namespace valdrune {

namespace {

constexpr int kTextSelectDevice = 221;
constexpr int kTextSending = 226;
constexpr int kTextRestarting = 227;
constexpr int kTextAddressInUse = 436;
constexpr int kTextNoAcceptance = 439;
constexpr int kTextNotBack = 440;
constexpr int kTextCompleted = 441;
constexpr int kTextSentRestarting = 442;
constexpr int kTextTooLongSinceRestart = 443;
constexpr int kTextAddressUnchecked = 903;

constexpr int kBoxWarning = MB_OK_ | MB_ICONEXCLAMATION_;
constexpr int kBoxInformation = MB_OK_ | MB_ICONINFORMATION_;

// Bit 0 of statusBits: the device restarted too long ago to accept new settings.
constexpr std::uint16_t kStatusSetupWindowClosed = 0x0001;

// Both settings dialogs take a record copy and the wait flag, and hand back both on Save.
template <class Dialog>
bool RunSettingsDialog(CTallyrigDlg& owner, const _CommandDataTable& copy, bool& wait,
                       _CommandDataTable& result) {
    Dialog dialog(&owner);
    dialog.SetRecord(copy);
    dialog.SetWaitForRestart(wait);
    if (dialog.exec() != CTemplateDialog::kResultOk) return false;
    result = dialog.Record();
    wait = dialog.WaitForRestart();
    return true;
}

}  // namespace

SettingsChange::SettingsChange(CTallyrigDlg& dlg) : dlg_(dlg) {}

SettingsChange::~SettingsChange() { Session().AbandonChange(pendingSettings_.primary.mac); }

DeviceSession& SettingsChange::Session() { return dlg_.SessionOf(source_); }

void SettingsChange::OnNetworkSettings() {
    const int row = dlg_.List().SelectedRow();
    if (row < 0) {
        ShowMessageBox(&dlg_, kTextSelectDevice, kBoxWarning);
        return;
    }
    const int source = dlg_.List().SourceOf(row);
    const _CommandDataTable record = dlg_.List().RecordAt(row).value_or(_CommandDataTable{});
    targetMac_ = record.primary.mac;
    if ((record.statusBits & kStatusSetupWindowClosed) != 0) {
        ShowMessageBox(&dlg_, kTextTooLongSinceRestart, kBoxWarning);
        return;
    }

    const _CommandDataTable copy = PrepareRecordForDialog(record);
    _CommandDataTable result;
    bool wait = waitForRestart_;
    const bool saved = record.kind == DEVICE_KIND_TWO_PORT
                           ? RunSettingsDialog<CSetNetworkRec>(dlg_, copy, wait, result)
                           : RunSettingsDialog<CSetNetwork>(dlg_, copy, wait, result);
    if (saved) Confirm(result, wait, source);
}

void SettingsChange::Confirm(const _CommandDataTable& settings, bool waitForRestart, int source) {
    busy_ = true;
    source_ = source;
    pendingSettings_ = settings;
    waitForRestart_ = waitForRestart;
    dlg_.PostMessage(WM_RUN_MESSAGE_DIALOG, 0);
}

// Posts the close request to the progress dialog when it is known and still open.
void SettingsChange::CloseProgressWindow() {
    if (CMessageDialog* progress = CMessageDialog::FromHandle(progressWindow_))
        progress->PostMessage(WM_CLOSE_REQUEST, 0, 0);
}

void SettingsChange::StartStep(Milliseconds limit) {
    if (CMessageDialog* progress = CMessageDialog::FromHandle(progressWindow_))
        progress->StartStep(limit);
}

void SettingsChange::RecordOutcome(int textId, int boxType) {
    resultTextId_ = textId;
    resultBoxType_ = boxType;
    CloseProgressWindow();
    busy_ = false;
}

void SettingsChange::RunProgressDialog() {
    progressWindow_ = 0;
    resultTextId_ = 0;
    resultBoxType_ = 0;
    {
        CMessageDialog progress(dlg_.Scheduler(), &dlg_);
        progress.SetOwner([this](WindowMessage m, std::uintptr_t w, std::intptr_t l) {
            dlg_.PostMessage(m, w, l);
        });
        progress.SetMode(CMessageDialog::kProgressMode);
        progress.SetTextId(kTextSending);
        progress.exec();
    }
    // The outcome is shown only once the progress dialog has gone.
    progressWindow_ = 0;
    const int shown = resultTextId_;
    if (shown != 0) ShowMessageBox(&dlg_, resultTextId_, resultBoxType_);
    resultTextId_ = 0;
    resultBoxType_ = 0;
    // New addresses change the order of the address, port and overlap columns.
    if (shown == kTextCompleted) dlg_.List().SortAgainAfterAddressChange();
    busy_ = false;
}

void SettingsChange::SendSettings() {
    ChangeSteps steps;
    steps.sendUnproven = [this](int result) {
        // An address nobody could probe is not known to be free: the user decides, every
        // time, before anything is sent. Without a socket the send fails and the acceptance
        // time-out reports it.
        return result != PROTO_PROBE_NOT_PERMITTED ||
               ShowMessageBox(&dlg_, kTextAddressUnchecked, MB_OKCANCEL_ | MB_ICONEXCLAMATION_) ==
                   ID_OK;
    };
    steps.sending = [this] { StartStep(kAcceptanceLimit); };
    steps.restarting = [this] {
        if (CMessageDialog* progress = CMessageDialog::FromHandle(progressWindow_))
            progress->PostMessage(WM_PROGRESS_TEXT, kTextRestarting, 0);
        if (waitForRestart_) StartStep(kRestartLimit);
    };
    steps.done = [this](ChangeResult result) {
        switch (result) {
        case ChangeResult::Completed: dlg_.SendMessage(WM_SETUP_FINISHED, 0); break;
        case ChangeResult::SentRestarting: dlg_.SendMessage(WM_SETUP_FINISHED, 1); break;
        case ChangeResult::NoAcceptance: dlg_.SendMessage(WM_SETUP_FAILED, 1); break;
        case ChangeResult::NotBack: dlg_.SendMessage(WM_SETUP_FAILED, 2); break;
        case ChangeResult::AddressInUse: RecordOutcome(kTextAddressInUse, kBoxWarning); break;
        // Nothing will ever answer; without an outcome the progress dialog, which has no close
        // button, would stay up for good.
        case ChangeResult::CannotSet: RecordOutcome(kTextNoAcceptance, kBoxWarning); break;
        case ChangeResult::NotProbed:
        case ChangeResult::SocketNotReady: RecordOutcome(0, 0); break;
        }
    };
    Session().StartChange({pendingSettings_, 0, 0, waitForRestart_, false}, std::move(steps));
}

bool SettingsChange::OnMessage(WindowMessage message, std::uintptr_t wParam, std::intptr_t) {
    switch (message) {
    case WM_RUN_MESSAGE_DIALOG:
        if (wParam != 0) return false;  // modes 1 and 2 belong to the browser set-up
        RunProgressDialog();
        return true;

    case WM_PROGRESS_READY:
        progressWindow_ = wParam;
        dlg_.PostMessage(WM_SEND_SETTINGS, 0);
        return true;

    case WM_SEND_SETTINGS:
        SendSettings();
        return true;

    case WM_SETUP_ACCEPTED:
        // The session decides what follows an acceptance, as it does for the engine's.
        Session().OnSettingsAccepted(static_cast<std::uint16_t>(wParam));
        return true;

    // Both end the change, whoever sent them.
    case WM_SETUP_FAILED:
        Session().AbandonChange(pendingSettings_.primary.mac);
        RecordOutcome(wParam == 2 ? kTextNotBack : kTextNoAcceptance, kBoxWarning);
        return true;

    case WM_SETUP_FINISHED:
        Session().AbandonChange(pendingSettings_.primary.mac);
        if (pendingSettings_.kind == DEVICE_KIND_TWO_PORT) Session().Engine().StartSearch();
        RecordOutcome(wParam == 1 ? kTextSentRestarting : kTextCompleted, kBoxInformation);
        return true;

    default:
        return false;
    }
}

}  // namespace valdrune
