// The progress and message dialog on a virtual clock: ready notices, text changes, the
// 75-second countdown, the keys it swallows and who may close it.
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "dialogkit/CMessageDialog.h"
#include "dialogkit/ControlText.h"
#include "tests/gui/settings/GuiSupport.h"
#include "tests/support/VirtualScheduler.h"

namespace valdrune::test {
namespace {

struct Posted {
    WindowMessage message;
    std::uintptr_t wParam;
};

class MessageDialogTest : public ::testing::Test {
protected:
    std::unique_ptr<CMessageDialog> Open(int mode, int textId, bool withOwner = true) {
        auto d = std::make_unique<CMessageDialog>(clock);
        if (withOwner)
            d->SetOwner([this](WindowMessage m, std::uintptr_t w, std::intptr_t) {
                posted.push_back({m, w});
            });
        d->SetMode(mode);
        d->SetTextId(textId);
        ShowActive(*d);
        return d;
    }
    QPushButton* Button(CMessageDialog& d, int id) { return d.ControlAs<QPushButton>(id); }

    VirtualScheduler clock;
    std::vector<Posted> posted;
};

TEST_F(MessageDialogTest, ProgressModeReportsReadyOnceAfterFiftyMilliseconds) {
    auto d = Open(0, 226);
    EXPECT_EQ(d->MessageText(), DialogText(226));
    EXPECT_FALSE(Button(*d, 1)->isVisible());
    EXPECT_FALSE(Button(*d, 2)->isVisible());
    clock.Advance(Milliseconds(49));
    EXPECT_TRUE(posted.empty());
    clock.Advance(Milliseconds(1));
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_PROGRESS_READY);
    EXPECT_EQ(CMessageDialog::FromHandle(posted[0].wParam), d.get());
    clock.Advance(Milliseconds(1000));
    EXPECT_EQ(posted.size(), 1u);
    EXPECT_EQ(clock.LiveTimers(), 0u);
}

TEST_F(MessageDialogTest, ShowsTheCurrentStepsElapsedTimeAgainstItsLimit) {
    auto d = Open(0, 226);
    EXPECT_EQ(d->ElapsedText(), QString()) << "no step yet";
    d->StartStep(Milliseconds(30000));
    const auto shown = [](int elapsed, int limit) {
        return FormatNumber(FormatNumber(DialogText(1113), elapsed), limit);
    };
    EXPECT_EQ(d->ElapsedText(), shown(0, 30));
    clock.Advance(Milliseconds(12500));
    EXPECT_EQ(d->ElapsedText(), shown(12, 30));
    d->StartStep(Milliseconds(120000));
    EXPECT_EQ(d->ElapsedText(), shown(0, 120));
    d->SendMessage(WM_CLOSE_REQUEST, 0, 0);
    EXPECT_EQ(clock.LiveTimers(), 0u);
}

TEST_F(MessageDialogTest, WithoutOwnerTheTimerStillStops) {
    auto d = Open(1, 238, false);
    clock.Advance(Milliseconds(50));
    EXPECT_EQ(clock.LiveTimers(), 0u);
    EXPECT_TRUE(d->isVisible());
}

TEST_F(MessageDialogTest, ProgressTextReplacesTheMessageAndCanShowACentredOk) {
    auto d = Open(0, 226);
    d->PostMessage(WM_PROGRESS_TEXT, 227, 0);
    EXPECT_EQ(d->MessageText(), DialogText(226)) << "posted: not handled before the loop runs";
    DrainEvents();
    EXPECT_EQ(d->MessageText(), DialogText(227));
    EXPECT_EQ(d->SendMessage(WM_PROGRESS_TEXT, 0, 1), 0);
    EXPECT_TRUE(d->MessageText().isEmpty());
    QPushButton* ok = Button(*d, 1);
    ASSERT_TRUE(ok->isVisible());
    EXPECT_LE(std::abs(ok->geometry().center().x() - d->width() / 2), 1);
}

TEST_F(MessageDialogTest, ReturnAndEscapeNeverEndIt) {
    auto d = Open(0, 226);
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        QTest::keyClick(d.get(), static_cast<Qt::Key>(key));
        QTest::keyClick(d->Control(1024), static_cast<Qt::Key>(key));
    }
    DrainEvents();
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(d->result(), 0);
    EXPECT_FALSE(d->windowFlags() & Qt::WindowCloseButtonHint);
    d->PostMessage(WM_CLOSE_REQUEST, 0, 0);
    DrainEvents();
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->result(), CTemplateDialog::kResultCancel);
}

TEST_F(MessageDialogTest, CloseWindowsModeEnablesOkOnlyWhenTold) {
    auto d = Open(1, 238);
    QPushButton* ok = Button(*d, 1);
    QPushButton* cancel = Button(*d, 2);
    EXPECT_TRUE(ok->isVisible());
    EXPECT_FALSE(ok->isEnabled());
    EXPECT_TRUE(cancel->isVisible());
    clock.Advance(Milliseconds(50));
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_MESSAGE_DIALOG_READY);
    ok->click();
    EXPECT_EQ(d->result(), 0);
    d->SendMessage(WM_ENABLE_DIALOG_OK, 0, 0);
    ok->click();
    EXPECT_EQ(d->result(), CTemplateDialog::kResultOk);
}

TEST_F(MessageDialogTest, CloseWindowsModeCancelsAtOnce) {
    auto d = Open(1, 238);
    Button(*d, 2)->click();
    EXPECT_EQ(d->result(), CTemplateDialog::kResultCancel);
}

TEST_F(MessageDialogTest, CountdownShowsSeventyFiveToOneAndEndsWithOk) {
    auto d = Open(2, 237);
    const QString format = DialogText(237);
    EXPECT_EQ(d->MessageText(), FormatNumber(format, 75));
    // Messages of the other modes have no effect here.
    d->SendMessage(WM_PROGRESS_TEXT, 227, 1);
    d->SendMessage(WM_ENABLE_DIALOG_OK, 0, 0);
    EXPECT_FALSE(Button(*d, 1)->isVisible());
    EXPECT_EQ(d->MessageText(), FormatNumber(format, 75));
    std::vector<int> seen;
    for (int tick = 1; tick <= 74; ++tick) {
        clock.Advance(Milliseconds(1000));
        seen.push_back(d->SecondsLeft());
        ASSERT_EQ(d->MessageText(), FormatNumber(format, 75 - tick));
    }
    EXPECT_EQ(seen.back(), 1);
    EXPECT_TRUE(d->isVisible());
    clock.Advance(Milliseconds(1000));
    EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(d->result(), CTemplateDialog::kResultOk);
    EXPECT_EQ(d->MessageText(), FormatNumber(format, 1)) << "no tick shows 0";
    EXPECT_TRUE(posted.empty());
}

TEST_F(MessageDialogTest, HandleIsForgottenWithTheDialog) {
    auto d = Open(0, 226);
    const std::uintptr_t handle = d->Handle();
    EXPECT_EQ(CMessageDialog::FromHandle(handle), d.get());
    d.reset();
    EXPECT_EQ(CMessageDialog::FromHandle(handle), nullptr);
    EXPECT_EQ(clock.LiveTimers(), 0u);
}

}  // namespace
}  // namespace valdrune::test
