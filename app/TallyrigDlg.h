// The main window: device list, command buttons and the view, browser and interface combos.
// It owns the device session for its whole life and routes buttons, keys, list notifications
// and the session's reports to its parts, each of which keeps its own state: the device list
// (CDeviceList), searching (CSearchControl), what the empty list says about a search that found
// nothing (CSearchHint), the settings change (SettingsChange) and opening device pages with the
// Edge set-up run (BrowserIntegration).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AdapterSessions.h"
#include "app/DeviceList.h"
#include "app/SearchControl.h"
#include "browser/core/BrowserSeams.h"
#include "dialogkit/TemplateDialog.h"
#include "protocol/Lifeline.h"
#include "protocol/Messages.h"
#include "protocol/NetworkDoctor.h"
#include "protocol/Protocol.h"
#include "protocol/Session.h"
#include "protocol/Record.h"
#include "protocol/Seams.h"

class QMenu;

namespace valdrune {

class BrowserIntegration;
class CBatchAssignDlg;
class CListTools;
class CSearchHint;
class CSearchRepeat;
class CSettingsStore;
class SettingsChange;

// Control ids of template 102.
inline constexpr int IDC_HEADING = 1000;
inline constexpr int IDC_SEARCH = 1001;
inline constexpr int IDC_NETWORK_SETTINGS = 1002;
inline constexpr int IDC_ABOUT = 1003;
inline constexpr int IDC_DEVICE_LIST = 1004;
inline constexpr int IDC_OPEN_DEVICE = 1005;
inline constexpr int IDC_VIEW_COMBO = 1006;
inline constexpr int IDC_VIEW_LABEL = 1007;
inline constexpr int IDC_INTERFACE_COMBO = 1023;
inline constexpr int IDC_BROWSER_COMBO = 1034;
inline constexpr int IDC_BROWSER_LABEL = 1035;
inline constexpr int IDC_CLOSE = 2;
// Controls beyond the template's own, laid out around it.
inline constexpr int IDC_ASSIGN = 1101;
inline constexpr int IDC_EXPORT = 1102;
inline constexpr int IDC_FILTER_LABEL = 1103;
inline constexpr int IDC_FILTER = 1104;
inline constexpr int IDC_KEEP_SEARCHING = 1105;
// Command of the window menu's About item.
inline constexpr int IDM_ABOUTBOX = 16;
// The dialog's only timer (browser set-up run), 500 ms.
inline constexpr int kDialogTimerId = 1;

class CTallyrigDlg : public CTemplateDialog {
  public:
    static constexpr int kTemplateId = 102;

    // env: the engine's host services (production: the platform; tests: fakes). store: the
    // settings store; both must outlive the dialog. browsers: the host side of the browser
    // steps, owned by the dialog.
    CTallyrigDlg(ProtocolEnvironment env, CSettingsStore& store, BrowserPlatform browsers,
                 QWidget* parent = nullptr);
    ~CTallyrigDlg() override;

    // Set-up, then the modal run. Returns the dialog result (1 OK, 2 cancel).
    int Run();
    // The set-up sequence; false when the dialog ended during it (engine socket not ready).
    // Runs once; showing the dialog runs it too when nobody did.
    bool OnInitDialog();
    bool Initialised() const { return initialised_; }

    // Services for the further adapters' sessions (a socket each), started when every adapter
    // is searched; without them "All adapters" is not offered. Before the set-up.
    void SetAdapterServices(CAdapterSessions::StartServices start) {
        adapters_.SetStartServices(std::move(start));
    }

    // ---- Used by the settings change, the browser steps and tests ----
    // The window's own session, on the adapter chosen in the combo (source 0).
    DeviceSession& Session() { return session_; }
    // Every session searching, and the one of a row's source.
    CAdapterSessions& Sessions() { return adapters_; }
    DeviceSession& SessionOf(int source) { return adapters_.At(source); }
    CSearchControl& Searching() { return search_; }
    CProtocol& Engine() { return session_.Engine(); }
    const CProtocol& Engine() const { return session_.Engine(); }
    IScheduler& Scheduler() { return scheduler_; }
    CSettingsStore& Store() { return store_; }
    SettingsChange& SettingsSequence() { return *settingsChange_; }
    const SettingsChange& SettingsSequence() const { return *settingsChange_; }
    BrowserIntegration& Browser() { return *browser_; }
    // Converts the names of devices without UTF-8; without one the host's 8-bit encoding is used.
    void SetAnsiDecoder(AnsiDecoder decoder) { list_.SetAnsiDecoder(std::move(decoder)); }

    // A message of the dialog handled at once ("sent").
    std::intptr_t SendMessage(WindowMessage message, std::uintptr_t wParam = 0,
                              std::intptr_t lParam = 0);
    // A message queued behind the events already waiting ("posted"); dropped when the dialog
    // is gone by then.
    void PostMessage(WindowMessage message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    // A click on a button, queued as if the user had clicked it.
    void PostClick(int buttonId);

    // Timer 1 (the only dialog timer): ticks go to the browser steps.
    void StartTimer(int timerId, int intervalMs);
    void KillTimer(int timerId);
    bool TimerRunning(int timerId) const;

    // Device list (control 1004).
    CDeviceList& List() { return list_; }
    const CDeviceList& List() const { return list_; }
    CListTools& ListTools() { return *tools_; }
    // "Assign addresses..." for the selected devices; the open batch dialog, null when none.
    void OnAssignAddresses();
    CBatchAssignDlg* BatchDialog() const { return batch_; }
    // Every way the window ends comes here: while devices of a closed batch are still being
    // changed, the user is told which and may stay.
    void done(int result) override;
    CSearchRepeat& SearchRepeat() { return *repeat_; }
    // The host's network checks behind the hint in an empty list; set before the set-up.
    // Null (the default): no checks and no hint.
    void SetNetworkSurvey(INetworkSurvey* survey) { survey_ = survey; }
    // The hint and the note inside the device list (exists once the set-up ran).
    CSearchHint& Hint() { return *hint_; }
    // A note the user should read once, kept under the list's rows.
    void ShowNote(const QString& text);

    // Controller.
    void OnSysCommand(int command);
    void ShowAbout();
    // The window menu (the About item is appended at set-up unless text 220 is empty).
    QMenu* WindowMenu() const { return windowMenu_; }

    // The browser combo's codes and choice, the number of interfaces.
    const std::vector<int>& BrowserCodes() const;
    int BrowserCode() const;
    int InterfaceCount() const { return search_.InterfaceCount(); }

    // A device the session of that source stored: its row is written.
    void OnDeviceFound(const _CommandDataTable& record, int number, int source = 0);
    // A batch transaction of that source changed state: the open batch dialog shows it when
    // it is its own.
    void OnTransaction(const TransactionEvent& event, int source = 0);

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    std::intptr_t DispatchMessage(WindowMessage message, std::uintptr_t wParam,
                                  std::intptr_t lParam);
    void CreateControls();
    void SetUpWindowMenu();
    void FitLayout(int columnTotal);
    // The list as wide as its columns; the window and the controls at its right edge follow.
    void FitListWidth(int columnTotal);
    void FitExtraControls();
    void OnSourcesChanged();
    // MAC texts of devices whose batch transactions in sessions from that source on are not
    // final yet.
    QStringList ChangingDevices(int fromSource) const;
    void SetTextsAndCombos();
    void OnReturnKey();
    void OnListDoubleClick();

    IScheduler& scheduler_;
    CSettingsStore& store_;
    DeviceSession session_;
    CAdapterSessions adapters_;
    CDeviceList list_;
    CSearchControl search_;
    std::unique_ptr<SettingsChange> settingsChange_;
    std::unique_ptr<BrowserIntegration> browser_;
    std::unique_ptr<CListTools> tools_;
    std::unique_ptr<CSearchRepeat> repeat_;
    INetworkSurvey* survey_ = nullptr;
    std::unique_ptr<CSearchHint> hint_;
    CBatchAssignDlg* batch_ = nullptr;
    int batchSource_ = 0;
    // Held by every posted callback so that none runs after destruction.
    Lifeline lifeline_;
    TimerId dialogTimer_ = 0;
    bool initialised_ = false;
    bool initOk_ = false;
    QMenu* windowMenu_ = nullptr;
};

}  // namespace valdrune
