// The Qt side of the browser steps: the message dialog of the Edge set-up run, messages to it by
// handle, and the built-in lists and templates handed to the decisions.
#pragma once

#include <cstdint>
#include <functional>

#include "browser/core/CDeviceBrowser.h"
#include "protocol/Messages.h"
#include "protocol/Seams.h"

class QWidget;

namespace valdrune {

using DialogOwnerPost = std::function<void(WindowMessage, std::uintptr_t, std::intptr_t)>;

// Runs the message dialog modally in mode 1 or 2 with the text id; ID_OK or ID_CANCEL.
// The dialog's notices go to `post`; its own timer runs on `scheduler`.
int RunMessageDialog(IScheduler& scheduler, int mode, int textId, DialogOwnerPost post);
// Queues a message to the message dialog that announced `handle`; nothing when it is gone.
void PostToMessageDialog(std::uintptr_t handle, WindowMessage message, std::uintptr_t wParam);

// Loads lists 0 to 2 (resources 143 to 145) in order.
void LoadBuiltInModelLists(CDeviceBrowser& browser);
// Templates 140 to 142.
SiteListTemplates BuiltInTemplates();

}  // namespace valdrune
