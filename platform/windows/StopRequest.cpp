#include "platform/StopRequest.h"

#include <windows.h>

namespace valdrune {
namespace {

HANDLE g_stopped = nullptr;

// Runs on a thread the system starts. For Ctrl-C and Ctrl-Break, returning TRUE keeps the
// process running for the main thread to undo its change. For a close, logoff or shutdown the
// system ends the process as soon as a handler returns, so this one does not return: the
// process ends when the main thread is done, or when the system's few seconds are up.
BOOL WINAPI OnControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            ::SetEvent(g_stopped);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            ::SetEvent(g_stopped);
            ::Sleep(INFINITE);
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
