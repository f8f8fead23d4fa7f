// Window messages of the main dialog and its dialogs. The engine's settings events reach the
// dialog as the first three; "sent" messages are direct calls, "posted" ones are queued.
#pragma once

#include <cstdint>

namespace valdrune {

inline constexpr std::uint32_t WM_USER_BASE = 0x400;

enum WindowMessage : std::uint32_t {
    // 0x464 and 0x465 (a datagram read, a device found) are the engine's typed events now.
    WM_SETUP_ACCEPTED = 0x466,        // engine -> main dialog, posted; wParam 17 or 4
    WM_SETUP_FAILED = 0x467,          // engine -> main dialog, posted; wParam 1 or 2
    WM_SETUP_FINISHED = 0x468,        // engine or main dialog -> main dialog, posted; wParam 0 or 1
    WM_SEND_SETTINGS = 0x469,         // main dialog -> itself
    WM_REFRESH_OVERLAPS = 0x46A,      // main dialog -> itself
    WM_RUN_MESSAGE_DIALOG = 0x46B,    // main dialog -> itself; wParam 0, 1, 2
    WM_PROGRESS_READY = 0x46C,        // progress dialog -> main dialog
    WM_PROGRESS_TEXT = 0x46D,         // main dialog -> progress dialog
    WM_ENABLE_DIALOG_OK = 0x46E,      // main dialog -> message dialog
    WM_MESSAGE_DIALOG_READY = 0x46F,  // message dialog -> main dialog
    WM_OPEN_PENDING_URL = 0x470,      // main dialog -> itself
    WM_OCTET_NOTICE = 0x4C9,          // settings dialog -> itself
};

}  // namespace valdrune
