// The small modal progress and message dialog: a text on a pale yellow field and, by mode, an
// OK and a Cancel button. Mode 0 shows the settings progress, mode 1 asks the user to close
// the browser's windows, mode 2 counts down 75 seconds and ends itself.
#pragma once

#include <cstdint>
#include <functional>

#include "dialogkit/TemplateDialog.h"
#include "protocol/Messages.h"
#include "protocol/Seams.h"

class QLabel;
class QPushButton;

namespace valdrune {

// The framework's close request, as the owner posts it to the dialog.
inline constexpr std::uint32_t WM_CLOSE_REQUEST = 0x0010;

class CMessageDialog : public CTemplateDialog {
public:
    // Posts a message to the owner (the main dialog); the dialog calls it with wParam = its
    // Handle() and lParam 0.
    using OwnerPost = std::function<void(WindowMessage, std::uintptr_t, std::intptr_t)>;

    static constexpr int kTemplateId = 132;
    static constexpr int kMessageId = 1024;
    // Above the message: how long the current step has run against its limit.
    static constexpr int kElapsedId = 1025;
    static constexpr int kCountdownSeconds = 75;
    static constexpr int kProgressMode = 0;
    static constexpr int kCloseWindowsMode = 1;
    static constexpr int kCountdownMode = 2;

    // The dialog's timer runs on `scheduler`; it must outlive the dialog.
    explicit CMessageDialog(IScheduler& scheduler, QWidget* parent = nullptr);
    ~CMessageDialog() override;

    void SetOwner(OwnerPost post) { owner_ = std::move(post); }
    void SetMode(int mode) { mode_ = mode; }
    void SetTextId(int textId) { textId_ = textId; }
    int Mode() const { return mode_; }
    int SecondsLeft() const { return secondsLeft_; }
    QString MessageText() const;
    // A new step with this limit starts now; its elapsed seconds are shown against the limit,
    // once a second, until the next step or the end of the dialog.
    void StartStep(Milliseconds limit);
    QString ElapsedText() const;

    // The value the dialog hands out as its window; FromHandle maps it back while the dialog
    // exists and gives null afterwards.
    std::uintptr_t Handle() const { return reinterpret_cast<std::uintptr_t>(this); }
    static CMessageDialog* FromHandle(std::uintptr_t handle);

    // WM_PROGRESS_TEXT, WM_ENABLE_DIALOG_OK or WM_CLOSE_REQUEST, handled at once.
    std::intptr_t SendMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
    // The same, queued behind the events already waiting; dropped when the dialog is gone.
    void PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnInitDialog();
    void OnTimer();
    void StopTimer();
    void Post(WindowMessage message);
    void ShowElapsed();

    IScheduler& scheduler_;
    OwnerPost owner_;
    int textId_ = 0;
    int mode_ = 0;
    int secondsLeft_ = 0;
    TimerId timer_ = 0;
    TimerId stepTimer_ = 0;
    Milliseconds stepStart_{0};
    Milliseconds stepLimit_{0};
    bool initialised_ = false;
    bool closing_ = false;
    QLabel* message_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace valdrune
