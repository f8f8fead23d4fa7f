#include "platform/WriterLock.h"

#include <windows.h>

#include <chrono>
#include <thread>

#include "platform/windows/CodePage.h"

namespace valdrune {

CWriterLock::CWriterLock(const std::string& fileName, int waitMs) {
    const std::wstring path = Utf8ToWide(fileName + ".writer.lock");
    HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        OVERLAPPED whole{};
        if (::LockFileEx(f, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                         MAXDWORD, &whole)) {
            handle_ = reinterpret_cast<std::intptr_t>(f);
            return;
        }
        if (std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::CloseHandle(f);
}

CWriterLock::~CWriterLock() {
    // Closing the handle drops its lock.
    if (Held()) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace valdrune
