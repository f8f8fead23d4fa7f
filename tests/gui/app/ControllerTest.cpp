#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "WindowRig.h"
#include "app/AboutDlg.h"

namespace valdrune::test {
namespace {

struct KeyRig : WindowRig {
    CTallyrigDlg* window = nullptr;
    std::unique_ptr<QSignalSpy> opened;

    KeyRig() {
        window = &Open();
        Found(Device(1, "192.168.0.21"));
        Found(Device(2, "192.168.0.22"));
        Settle();
        window->show();
        opened = std::make_unique<QSignalSpy>(window->ControlAs<QAbstractButton>(IDC_OPEN_DEVICE),
                                              &QAbstractButton::clicked);
    }
    void Select(int row) {
        SelectRow(window->List(), row);
        window->List().View()->setFocus();
    }
    // A confirmed settings change: the window is busy until its outcome.
    void ConfirmSettings() { window->SettingsSequence().Confirm(Device(1, "192.168.0.21"), true); }
    int Opens() {
        // A change confirmed by the test ends once its progress dialog is up, as the device's
        // refusal would end it.
        if (window->SettingsSequence().Busy())
            QTimer::singleShot(0, window, [this] {
                clock.Advance(Milliseconds(50));  // the progress dialog reports itself ready
                window->SendMessage(WM_SETUP_FAILED, 1);
            });
        Settle();
        return static_cast<int>(opened->count());
    }
};

TEST(MainWindowKeys, ReturnOnTheListOpensTheSelectedDevice) {
    KeyRig rig;
    rig.Select(1);
    QTest::keyClick(rig.window->List().View(), Qt::Key_Return);
    EXPECT_EQ(rig.Opens(), 1);
    EXPECT_TRUE(rig.window->isVisible());
}

TEST(MainWindowKeys, ReturnOnTheListWithoutSelectionDoesNothing) {
    KeyRig rig;
    rig.window->List().View()->setFocus();
    rig.window->List().View()->clearSelection();
    QTest::keyClick(rig.window->List().View(), Qt::Key_Return);
    EXPECT_EQ(rig.Opens(), 0);
    EXPECT_TRUE(rig.window->isVisible()) << "the key is consumed, the dialog stays";
}

TEST(MainWindowKeys, DoubleClickOpensUnlessBusy) {
    KeyRig rig;
    rig.Select(0);
    QTreeView* list = rig.window->List().View();
    const QRect cell = list->visualRect(list->model()->index(0, 0));
    const auto doubleClick = [&] {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    };
    doubleClick();
    EXPECT_EQ(rig.Opens(), 1);
    rig.ConfirmSettings();
    doubleClick();
    EXPECT_EQ(rig.Opens(), 1);
}

TEST(MainWindowKeys, BusyIgnoresReturnAndEscape) {
    KeyRig rig;
    rig.Select(0);
    rig.ConfirmSettings();
    QTest::keyClick(rig.window->List().View(), Qt::Key_Return);
    QTest::keyClick(rig.window, Qt::Key_Escape);
    EXPECT_EQ(rig.Opens(), 0);
    EXPECT_TRUE(rig.window->isVisible());
}

TEST(MainWindowKeys, EscapeEndsTheWindowWhenIdle) {
    KeyRig rig;
    QTest::keyClick(rig.window, Qt::Key_Escape);
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_EQ(rig.window->result(), 2);
}

TEST(MainWindowKeys, ReturnOutsideTheListPressesTheFocusedButtonOrEndsWithOk) {
    KeyRig rig;
    QSignalSpy searches(rig.window->ControlAs<QAbstractButton>(IDC_SEARCH),
                        &QAbstractButton::clicked);
    rig.window->Control(IDC_SEARCH)->setFocus();
    QTest::keyClick(rig.window->Control(IDC_SEARCH), Qt::Key_Return);
    EXPECT_EQ(searches.count(), 1);
    EXPECT_TRUE(rig.window->isVisible());
    rig.window->Control(IDC_VIEW_COMBO)->setFocus();
    QTest::keyClick(rig.window->Control(IDC_VIEW_COMBO), Qt::Key_Return);
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_EQ(rig.window->result(), 1);
}

TEST(MainWindowKeys, CloseButtonEndsWithCancelEvenWhenBusy) {
    KeyRig rig;
    rig.ConfirmSettings();
    rig.window->ControlAs<QAbstractButton>(IDC_CLOSE)->click();
    EXPECT_FALSE(rig.window->isVisible());
    EXPECT_EQ(rig.window->result(), 2);
}

TEST(MainWindowAbout, WindowMenuItemIsBlockedWhileBusyButTheButtonIsNot) {
    KeyRig rig;
    int shown = 0;
    CloseNextModal(&shown);
    rig.window->WindowMenu()->actions().last()->trigger();
    EXPECT_EQ(shown, 1);
    rig.ConfirmSettings();
    rig.window->OnSysCommand(IDM_ABOUTBOX);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, 1);
    CloseNextModal(&shown);
    rig.window->ControlAs<QAbstractButton>(IDC_ABOUT)->click();
    EXPECT_EQ(shown, 2);
}

TEST(MainWindowAbout, AboutBoxShowsItsTexts) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About this software");
    EXPECT_EQ(about.ControlAs<QLabel>(IDC_ABOUT_VERSION)->text(), "Valdrune  Ver 5.20");
    EXPECT_FALSE(about.ControlAs<QLabel>(IDC_ABOUT_TEXT)->text().isEmpty());
    EXPECT_EQ(about.ControlAs<QAbstractButton>(1)->text(), "OK");
    about.show();
    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_FALSE(about.isVisible());
}

// ---- Combos -------------------------------------------------------------------------------

TEST(MainWindowCombos, BrowserChoiceIsStoredAndShownAgainNextTime) {
    WindowRig rig;
    CTallyrigDlg& first = rig.Open();
    auto* combo = first.ControlAs<QComboBox>(IDC_BROWSER_COMBO);
    ASSERT_GE(combo->count(), 1);
    const int last = combo->count() - 1;
    emit combo->activated(last);
    EXPECT_EQ(first.BrowserCode(), first.BrowserCodes()[static_cast<std::size_t>(last)]);
    EXPECT_EQ(CSettingsStore(rig.SettingsFile()).ReadBrowser(), first.BrowserCode());
    const int chosen = first.BrowserCode();
    CTallyrigDlg& second = rig.Open();
    EXPECT_EQ(second.BrowserCode(), chosen);
    EXPECT_EQ(second.ControlAs<QComboBox>(IDC_BROWSER_COMBO)->currentIndex(), last);
}

TEST(MainWindowCombos, InterfaceChoiceStoresItsMacAndSearchesAgainThere) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(Device(1, "192.168.0.21"));
    rig.transport.ClearSent();
    emit dlg.ControlAs<QComboBox>(IDC_INTERFACE_COMBO)->activated(1);
    EXPECT_EQ(CSettingsStore(rig.SettingsFile()).ReadIfMac(), kEth1Mac);
    EXPECT_EQ(dlg.List().RowCount(), 0);
    ASSERT_EQ(rig.transport.Sent().size(), 1u);
    EXPECT_EQ(rig.transport.Sent()[0].ifIndex, 3);
}

TEST(MainWindowCombos, RefusedInterfaceStoresNothingButStillSearches) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.Found(Device(1, "192.168.0.21"));
    rig.transport.FailBind(true);
    emit dlg.ControlAs<QComboBox>(IDC_INTERFACE_COMBO)->activated(1);
    EXPECT_FALSE(QFile::exists(rig.SettingsFile()));
    EXPECT_EQ(dlg.List().RowCount(), 0);
    EXPECT_TRUE(dlg.Engine().Devices().Empty());
    EXPECT_TRUE(dlg.Engine().SearchRunning());
}

TEST(MainWindowCombos, ViewComboSwitchesTheView) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    emit dlg.ControlAs<QComboBox>(IDC_VIEW_COMBO)->activated(1);
    EXPECT_EQ(dlg.List().ViewFamily(), 6);
    emit dlg.ControlAs<QComboBox>(IDC_VIEW_COMBO)->activated(0);
    EXPECT_EQ(dlg.List().ViewFamily(), 4);
}

// ---- Messages and timer ---------------------------------------------------------------

TEST(MainWindowMessages, PostedMessagesRunLaterAndNeverAfterTheWindowIsGone) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    rig.FoundAt({"192.168.0.10", "192.168.0.10"});
    dlg.List().Model().SetText(0, COL_OVERLAP, "stale");
    dlg.PostMessage(WM_REFRESH_OVERLAPS, 1);
    EXPECT_EQ(dlg.List().RowText(0, COL_OVERLAP), "stale");
    rig.Settle();
    EXPECT_EQ(dlg.List().RowText(0, COL_OVERLAP), "2");
    dlg.PostMessage(WM_REFRESH_OVERLAPS, 0);
    rig.dlg.reset();
    rig.Settle();  // must not touch the destroyed window
}

TEST(MainWindowMessages, TimerOneRunsOnTheSchedulerUntilKilled) {
    WindowRig rig;
    CTallyrigDlg& dlg = rig.Open();
    const std::size_t before = rig.clock.LiveTimers();
    dlg.StartTimer(kDialogTimerId, 500);
    EXPECT_TRUE(dlg.TimerRunning(kDialogTimerId));
    EXPECT_EQ(rig.clock.LiveTimers(), before + 1);
    dlg.StartTimer(kDialogTimerId, 500);
    EXPECT_EQ(rig.clock.LiveTimers(), before + 1) << "restarting replaces the timer";
    dlg.KillTimer(kDialogTimerId);
    EXPECT_FALSE(dlg.TimerRunning(kDialogTimerId));
    EXPECT_EQ(rig.clock.LiveTimers(), before);
}

}  // namespace
}  // namespace valdrune::test
