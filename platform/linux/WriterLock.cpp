#include "platform/WriterLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace valdrune {

std::intptr_t CWriterLock::OpenLockFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    return fd < 0 ? kNone : fd;
}

bool CWriterLock::TryLockFile(std::intptr_t file) {
    return ::flock(static_cast<int>(file), LOCK_EX | LOCK_NB) == 0;
}

void CWriterLock::CloseLockFile(std::intptr_t file) { ::close(static_cast<int>(file)); }

}  // namespace valdrune
