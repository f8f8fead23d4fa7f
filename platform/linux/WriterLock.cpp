#include "platform/WriterLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace valdrune {

CWriterLock::CWriterLock(const std::string& fileName, int waitMs) {
    const std::string path = fileName + ".writer.lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            handle_ = fd;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        if (std::chrono::steady_clock::now() >= until) break;
        // Another writer of a few small values: it is done within milliseconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(fd);
}

CWriterLock::~CWriterLock() {
    if (Held()) ::close(static_cast<int>(handle_));
}

}  // namespace valdrune
