#include "dialogkit/CMessageDialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include <set>

#include "dialogkit/ControlText.h"
#include "dialogkit/MessageBox.h"

namespace valdrune {

namespace {

const QColor kMessageBackground(255, 255, 204);

std::set<const CMessageDialog*>& LiveDialogs() {
    static std::set<const CMessageDialog*> live;
    return live;
}

bool IsSwallowedKey(const QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    const int key = static_cast<const QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

}  // namespace

CMessageDialog::CMessageDialog(IScheduler& scheduler, QWidget* parent)
    : CTemplateDialog(parent), scheduler_(scheduler) {
    LiveDialogs().insert(this);
    // Caption without a close button: only the owner (or the countdown) ends this dialog.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    SetTemplateSize(175, 70);
    ok_ = AddButton(ID_OK, 27, 49, 50, 14);
    message_ = AddLabel(kMessageId, 7, 15, 161, 35, false);
    message_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    message_->setWordWrap(true);
    message_->setMargin(2);
    cancel_ = AddButton(ID_CANCEL, 93, 49, 50, 14);
    elapsed_ = AddLabel(kElapsedId, 7, 4, 161, 9);
    elapsed_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    elapsed_->hide();
    ok_->hide();
    cancel_->hide();
    QObject::connect(ok_, &QPushButton::clicked, this, [this] { done(ID_OK); });
    QObject::connect(cancel_, &QPushButton::clicked, this, [this] { done(ID_CANCEL); });
    for (QWidget* child : {static_cast<QWidget*>(ok_), static_cast<QWidget*>(message_),
                           static_cast<QWidget*>(cancel_)})
        child->installEventFilter(this);
}

CMessageDialog::~CMessageDialog() {
    StopTimer();
    scheduler_.CancelTimer(stepTimer_);
    LiveDialogs().erase(this);
}

CMessageDialog* CMessageDialog::FromHandle(std::uintptr_t handle) {
    auto* dialog = reinterpret_cast<CMessageDialog*>(handle);
    return LiveDialogs().count(dialog) != 0 ? dialog : nullptr;
}

QString CMessageDialog::MessageText() const { return message_->text(); }

QString CMessageDialog::ElapsedText() const { return elapsed_->isHidden() ? QString() : elapsed_->text(); }

void CMessageDialog::StartStep(Milliseconds limit) {
    scheduler_.CancelTimer(stepTimer_);
    stepStart_ = scheduler_.Now();
    stepLimit_ = limit;
    ShowElapsed();
    elapsed_->show();
    stepTimer_ = scheduler_.StartTimer(Milliseconds(1000), true, [this] { ShowElapsed(); });
}

void CMessageDialog::ShowElapsed() {
    using std::chrono::duration_cast;
    using std::chrono::seconds;
    const auto elapsed = duration_cast<seconds>(scheduler_.Now() - stepStart_).count();
    const auto limit = duration_cast<seconds>(stepLimit_).count();
    elapsed_->setText(FormatNumber(FormatNumber(DialogText(1113), elapsed), limit));
}

void CMessageDialog::showEvent(QShowEvent* event) {
    CTemplateDialog::showEvent(event);
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
}

void CMessageDialog::OnInitDialog() {
    setWindowTitle(DialogText(601));
    QString text = DialogText(textId_);
    if (mode_ == kCountdownMode) {
        secondsLeft_ = kCountdownSeconds;
        text = FormatNumber(text, secondsLeft_);
    }
    message_->setText(text);
    ok_->setText(DialogText(602));
    cancel_->setText(DialogText(603));
    QPalette palette = message_->palette();
    palette.setColor(QPalette::Window, kMessageBackground);
    message_->setPalette(palette);
    message_->setAutoFillBackground(true);
    if (mode_ == kCloseWindowsMode) {
        ok_->setEnabled(false);
        ok_->show();
        cancel_->show();
    } else {
        // Centred now so that an OK button shown later by WM_PROGRESS_TEXT stands centred.
        ok_->move((width() - ok_->width()) / 2, ok_->y());
        ok_->hide();
        cancel_->hide();
    }
    const Milliseconds period(mode_ == kCountdownMode ? 1000 : 50);
    timer_ = scheduler_.StartTimer(period, true, [this] { OnTimer(); });
}

void CMessageDialog::StopTimer() {
    if (timer_ != 0) {
        const TimerId id = timer_;
        timer_ = 0;
        scheduler_.CancelTimer(id);
    }
}

void CMessageDialog::Post(WindowMessage message) {
    if (owner_) owner_(message, Handle(), 0);
}

void CMessageDialog::OnTimer() {
    if (timer_ == 0) return;
    if (mode_ == kCloseWindowsMode) {
        StopTimer();
        Post(WM_MESSAGE_DIALOG_READY);
    } else if (mode_ == kCountdownMode) {
        --secondsLeft_;
        if (secondsLeft_ >= 1) {
            message_->setText(FormatNumber(DialogText(textId_), secondsLeft_));
        } else {
            StopTimer();
            done(ID_OK);
        }
    } else {
        StopTimer();
        Post(WM_PROGRESS_READY);
    }
}

std::intptr_t CMessageDialog::SendMessage(std::uint32_t message, std::uintptr_t wParam,
                                          std::intptr_t lParam) {
    switch (message) {
    case WM_PROGRESS_TEXT:
        if (mode_ != kCountdownMode) {
            message_->setText(DialogText(static_cast<int>(wParam)));
            if (lParam == 1) ok_->show();
        }
        return 0;
    case WM_ENABLE_DIALOG_OK:
        if (mode_ != kCountdownMode) ok_->setEnabled(true);
        return 0;
    case WM_CLOSE_REQUEST:
        closing_ = true;
        done(ID_CANCEL);
        return 0;
    default:
        return 0;
    }
}

void CMessageDialog::PostMessage(std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
    PostToSelf([this, message, wParam, lParam] { SendMessage(message, wParam, lParam); });
}

void CMessageDialog::done(int result) {
    StopTimer();
    scheduler_.CancelTimer(stepTimer_);
    stepTimer_ = 0;
    CTemplateDialog::done(result);
}

void CMessageDialog::closeEvent(QCloseEvent* event) {
    // The window manager's close (Alt+F4) is refused like the missing close button.
    if (event->spontaneous() && !closing_) {
        event->ignore();
        return;
    }
    CTemplateDialog::closeEvent(event);
}

void CMessageDialog::keyPressEvent(QKeyEvent* event) {
    if (IsSwallowedKey(event)) {
        event->accept();
        return;
    }
    CTemplateDialog::keyPressEvent(event);
}

bool CMessageDialog::eventFilter(QObject* watched, QEvent* event) {
    if (IsSwallowedKey(event)) {
        event->accept();
        return true;
    }
    return CTemplateDialog::eventFilter(watched, event);
}

}  // namespace valdrune
