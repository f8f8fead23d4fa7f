// What the settings GUI tests share: one QApplication for the process, captured message
// boxes, and small helpers to reach controls the way a user would.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "dialogkit/MessageBox.h"
#include "dialogkit/TemplateDialog.h"
#include "settings/dialogs/CIpAddressCtrl.h"
#include "tests/support/AnswerBuilder.h"

namespace valdrune::test {

// Every message box the code under test raises, answered with OK at once.
class MessageBoxLog {
public:
    MessageBoxLog() {
        SetMessageBoxHandler([this](const MessageBoxRequest& request) {
            boxes.push_back(request);
            if (onBox) onBox(request);
            return ID_OK;
        });
    }
    ~MessageBoxLog() { SetMessageBoxHandler({}); }
    MessageBoxLog(const MessageBoxLog&) = delete;
    MessageBoxLog& operator=(const MessageBoxLog&) = delete;

    std::vector<int> Ids() const {
        std::vector<int> ids;
        for (const auto& b : boxes) ids.push_back(b.textId);
        return ids;
    }
    int LastId() const { return boxes.empty() ? 0 : boxes.back().textId; }

    std::vector<MessageBoxRequest> boxes;
    std::function<void(const MessageBoxRequest&)> onBox;
};

// Runs queued events (posted messages) until none is left.
inline void DrainEvents() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

inline void ShowActive(QWidget& w) {
    w.show();
    w.activateWindow();
    (void)QTest::qWaitForWindowActive(&w, 1000);
}

inline CIpAddressCtrl* Ip(const CTemplateDialog& d, int id) {
    return d.ControlAs<CIpAddressCtrl>(id);
}
inline QLineEdit* Edit(const CTemplateDialog& d, int id) { return d.ControlAs<QLineEdit>(id); }

inline void Click(const CTemplateDialog& d, int id) {
    auto* b = d.ControlAs<QAbstractButton>(id);
    ASSERT_NE(b, nullptr) << "no button " << id;
    b->click();
}

// The control id that holds the keyboard focus inside dialog d (an IP field counts as its
// control), 0 when none.
int FocusedControl(const CTemplateDialog& d, int* field = nullptr);

// Each control of on is checked (enabled), each of off is not.
void ExpectChecked(const CTemplateDialog& d, std::initializer_list<int> on,
                   std::initializer_list<int> off = {});
void ExpectEnabled(const CTemplateDialog& d, std::initializer_list<int> on,
                   std::initializer_list<int> off = {});

// "a.b.c.d" -> packed value; for readable tables.
std::uint32_t Ip4(const char* dotted);

}  // namespace valdrune::test
