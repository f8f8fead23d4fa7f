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

namespace {

// The device tables of every session searching, the one of the row being opened first: a
// device is opened through the adapter it was found on, with that adapter's overlaps.
class RoutedDeviceSource final : public IDeviceSource {
  public:
    using Classifier = ProtocolDeviceSource::Classifier;
    RoutedDeviceSource(CTallyrigDlg& dlg, Classifier classOf)
        : dlg_(dlg), classOf_(std::move(classOf)) {}

    void Prefer(int source) { preferred_ = source; }

    std::optional<_CommandDataTable> FindDevice(const std::string& macText) const override {
        for (int source : Order())
            if (auto record = dlg_.SessionOf(source).Engine().FindDevice(macText)) return record;
        return std::nullopt;
    }
    int FindOverlaps(const _CommandDataTable& record) const override {
        std::vector<std::uint16_t> overlaps;
        return Source(record).FindOverlaps(record, overlaps);
    }
    void ProbeDevice(const _CommandDataTable& record, std::function<void(bool)> done) override {
        ProtocolDeviceSource(Source(record), classOf_).ProbeDevice(record, std::move(done));
    }
    std::vector<std::string> EnumerateDeviceUrls(bool allDevices) const override {
        std::vector<std::string> urls;
        for (int source : Order()) {
            const ProtocolDeviceSource one(dlg_.SessionOf(source).Engine(), classOf_);
            for (std::string& url : one.EnumerateDeviceUrls(allDevices))
                if (std::find(urls.begin(), urls.end(), url) == urls.end())
                    urls.push_back(std::move(url));
        }
        return urls;
    }

  private:
    std::vector<int> Order() const {
        const int count = dlg_.Sessions().Count();
        const int first = preferred_ > 0 && preferred_ < count ? preferred_ : 0;
        std::vector<int> order{first};
        for (int source = 0; source < count; ++source)
            if (source != first) order.push_back(source);
        return order;
    }
    CProtocol& Source(const _CommandDataTable& record) const {
        for (int source : Order()) {
            CProtocol& engine = dlg_.SessionOf(source).Engine();
            if (engine.FindDevice(record.primary.mac)) return engine;
        }
        return dlg_.Engine();
    }

    CTallyrigDlg& dlg_;
    Classifier classOf_;
    int preferred_ = 0;
};

}  // namespace

// The main dialog's services as the decisions see them.
struct BrowserIntegration::State final : IBrowserHost {
    State(CTallyrigDlg& owner, BrowserPlatform own)
        : dlg(owner),
          platform(std::move(own)),
          devices(owner, [this](const _CommandDataTable& r) { return browser.ClassifyDevice(r); }),
          browser(BrowserSeams{*platform.env, *platform.store, *platform.files, *platform.windows,
                               *this, devices}) {}

    int ShowMessage(int textId, int boxType, BoxOwner owner) override {
        QWidget* parent = owner == BoxOwner::MainDialog ? &dlg : nullptr;
        return ShowMessageBox(MessageBoxRequest{parent, textId, boxType, {}}) == ID_OK
                   ? ID_OK
                   : ID_CANCEL;
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
    RoutedDeviceSource devices;
    CDeviceBrowser browser;
    std::vector<int> browserCodes;  // of combo 1034, in entry order
    int browserCode = 0;
};

BrowserIntegration::BrowserIntegration(CTallyrigDlg& dlg, BrowserPlatform platform)
    : dlg_(dlg), state_(std::make_unique<State>(dlg, std::move(platform))) {}

BrowserIntegration::~BrowserIntegration() = default;

const CDeviceBrowser& BrowserIntegration::Decisions() const { return state_->browser; }

void BrowserIntegration::SetUpBeforeControls() {
    CDeviceBrowser& browser = state_->browser;
    browser.DetectWindows11();
    browser.InitSiteListPath();
    browser.DetectBrowsers();
    LoadBuiltInModelLists(browser);
    browser.SetTemplates(BuiltInTemplates());
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
        state_->devices.Prefer(dlg_.List().SourceOf(row));
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
