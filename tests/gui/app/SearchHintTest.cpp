// The hint in the empty device list and the note under its rows, through the real window with
// network checks the test fills in.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "WindowRig.h"
#include "app/SearchHint.h"
#include "dialogkit/ControlText.h"

namespace valdrune::test {
namespace {

using std::chrono::milliseconds;

// Gather runs on the window's worker thread; a held survey waits for Release.
struct FakeSurvey final : INetworkSurvey {
    std::mutex lock;
    std::condition_variable released;
    bool hold = false;
    NetworkFacts facts;
    int gathered = 0;
    std::int32_t lastIndex = -2;

    FakeSurvey() {
        facts.adapterFound = true;
        facts.adapter = AdapterFacts{"eth0", 0xC0A8000A, 24, true, true, false};
        facts.rules = RuleOutcome::Drops;
        facts.ruleText = "udp dport 10669 <b>drop</b>";
        facts.rulePlace = "inet f input handle 7";
        facts.ruleFixCommand = "nft insert rule inet f input udp dport 10669 accept";
        facts.outsideRouteAdapter = "eth0";
        facts.canProbe = facts.canFlush = true;
    }
    NetworkFacts Gather(const std::string&, std::int32_t index) override {
        std::unique_lock<std::mutex> l(lock);
        released.wait(l, [this] { return !hold; });
        ++gathered;
        lastIndex = index;
        return facts;
    }
    void Hold() {
        std::lock_guard<std::mutex> l(lock);
        hold = true;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> l(lock);
            hold = false;
        }
        released.notify_all();
    }
    int Gathered() {
        std::lock_guard<std::mutex> l(lock);
        return gathered;
    }
};

struct HintRig {
    FakeSurvey survey;  // outlives the window, which waits for its checks
    WindowRig rig;
    CTallyrigDlg* window = nullptr;

    HintRig() {
        window = &rig.Create(rig.noBrowsers);
        window->SetNetworkSurvey(&survey);
        window->OnInitDialog();
        window->show();
    }
    CSearchHint& Hint() { return window->Hint(); }
    // Runs the clock to the end of the current cycle and waits for the checks it started.
    void EndCycle(milliseconds after = milliseconds(8000)) {
        rig.clock.Advance(after);
        rig.Settle();
        ASSERT_TRUE(QTest::qWaitFor([this] { return !Hint().Checking(); }, 5000));
    }
};

TEST(SearchHint, AnEmptyCycleNamesTheCauseAndItsFixInsideTheListAsPlainText) {
    HintRig h;
    h.rig.clock.Advance(milliseconds(7999));
    h.rig.Settle();
    EXPECT_FALSE(h.Hint().HintShown()) << "no hint before the cycle's end";
    h.EndCycle(milliseconds(1));
    EXPECT_EQ(h.survey.lastIndex, 2) << "the adapter searched on";
    ASSERT_TRUE(h.Hint().HintShown());
    const QString text = h.Hint().HintText();
    EXPECT_TRUE(text.startsWith(DialogText(910))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("udp dport 10669 <b>drop</b>"))) << text.toStdString();
    EXPECT_TRUE(
        text.endsWith(QStringLiteral("nft insert rule inet f input udp dport 10669 accept")));
    auto* panel = h.window->List().View()->viewport()->findChild<QWidget*>("searchHint");
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    for (const QLabel* label : panel->findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText);

    h.rig.Found(Device(1, "192.168.0.21"));
    EXPECT_FALSE(h.Hint().HintShown()) << "a listed device ends the hint";
    h.window->ControlAs<QAbstractButton>(IDC_SEARCH)->click();
    h.EndCycle();
    EXPECT_EQ(h.survey.Gathered(), 2) << "a requested search checks again";
    EXPECT_TRUE(h.Hint().HintShown());
}

TEST(SearchHint, ACheckOvertakenByADeviceOrAnAdapterShowsNothingAndClosingWaitsForIt) {
    HintRig h;
    h.survey.Hold();
    h.rig.clock.Advance(milliseconds(8000));
    h.rig.Settle();
    ASSERT_TRUE(h.Hint().Checking());
    h.rig.Found(Device(1, "192.168.0.21"));
    h.survey.Release();
    ASSERT_TRUE(QTest::qWaitFor([&h] { return !h.Hint().Checking(); }, 5000));
    EXPECT_FALSE(h.Hint().HintShown());

    h.survey.Hold();
    auto* adapters = h.window->ControlAs<QComboBox>(IDC_INTERFACE_COMBO);
    emit adapters->activated(1);
    h.rig.clock.Advance(milliseconds(8000));
    h.rig.Settle();
    ASSERT_TRUE(h.Hint().Checking()) << "another adapter is checked at its first cycle's end";
    emit adapters->activated(0);
    std::thread later([&h] {
        std::this_thread::sleep_for(milliseconds(100));
        h.survey.Release();
    });
    h.rig.dlg.reset();
    EXPECT_EQ(h.survey.Gathered(), 2) << "the window waited for the check";
    later.join();
    QApplication::processEvents();  // the dropped result must not reach the gone window
}

TEST(SearchHint, KeepSearchingKeepsTheHintUpAndChecksAgainOnlyAfterAMinute) {
    HintRig h;
    h.window->ControlAs<QCheckBox>(IDC_KEEP_SEARCHING)->setChecked(true);
    h.EndCycle();
    ASSERT_TRUE(h.Hint().HintShown());
    h.survey.facts.portHolders = {PortHolder{-1, {}}};
    for (int cycle = 2; cycle <= 8; ++cycle) {
        h.EndCycle();
        EXPECT_TRUE(h.Hint().HintShown()) << "cycle " << cycle;
    }
    EXPECT_EQ(h.Hint().ChecksStarted(), 1) << "56 s after the first check";
    h.EndCycle();
    EXPECT_EQ(h.Hint().ChecksStarted(), 2);
    EXPECT_TRUE(h.Hint().HintText().contains(DialogText(928))) << "the port now comes first";
}

TEST(SearchHint, TheNoteSitsUnderTheRowsWithoutCoveringOne) {
    HintRig h;
    QTreeView* list = h.window->List().View();
    const int rowsHeight = list->viewport()->height();
    const QRect placed = list->geometry();
    h.window->ShowNote(QStringLiteral("Grant it: sudo setcap cap_net_raw,cap_net_admin+p /x"));
    QApplication::processEvents();
    auto* note = list->findChild<QLabel*>("probeNote");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->textFormat(), Qt::PlainText);
    EXPECT_GE(note->geometry().top(), list->viewport()->geometry().bottom());
    EXPECT_LE(note->geometry().bottom(), list->contentsRect().bottom());
    EXPECT_LT(list->viewport()->height(), rowsHeight);
    EXPECT_EQ(list->geometry(), placed) << "the list itself stays where it was";
}

}  // namespace
}  // namespace valdrune::test
