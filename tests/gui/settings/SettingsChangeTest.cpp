// The settings change from the Network Settings button to the result box, with the window and
// the engine on fakes: a virtual clock pumped from the event loop, an in-memory transport and
// a scripted echo prober. A small device script answers the way a device would.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QEventLoop>
#include <QTimer>
#include <set>

#include "app/TallyrigDlg.h"
#include "dialogkit/CMessageDialog.h"
#include "dialogkit/ControlText.h"
#include "settings/dialogs/CIpAddressCtrl.h"
#include "settings/dialogs/CSetNetwork.h"
#include "settings/dialogs/CSetNetworkRec.h"
#include "tests/gui/app/WindowRig.h"
#include "tests/support/CaseNames.h"

namespace valdrune::test {
namespace {

constexpr std::uint8_t kTargetByte = 0x20;

// How the simulated device behaves once settings are sent.
struct DeviceScript {
    bool accepts = true;
    bool comesBack = true;
};

class SettingsChangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        dlg = &rig.Open();
        // Let the first search cycle run out, so that every later search is the sequence's.
        rig.clock.Advance(Milliseconds(7000));
        rig.transport.ClearSent();
    }

    _CommandDataTable Target(std::uint8_t kind) {
        RecordBuilder r(Device(kTargetByte, "192.168.0.20"));
        r.Kind(kind)
            .Address(nullptr, "255.255.255.0", "192.168.0.1").Capability(1).Ipv4Mode(3).Flags(0x92)
            .Addressing(kind == DEVICE_KIND_LEGACY ? 0x12 : 0x92);
        if (kind == DEVICE_KIND_TWO_PORT) r.PortOptions(6, 1, 2);
        return r;
    }

    void AddAndSelect(const _CommandDataTable& r) {
        rig.Found(r);
        rig.Settle();
        SelectMac(r.primary.mac);
    }
    void SelectMac(const MacAddress& mac) {
        SelectMacRow(dlg->List(), QString::fromStdString(MacText(mac)));
    }

    std::uint16_t SettingsCommand(std::uint8_t kind) const {
        std::uint16_t command = 0, mask = 0;
        CProtocol::CommandForKind(kind, command, mask);
        return command;
    }

    // Presses Network Settings; `edit` fills the settings dialog, which is then saved (or left
    // with Back when `save` is false). The virtual clock then runs, pumped from the event loop,
    // until the result box has been shown or 200 virtual seconds have passed.
    void Change(std::uint8_t kind, const std::function<void(CTemplateDialog&)>& edit,
                DeviceScript script = {}, bool save = true) {
        const std::uint16_t command = SettingsCommand(kind);
        const std::uint16_t acceptance = command == CMD_SETUP_V2 ? CMD_SETUP_V2_REPLY : CMD_SETUP_REPLY;
        bool edited = false, accepted = false, answeredRestart = false, refused = false;
        std::size_t searchesBefore = 0;
        // Each tick queues the next one before it works, so that ticks keep coming while a
        // modal dialog opened by this tick runs its own loop.
        bool pumping = true;
        std::function<void()> tick;
        tick = [&] {
            if (!pumping) return;
            QTimer::singleShot(0, tick);
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* settings = dynamic_cast<CTemplateDialog*>(modal);
                settings != nullptr && settings != dlg && !dynamic_cast<CMessageDialog*>(modal)) {
                if (!edited) {
                    edited = true;
                    seenDialogs.push_back(modal->metaObject()->className());
                    settingsDialogKind = dynamic_cast<CSetNetworkRec*>(modal) ? 131 : 130;
                    if (edit) edit(*settings);
                    settings->ControlAs<QAbstractButton>(save ? 1 : 2)->click();
                } else {
                    // Save was refused: leave, so that the test fails instead of hanging.
                    ADD_FAILURE() << "settings dialog refused Save, boxes " << ::testing::PrintToString(BoxIds());
                    settings->ControlAs<QAbstractButton>(2)->click();
                    refused = true;
                }
                return;
            }
            if (auto* progress = dynamic_cast<CMessageDialog*>(modal)) {
                progressTexts.insert(progress->MessageText());
                progressElapsed.insert(progress->ElapsedText());
            }
            if (rig.clock.PendingPosts() > 0) {
                rig.clock.RunPosted();
                return;
            }
            rig.clock.Advance(Milliseconds(100));
            if (script.accepts && !accepted && !rig.transport.SentWithCommand(command).empty()) {
                accepted = true;
                rig.transport.Deliver(AnswerBuilder(acceptance, Mac(kTargetByte)).Build());
                searchesBefore = rig.transport.SentWithCommand(CMD_SEARCH).size();
            }
            if (accepted && script.comesBack && !answeredRestart &&
                rig.transport.SentWithCommand(CMD_SEARCH).size() > searchesBefore) {
                answeredRestart = true;
                rig.transport.Deliver(AnswerBuilder(14, Mac(kTargetByte))
                                          .U8(0, 0)
                                          .Ipv4(32, newAddress)
                                          .U16(37, 80)
                                          .Build());
            }
        };
        QTimer::singleShot(0, tick);
        dlg->ControlAs<QAbstractButton>(IDC_NETWORK_SETTINGS)->click();
        const Milliseconds limit = rig.clock.Now() + Milliseconds(200000);
        // Ends at the result box, or when the change went back to the idle window without one.
        const auto wentBack = [&] {
            return edited && !dlg->SettingsSequence().Busy() &&
                   QApplication::activeModalWidget() == nullptr;
        };
        while (OutcomeBoxes() == 0 && rig.clock.Now() < limit && (save || !edited) && !refused &&
               !wentBack())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        pumping = false;
        QCoreApplication::processEvents();
        rig.clock.RunPosted();
    }

    std::size_t OutcomeBoxes() const {
        std::size_t n = 0;
        for (const auto& b : rig.boxes) n += b.textId >= 436 && b.textId <= 442;
        return n;
    }
    std::vector<int> BoxIds() const {
        std::vector<int> ids;
        for (const auto& b : rig.boxes) ids.push_back(b.textId);
        return ids;
    }
    static void SetNewAddress(CTemplateDialog& d, int control, const char* dotted) {
        d.ControlAs<CIpAddressCtrl>(control)->SetAddress(Ip(dotted));
    }

    WindowRig rig;
    CTallyrigDlg* dlg = nullptr;
    const char* newAddress = "192.168.0.40";
    std::vector<std::string> seenDialogs;
    int settingsDialogKind = 0;
    std::set<QString> progressTexts;
    std::set<QString> progressElapsed;
    // The progress dialog showed the elapsed time of a step with this limit (in seconds).
    bool StepShown(int limit) const {
        for (int e = 0; e <= limit; ++e)
            if (progressElapsed.count(FormatNumber(FormatNumber(DialogText(1113), e), limit)))
                return true;
        return false;
    }
};

TEST_F(SettingsChangeTest, WithoutSelectionAsksForADevice) {
    rig.Found(Target(DEVICE_KIND_STANDARD));
    rig.Settle();
    dlg->ControlAs<QAbstractButton>(IDC_NETWORK_SETTINGS)->click();
    ASSERT_EQ(BoxIds(), std::vector<int>{221});
    EXPECT_EQ(rig.boxes[0].boxType, 0x30);
    EXPECT_FALSE(dlg->SettingsSequence().Busy());
}

TEST_F(SettingsChangeTest, DeviceRestartedLongAgoIsRefusedBeforeAnyDialog) {
    _CommandDataTable r = Target(DEVICE_KIND_STANDARD);
    r.statusBits = 1;
    AddAndSelect(r);
    dlg->ControlAs<QAbstractButton>(IDC_NETWORK_SETTINGS)->click();
    EXPECT_EQ(BoxIds(), std::vector<int>{443});
    EXPECT_EQ(dlg->SettingsSequence().TargetMac(), Mac(kTargetByte));
}

TEST_F(SettingsChangeTest, BackSendsNothingAndLeavesTheWindowIdle) {
    AddAndSelect(Target(DEVICE_KIND_STANDARD));
    Change(DEVICE_KIND_STANDARD, nullptr, {}, false);
    EXPECT_TRUE(rig.boxes.empty());
    EXPECT_FALSE(dlg->SettingsSequence().Busy());
    EXPECT_TRUE(rig.transport.SentWithCommand(CMD_SETUP_V2).empty());
}

struct Outcome {
    const char* name;
    std::uint8_t kind;
    DeviceScript script;
    bool conflict;      // the new address already answers an echo
    bool untickWait;    // single-port only: untick "Wait for device restarting."
    int textId;
    int boxType;
    bool sent;
    int restartText;    // the progress dialog showed 227: 1 yes, 0 never, -1 too briefly to see
    bool probeDenied = false;  // this process may not send echo requests
    std::vector<int> boxes = {};  // when more than the result box is shown
};

class SettingsChangeOutcome : public SettingsChangeTest,
                              public ::testing::WithParamInterface<Outcome> {};

TEST_P(SettingsChangeOutcome, EndsWithTheResultBoxAfterTheProgressDialogClosed) {
    const Outcome& p = GetParam();
    AddAndSelect(Target(p.kind));
    if (p.conflict) rig.prober.SetResult(Ip(newAddress), ECHO_ANSWERED);
    if (p.probeDenied) rig.prober.SetPermitted(false);
    const bool twoPort = p.kind == DEVICE_KIND_TWO_PORT;
    Change(p.kind, [&](CTemplateDialog& d) {
        SetNewAddress(d, twoPort ? 1055 : 1015, newAddress);
        if (p.untickWait) d.ControlAs<QAbstractButton>(1032)->click();
    }, p.script);

    EXPECT_EQ(settingsDialogKind, twoPort ? 131 : 130);
    ASSERT_EQ(BoxIds(), p.boxes.empty() ? std::vector<int>{p.textId} : p.boxes);
    EXPECT_EQ(rig.boxes.back().boxType, p.boxType);
    EXPECT_EQ(rig.boxes.back().owner, dlg);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the progress dialog is gone";
    EXPECT_FALSE(dlg->SettingsSequence().Busy());
    EXPECT_EQ(dlg->SettingsSequence().ProgressWindow(), 0u);
    EXPECT_EQ(dlg->SettingsSequence().OutcomeTextId(), 0);
    EXPECT_EQ(dlg->SettingsSequence().PendingSettings().primary.ipAddress, Ip(newAddress));
    const auto sent = rig.transport.SentWithCommand(SettingsCommand(p.kind));
    EXPECT_EQ(sent.size(), p.sent ? 3u : 0u);
    EXPECT_TRUE(progressTexts.count(DialogText(226)));
    if (p.restartText >= 0) {
        EXPECT_EQ(progressTexts.count(DialogText(227)), static_cast<std::size_t>(p.restartText));
        EXPECT_EQ(StepShown(120), p.restartText == 1) << "the restart wait against its limit";
    }
    EXPECT_EQ(StepShown(30), p.sent) << "the acceptance wait against its limit";
    EXPECT_EQ(dlg->SettingsSequence().WaitForRestart(), !p.untickWait);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SettingsChangeOutcome,
    ::testing::Values(
        Outcome{"StandardCompletes", DEVICE_KIND_STANDARD, {}, false, false, 441, 0x40, true, 1},
        Outcome{"LegacyCompletes", DEVICE_KIND_LEGACY, {}, false, false, 441, 0x40, true, 1},
        Outcome{"TwoPortCompletesWithoutRestartWait", DEVICE_KIND_TWO_PORT, {true, false}, false,
                false, 441, 0x40, true, 0},
        Outcome{"UntickedWaitEndsAtAcceptance", DEVICE_KIND_STANDARD, {true, false}, false, true,
                442, 0x40, true, -1},
        Outcome{"AddressInUseSendsNothing", DEVICE_KIND_STANDARD, {}, true, false, 436, 0x30,
                false, 0},
        // A probe that could not run is no conflict, but the user hears it before anything is
        // sent and goes on only with OK.
        Outcome{"ProbeNotPermittedAsksThenSends", DEVICE_KIND_LEGACY, {}, false, false, 441, 0x40,
                true, 1, true, {903, 441}},
        Outcome{"NoAcceptance", DEVICE_KIND_LEGACY, {false, false}, false, false, 439, 0x30, true,
                0},
        Outcome{"NeverBack", DEVICE_KIND_STANDARD, {true, false}, false, false, 440, 0x30, true,
                1}),
    ByName{});

TEST_F(SettingsChangeTest, UncheckedAddressWithCancelGoesBackWithoutSending) {
    AddAndSelect(Target(DEVICE_KIND_STANDARD));
    rig.prober.SetPermitted(false);
    SetMessageBoxHandler([this](const MessageBoxRequest& r) {
        rig.boxes.push_back(r);
        return r.textId == 903 ? ID_CANCEL : ID_OK;
    });
    Change(DEVICE_KIND_STANDARD, [&](CTemplateDialog& d) { SetNewAddress(d, 1015, newAddress); });
    ASSERT_EQ(BoxIds(), std::vector<int>{903});
    EXPECT_EQ(rig.boxes[0].boxType, MB_OKCANCEL_ | MB_ICONEXCLAMATION_);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the progress dialog is gone";
    EXPECT_FALSE(dlg->SettingsSequence().Busy());
    EXPECT_TRUE(rig.transport.SentWithCommand(SettingsCommand(DEVICE_KIND_STANDARD)).empty());
}

TEST_F(SettingsChangeTest, TwoPortSuccessSearchesAgainAtOnce) {
    AddAndSelect(Target(DEVICE_KIND_TWO_PORT));
    Change(DEVICE_KIND_TWO_PORT, nullptr, {true, false});
    ASSERT_EQ(BoxIds(), std::vector<int>{441});
    const auto settings = rig.transport.SentWithCommand(CMD_SETUP);
    const auto searches = rig.transport.SentWithCommand(CMD_SEARCH);
    ASSERT_FALSE(searches.empty());
    EXPECT_GT(searches.front().time, settings.back().time);
    EXPECT_LT(searches.front().time - settings.back().time, Milliseconds(1000))
        << "a new search at once, not the restart wait";
}

TEST_F(SettingsChangeTest, UntickedWaitStaysUntickedForTheNextChange) {
    AddAndSelect(Target(DEVICE_KIND_STANDARD));
    Change(DEVICE_KIND_STANDARD, [](CTemplateDialog& d) {
        d.ControlAs<QAbstractButton>(1032)->click();
    }, {true, false});
    ASSERT_EQ(BoxIds(), std::vector<int>{442});
    rig.boxes.clear();
    rig.transport.ClearSent();
    bool tickedAtOpen = true;
    SelectMac(Mac(kTargetByte));
    Change(DEVICE_KIND_STANDARD, [&](CTemplateDialog& d) {
        tickedAtOpen = d.ControlAs<QAbstractButton>(1032)->isChecked();
    }, {true, false});
    EXPECT_FALSE(tickedAtOpen);
    EXPECT_EQ(BoxIds(), std::vector<int>{442});
}

TEST_F(SettingsChangeTest, CompletedChangeSortsAnAddressSortedListAgain) {
    // The target sorts first by address; its new address sorts it last.
    rig.Found(Device(0x10, "192.168.0.30"));
    AddAndSelect(Target(DEVICE_KIND_STANDARD));
    dlg->List().OnColumnClick(COL_ADDRESS);
    ASSERT_EQ(dlg->List().RowText(0, COL_MAC), QString::fromStdString(MacText(Mac(kTargetByte))));
    SelectMac(Mac(kTargetByte));
    Change(DEVICE_KIND_STANDARD, [&](CTemplateDialog& d) { SetNewAddress(d, 1015, newAddress); });
    ASSERT_EQ(BoxIds(), std::vector<int>{441});
    EXPECT_EQ(dlg->List().RowText(1, COL_MAC), QString::fromStdString(MacText(Mac(kTargetByte))));
    EXPECT_EQ(dlg->List().RowText(1, COL_ADDRESS), newAddress);
}

TEST_F(SettingsChangeTest, CompletedChangeSortsAnOverlapSortedListAgain) {
    // Before: A #1 alone, the target #2 and B #3 share .20. After: the target shares .40 with A.
    rig.Found(Device(0x10, newAddress));
    AddAndSelect(Target(DEVICE_KIND_STANDARD));
    rig.Found(Device(0x11, "192.168.0.20"));
    rig.Settle();
    dlg->List().OnColumnClick(COL_OVERLAP);
    ASSERT_EQ(dlg->List().RowText(0, COL_MAC), QString::fromStdString(MacText(Mac(0x10))));
    SelectMac(Mac(kTargetByte));
    Change(DEVICE_KIND_STANDARD, [&](CTemplateDialog& d) { SetNewAddress(d, 1015, newAddress); });
    ASSERT_EQ(BoxIds(), std::vector<int>{441});
    const QStringList expected = {"", "1", "2"};
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(dlg->List().RowText(row, COL_OVERLAP), expected[row]);
    EXPECT_EQ(dlg->List().RowText(0, COL_MAC), QString::fromStdString(MacText(Mac(0x11))));
}

}  // namespace
}  // namespace valdrune::test
