#include "platform/WriterLock.h"

#include <windows.h>

#include "platform/windows/CodePage.h"

namespace valdrune {

std::intptr_t CWriterLock::OpenLockFile(const std::string& path) {
    HANDLE f = ::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr);
    return f == INVALID_HANDLE_VALUE ? kNone : reinterpret_cast<std::intptr_t>(f);
}

bool CWriterLock::TryLockFile(std::intptr_t file) {
    OVERLAPPED whole{};
    return ::LockFileEx(reinterpret_cast<HANDLE>(file),
                        LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                        &whole) != 0;
}

void CWriterLock::CloseLockFile(std::intptr_t file) {
    ::CloseHandle(reinterpret_cast<HANDLE>(file));
}

}  // namespace valdrune
