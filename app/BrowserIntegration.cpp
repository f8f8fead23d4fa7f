#include "app/BrowserIntegration.h"

#include <QComboBox>
#include <algorithm>

#include "app/SettingsStore.h"
#include "app/TallyrigDlg.h"
#include "browser/core/CDeviceBrowser.h"
#include "browser/core/ProtocolDeviceSource.h"
#include "browser/qt/BrowserDialogs.h"
#include "dialogkit/ControlText.h"
#include "dialogkit/MessageBox.h"
#include "res/StringTable.h"

namespace valdrune {

// The main dialog's services as the decisions see them.
struct BrowserIntegration::State final : IBrowserHost {
    State(CTallyrigDlg& owner, BrowserPlatform own)
        : dlg(owner),
          platform(std::move(own)),
          devices(owner.Engine(),
                  [this](const _CommandDataTable& r) { return browser.ClassifyDevice(r); }),
          browser(BrowserSeams{*platform.env, *platform.store, *platform.files, *platform.windows,
                               *this, devices}) {}

    int ShowMessage(int textId, int boxType, BoxOwner owner) override {
        QWidget* parent = owner == BoxOwner::MainDialog ? &dlg : nullptr;
        return ShowMessageBox(MessageBoxRequest{parent, textId, boxType, {}}) == ID_OK
                   ? ANSWER_OK
                   : ANSWER_CANCEL;
    }
    void ShowFilledMessage(int textId, int boxType, BoxOwner owner,
                           const std::vector<std::string>& fill) override {
        QStringList arguments;
        for (const std::string& a : fill) arguments << QString::fromStdString(a);
        QWidget* parent = owner == BoxOwner::MainDialog ? &dlg : nullptr;
        ShowMessageBox(MessageBoxRequest{parent, textId, boxType,
                                         FillIn(DialogText(textId), arguments).toStdString()});
    }
    void PostMessage(WindowMessage message, std::uintptr_t wParam) override {
        dlg.PostMessage(message, wParam, 0);
    }
    void PostToWindow(std::uintptr_t window, WindowMessage message,
                      std::uintptr_t wParam) override {
        PostToMessageDialog(window, message, wParam);
    }
    void StartTimer(int timerId, int periodMs) override { dlg.StartTimer(timerId, periodMs); }
    void KillTimer(int timerId) override { dlg.KillTimer(timerId); }
    int RunMessageDialog(int mode, int textId) override {
        CTallyrigDlg& owner = dlg;
        return valdrune::RunMessageDialog(
            dlg.Scheduler(), mode, textId,
            [&owner](WindowMessage m, std::uintptr_t w, std::intptr_t l) {
                owner.PostMessage(m, w, l);
            });
    }
    void After(int delayMs, std::function<void()> fn) override {
        dlg.Scheduler().StartTimer(Milliseconds(delayMs), false, std::move(fn));
    }

    CTallyrigDlg& dlg;
    BrowserPlatform platform;
    ProtocolDeviceSource devices;
    CDeviceBrowser browser;
    std::vector<int> browserCodes;  // of combo 1034, in entry order
    int browserCode = 0;
};

BrowserIntegration::BrowserIntegration(CTallyrigDlg& dlg, BrowserPlatform platform)
    : dlg_(dlg), state_(std::make_unique<State>(dlg, std::move(platform))) {}

BrowserIntegration::~BrowserIntegration() = default;

const CDeviceBrowser& BrowserIntegration::Decisions() const { return state_->browser; }

void BrowserIntegration::DetectWindows11() { state_->browser.DetectWindows11(); }

void BrowserIntegration::InitSiteListPath() { state_->browser.InitSiteListPath(); }

void BrowserIntegration::DetectBrowsers() { state_->browser.DetectBrowsers(); }

void BrowserIntegration::LoadModelLists() {
    LoadBuiltInModelLists(state_->browser);
    state_->browser.SetTemplates(BuiltInTemplates());
}

void BrowserIntegration::LoadSiteListState() { state_->browser.LoadSiteListState(); }

std::vector<std::pair<std::string, int>> BrowserIntegration::BrowserComboEntries() const {
    std::vector<std::pair<std::string, int>> entries;
    for (const int code : state_->browser.ComboCodes()) {
        entries.emplace_back(std::string(LoadText(BrowserComboTextId(code))), code);
    }
    return entries;
}

void BrowserIntegration::FillBrowserCombo(QComboBox& combo, int storedCode) {
    combo.clear();
    std::vector<int>& codes = state_->browserCodes;
    codes.clear();
    for (const auto& [text, code] : BrowserComboEntries()) {
        combo.addItem(QString::fromStdString(text));
        codes.push_back(code);
    }
    const auto it = std::find(codes.begin(), codes.end(), storedCode);
    if (it == codes.end()) {
        combo.setCurrentIndex(combo.count() > 0 ? 0 : -1);
        state_->browserCode = 0;
    } else {
        combo.setCurrentIndex(static_cast<int>(it - codes.begin()));
        state_->browserCode = storedCode;
    }
}

int BrowserIntegration::BrowserCode() const { return state_->browserCode; }

const std::vector<int>& BrowserIntegration::BrowserCodes() const { return state_->browserCodes; }

void BrowserIntegration::TrackDevice(const _CommandDataTable& record) {
    state_->browser.TrackDeviceSite(record, state_->browserCode);
}

void BrowserIntegration::OnBrowserChoice(int index, CSettingsStore& store) {
    const std::vector<int>& codes = state_->browserCodes;
    if (index < 0 || index >= static_cast<int>(codes.size())) return;
    const int code = codes[static_cast<std::size_t>(index)];
    state_->browser.OnBrowserChoiceChanged(code, state_->browserCode);
    state_->browserCode = code;
    store.WriteBrowser(code);
}

void BrowserIntegration::OnOpenDeviceWindow() {
    std::optional<std::string> mac;
    if (const int row = dlg_.List().SelectedRow(); row >= 0) {
        mac = dlg_.List().RowText(row, COL_MAC).toStdString();
    }
    int code = state_->browserCode;
    if (const auto* combo = dlg_.ControlAs<QComboBox>(IDC_BROWSER_COMBO)) {
        const int index = combo->currentIndex();
        if (index >= 0 && index < static_cast<int>(state_->browserCodes.size())) {
            code = state_->browserCodes[static_cast<std::size_t>(index)];
        }
    }
    state_->browser.OnOpenDeviceWindow(mac, code);
}

void BrowserIntegration::OnTimer(int timerId) { state_->browser.OnTimer(timerId); }

bool BrowserIntegration::OnMessage(WindowMessage message, std::uintptr_t wParam, std::intptr_t) {
    CDeviceBrowser& b = state_->browser;
    switch (message) {
        // The set-up run keeps its message dialog's window itself: its dialogs can run nested
        // inside a settings change's progress dialog, whose window must stay known until the
        // outcome closes it.
        case WM_RUN_MESSAGE_DIALOG:
            if (wParam != 1 && wParam != 2) return false;
            b.OnRunMessageDialog(wParam);
            return true;
        case WM_MESSAGE_DIALOG_READY:
            b.OnMessageDialogReady(wParam);
            return true;
        case WM_OPEN_PENDING_URL:
            b.OnOpenPendingUrl();
            return true;
        default:
            return false;
    }
}

}  // namespace valdrune
