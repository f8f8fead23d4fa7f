#include "platform/InstanceLock.h"

#include <windows.h>

#include "platform/windows/CodePage.h"

namespace valdrune {

CInstanceLock::Directories CInstanceLock::Directories::FromEnvironment() { return {}; }

// No "Global\" prefix: one copy per logon session, not per machine.
std::string CInstanceLock::DefaultPath(const Directories&) { return "Nodewren.InstanceString"; }

CInstanceLock::CInstanceLock(std::string path) : path_(std::move(path)) {}

CInstanceLock::~CInstanceLock() { Release(); }

bool CInstanceLock::TryAcquire() {
    if (Held()) return true;
    if (path_.empty()) return true;
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, Utf8ToWide(path_).c_str());
    if (mutex == nullptr) return false;
    // An existing object means another copy made it, whether or not it still owns it.
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (existed || ::WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) {
        ::CloseHandle(mutex);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(mutex);
    return true;
}

void CInstanceLock::Release() {
    if (!Held()) return;
    HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
    ::ReleaseMutex(mutex);
    // The object goes with its last handle, so the next start succeeds.
    ::CloseHandle(mutex);
    handle_ = kNone;
}

}  // namespace valdrune
