#include "platform/StopRequest.h"

#include <windows.h>

namespace valdrune {
namespace {

HANDLE g_stopped = nullptr;

// Runs on a thread the system starts. Returning TRUE keeps the process alive for the main
// thread to undo its change; for a close or logoff the system allows a few seconds for that.
BOOL WINAPI OnControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            ::SetEvent(g_stopped);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void HoldStopRequests() {
    if (g_stopped != nullptr) return;
    g_stopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(OnControl, TRUE);
}

void WaitForStopRequest() {
    HoldStopRequests();
    ::WaitForSingleObject(g_stopped, INFINITE);
}

}  // namespace valdrune
