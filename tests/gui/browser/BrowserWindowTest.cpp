// The main window's browser steps on fakes: the Open button with its refusals, the chosen
// browser started with the device URL, and the Edge set-up run through the real message
// dialog, on the virtual clock. Browsers are stand-ins whose starts are recorded, never run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/BrowserIntegration.h"
#include "browser/core/CDeviceBrowser.h"
#include "dialogkit/CMessageDialog.h"
#include "dialogkit/ControlText.h"
#include "tests/gui/app/WindowRig.h"

namespace valdrune::test {
namespace {

// Drives modal message dialogs from inside their own loops: each step looks at the dialog on
// top, then advances the virtual clock by 100 ms. The next step is queued first, so a dialog
// opened during a step is driven too.
struct ModalDriver : std::enable_shared_from_this<ModalDriver> {
    VirtualScheduler& clock;
    std::function<void(CMessageDialog&)> onDialog;
    bool stopped = false;
    int steps = 0;

    ModalDriver(VirtualScheduler& c, std::function<void(CMessageDialog&)> f)
        : clock(c), onDialog(std::move(f)) {}
    void Step() {
        if (stopped || ++steps > 20000) return;
        std::weak_ptr<ModalDriver> self = shared_from_this();
        QTimer::singleShot(0, [self] {
            if (auto d = self.lock()) d->Step();
        });
        if (auto* dialog = dynamic_cast<CMessageDialog*>(QApplication::activeModalWidget())) {
            onDialog(*dialog);
        }
        clock.Advance(Milliseconds(100));
    }
};

int ComboIndexOf(CTallyrigDlg& dlg, int code) {
    for (std::size_t i = 0; i < dlg.BrowserCodes().size(); ++i) {
        if (dlg.BrowserCodes()[i] == code) return static_cast<int>(i);
    }
    return -1;
}

void Choose(CTallyrigDlg& dlg, int code) {
    auto* combo = dlg.ControlAs<QComboBox>(IDC_BROWSER_COMBO);
    const int index = ComboIndexOf(dlg, code);
    ASSERT_GE(index, 0);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

void ClickOpen(CTallyrigDlg& dlg) { dlg.ControlAs<QPushButton>(IDC_OPEN_DEVICE)->click(); }

void SelectRow(CTallyrigDlg& dlg, int row) { test::SelectRow(dlg.List(), row); }

// Selects the first row, chooses browser (unless -1), presses Open and lets ms pass.
void OpenFirstRow(WindowRig& rig, CTallyrigDlg& dlg, int browser, int ms) {
    SelectRow(dlg, 0);
    if (browser != -1) Choose(dlg, browser);
    ClickOpen(dlg);
    rig.clock.Advance(Milliseconds(ms));
}

std::vector<int> BoxIds(const WindowRig& rig) {
    std::vector<int> ids;
    for (const auto& b : rig.boxes) ids.push_back(b.textId);
    return ids;
}

const std::vector<std::string> ALL{"msedge", "chrome", "firefox", "iexplore"};

// The window with every browser installed and device 1 listed at 192.168.0.21.
struct ListedDevice {
    BrowserSandbox sandbox{ALL};
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open(sandbox);

    ListedDevice() { rig.Found(Device(1, "192.168.0.21")); }
};

// ---- combo and Open button --------------------------------------------------------------------

TEST(BrowserWindow, ComboOffersAutoAndTheDetectedBrowsersInOrder) {
    BrowserSandbox sandbox({"msedge", "firefox"});
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open(sandbox);
    auto* combo = dlg.ControlAs<QComboBox>(IDC_BROWSER_COMBO);
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    EXPECT_EQ(texts,
              (QStringList{"Auto", "Microsoft Edge (IE mode)", "Microsoft Edge", "Firefox"}));
    EXPECT_EQ(dlg.BrowserCodes(), (std::vector<int>{0, 1, 2, 4}));
}

TEST(BrowserWindow, TooOldEdgeIsNotOffered) {
    BrowserSandbox sandbox({"msedge", "chrome"}, "69.9");
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open(sandbox);
    EXPECT_EQ(dlg.BrowserCodes(), (std::vector<int>{0, 3}));
}

TEST(BrowserWindow, OpenWithoutSelectionShowsTheNoSelectionMessage) {
    ListedDevice w;
    w.dlg.List().View()->clearSelection();
    ClickOpen(w.dlg);
    w.rig.clock.Advance(Milliseconds(10000));
    ASSERT_EQ(BoxIds(w.rig), std::vector<int>{221});
    EXPECT_EQ(w.rig.boxes[0].owner, &w.dlg);
    EXPECT_EQ(w.rig.boxes[0].boxType, 0x30);
    EXPECT_TRUE(w.sandbox.launches.empty());
    EXPECT_TRUE(w.rig.prober.Calls().empty());
}

TEST(BrowserWindow, OverlappingAddressIsRefusedWithoutAProbe) {
    ListedDevice w;
    w.rig.Found(Device(2, "192.168.0.21"));
    w.rig.Settle();
    OpenFirstRow(w.rig, w.dlg, -1, 10000);
    EXPECT_EQ(BoxIds(w.rig), std::vector<int>{223});
    EXPECT_TRUE(w.rig.prober.Calls().empty());
    EXPECT_TRUE(w.sandbox.launches.empty());
}

TEST(BrowserWindow, SilentDeviceIsRefusedAfterItsProbe) {
    ListedDevice w;
    OpenFirstRow(w.rig, w.dlg, BROWSER_CHROME, 20000);
    EXPECT_EQ(BoxIds(w.rig), std::vector<int>{222});
    EXPECT_FALSE(w.rig.prober.Calls().empty());
    EXPECT_TRUE(w.sandbox.launches.empty());
}

TEST(BrowserWindow, AnsweringDeviceOpensInTheChosenBrowser) {
    BrowserSandbox sandbox(ALL);
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open(sandbox);
    _CommandDataTable https = Device(1, "192.168.0.21", 443);
    https.https = 1;
    rig.Found(https);
    rig.prober.SetResult(Ip("192.168.0.21"), ECHO_ANSWERED);
    OpenFirstRow(rig, dlg, BROWSER_FIREFOX, 20000);
    EXPECT_TRUE(rig.boxes.empty());
    ASSERT_EQ(sandbox.launches.size(), 1u);
    EXPECT_EQ(sandbox.launches[0], Launch(sandbox.Path("firefox"), {"https://192.168.0.21:443"}));
}

TEST(BrowserWindow, BrowserThatCannotBeExecutedIsReportedWithTheSystemsReason) {
    BrowserSandbox sandbox({"firefox"});  // a stand-in file without execute permission
    sandbox.startForReal = true;
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open(sandbox);
    rig.Found(Device(1, "192.168.0.21"));
    rig.prober.SetResult(Ip("192.168.0.21"), ECHO_ANSWERED);
    OpenFirstRow(rig, dlg, BROWSER_FIREFOX, 20000);
    ASSERT_EQ(BoxIds(rig), std::vector<int>{MSG_BROWSER_NOT_STARTED});
    EXPECT_EQ(rig.boxes[0].owner, &dlg);
    EXPECT_EQ(rig.boxes[0].boxType, MB_OK_ | MB_ICONEXCLAMATION_);
    EXPECT_EQ(QString::fromStdString(rig.boxes[0].extraText),
              FillIn(DialogText(MSG_BROWSER_NOT_STARTED),
                     {QString::fromStdString(sandbox.Path("firefox")), std::strerror(EACCES)}));
}

// ---- Edge set-up run ----------------------------------------------------------------------------

// The device's model is in no list, so opening it in IE mode needs the set-up run.
struct SetupRun : ListedDevice {
    SetupRun() {
        rig.prober.SetResult(Ip("192.168.0.21"), ECHO_ANSWERED);
        SelectRow(dlg, 0);
        Choose(dlg, BROWSER_EDGE_IE_MODE);
    }
    const CDeviceBrowser& Decisions() const { return dlg.Browser().Decisions(); }
    void AddEdgeWindow() {
        sandbox.windows->windows.push_back({900, false, "Start - Microsoft Edge"});
    }
    // Presses Open and lets 5 s pass while onDialog sees each message dialog on top.
    void OpenDriving(std::function<void(CMessageDialog&)> onDialog) {
        auto driver = std::make_shared<ModalDriver>(rig.clock, std::move(onDialog));
        driver->Step();
        ClickOpen(dlg);
        rig.clock.Advance(Milliseconds(5000));
        driver->stopped = true;
        rig.Settle();
    }
};

TEST(EdgeSetupRun, RewritesTheListRestartsEdgeMinimisesItAndOpensThePageAfterTheCountdown) {
    SetupRun run;
    ASSERT_TRUE(run.Decisions().SiteListPending());
    std::vector<int> seenSeconds;
    run.OpenDriving([&](CMessageDialog& d) {
        EXPECT_EQ(d.Mode(), CMessageDialog::kCountdownMode);
        if (seenSeconds.empty() || seenSeconds.back() != d.SecondsLeft()) {
            seenSeconds.push_back(d.SecondsLeft());
        }
        QTest::keyClick(&d, Qt::Key_Escape);  // neither key closes it
        QTest::keyClick(&d, Qt::Key_Return);
        if (d.SecondsLeft() == 73 && run.sandbox.windows->windows.empty()) run.AddEdgeWindow();
    });

    EXPECT_EQ(BoxIds(run.rig), std::vector<int>{240});
    ASSERT_FALSE(seenSeconds.empty());
    EXPECT_EQ(seenSeconds.front(), 75);
    EXPECT_EQ(seenSeconds.back(), 1);
    EXPECT_EQ(run.sandbox.windows->minimized, std::vector<std::uint64_t>{900});
    ASSERT_EQ(run.sandbox.launches.size(), 2u);
    EXPECT_EQ(run.sandbox.launches[0], Launch(run.sandbox.Path("msedge"), {}));
    EXPECT_EQ(run.sandbox.launches[1],
              Launch(run.sandbox.Path("msedge"), {"http://192.168.0.21:80"}));
    EXPECT_FALSE(run.Decisions().SiteListPending());
    EXPECT_EQ(run.Decisions().EdgeWaitMode(), 0);

    const std::string list = Slurp(run.sandbox.Path("start/Quembrel_sitelist.xml"));
    EXPECT_NE(list.find("  <site url=\"http://192.168.0.21/\">\r\n"), std::string::npos) << list;
    const std::string policy = Slurp(run.sandbox.Path("managed/valdrune.json"));
    EXPECT_NE(policy.find(run.sandbox.Path("start/Quembrel_sitelist.xml")), std::string::npos);
    EXPECT_NE(policy.find("\"InternetExplorerIntegrationLevel\": 1"), std::string::npos);
}

// The set-up run's dialogs run nested inside whatever modal loop is up; they must not take over
// the progress window of a settings change that is still waiting for its outcome.
TEST(EdgeSetupRun, LeavesTheProgressWindowOfARunningSettingsChangeAlone) {
    SetupRun run;
    CMessageDialog progress(run.rig.clock, &run.dlg);
    progress.SetMode(CMessageDialog::kProgressMode);
    progress.setResult(0);
    run.dlg.SendMessage(WM_PROGRESS_READY, progress.Handle());
    bool outcomeSent = false;
    run.OpenDriving([&](CMessageDialog& d) {
        if (&d == &progress || outcomeSent) return;
        // The device's answer to the settings arrives while the countdown runs.
        outcomeSent = true;
        run.dlg.SendMessage(WM_SETUP_FAILED, 1);
    });

    ASSERT_TRUE(outcomeSent);
    EXPECT_EQ(progress.result(), ID_CANCEL) << "the outcome closes the progress dialog";
    EXPECT_EQ(run.dlg.SettingsSequence().OutcomeTextId(), 439);
}

TEST(EdgeSetupRun, OpenEdgeWindowsMustCloseBeforeOkThenTheRunContinues) {
    SetupRun run;
    run.AddEdgeWindow();
    int closeDialogs = 0;
    bool okWasDisabled = false;
    run.OpenDriving([&](CMessageDialog& d) {
        if (d.Mode() != CMessageDialog::kCloseWindowsMode) return;
        ++closeDialogs;
        auto* ok = d.ControlAs<QPushButton>(ID_OK);
        ASSERT_NE(ok, nullptr);
        if (closeDialogs == 5) {
            okWasDisabled = !ok->isEnabled();
            QTest::keyClick(&d, Qt::Key_Return);
            run.sandbox.windows->windows.clear();  // the user closes Edge
        }
        if (closeDialogs > 5 && ok->isEnabled()) ok->click();
    });

    EXPECT_TRUE(okWasDisabled);
    EXPECT_GT(closeDialogs, 5);
    ASSERT_EQ(run.sandbox.launches.size(), 2u);
    EXPECT_EQ(run.sandbox.launches[0], Launch(run.sandbox.Path("msedge"), {}));
    EXPECT_EQ(run.sandbox.launches[1].second, std::vector<std::string>{"http://192.168.0.21:80"});
    EXPECT_FALSE(run.Decisions().SiteListPending());
}

TEST(EdgeSetupRun, CancelWhileEdgeIsOpenEndsTheRunWithoutThePage) {
    SetupRun run;
    run.AddEdgeWindow();
    run.OpenDriving([&](CMessageDialog& d) {
        if (auto* cancel = d.ControlAs<QPushButton>(ID_CANCEL)) cancel->click();
    });
    EXPECT_TRUE(run.sandbox.launches.empty());
    EXPECT_EQ(run.Decisions().EdgeWaitMode(), 0);
    EXPECT_FALSE(run.Decisions().SiteListPending()) << "the next open starts Edge directly";
    EXPECT_FALSE(run.dlg.TimerRunning(kDialogTimerId));

    // The next open goes straight to Edge.
    ClickOpen(run.dlg);
    run.rig.clock.Advance(Milliseconds(5000));
    ASSERT_EQ(run.sandbox.launches.size(), 1u);
    EXPECT_EQ(run.sandbox.launches[0].second, std::vector<std::string>{"http://192.168.0.21:80"});
}

}  // namespace
}  // namespace valdrune::test
