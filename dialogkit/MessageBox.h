// Every user message is a message box with a string-table text and the caption 201.
// Boxes go through this seam so that tests see the text id and box type instead of a window.
#pragma once

#include <functional>
#include <string>

#include "protocol/BoxTypes.h"

class QWidget;

namespace valdrune {

struct MessageBoxRequest {
    QWidget* owner = nullptr;
    int textId = 0;
    int boxType = 0;        // MB_* bits: buttons | icon
    std::string extraText;  // already formatted text when the id has placeholders; else empty
};

// Returns ID_OK or ID_CANCEL. The default shows a QMessageBox modally.
using MessageBoxHandler = std::function<int(const MessageBoxRequest&)>;
void SetMessageBoxHandler(MessageBoxHandler handler);  // empty restores the default
int ShowMessageBox(const MessageBoxRequest& request);
inline int ShowMessageBox(QWidget* owner, int textId, int boxType) {
    return ShowMessageBox(MessageBoxRequest{owner, textId, boxType, {}});
}

}  // namespace valdrune
