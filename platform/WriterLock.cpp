#include "platform/WriterLock.h"

#include <chrono>
#include <thread>

namespace valdrune {

CWriterLock::CWriterLock(const std::string& fileName, int waitMs) {
    const std::intptr_t file = OpenLockFile(fileName + ".writer.lock");
    if (file == kNone) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!TryLockFile(file)) {
        if (std::chrono::steady_clock::now() >= until) {
            CloseLockFile(file);
            return;
        }
        // Another writer of a few small values: it is done within milliseconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    handle_ = file;
}

CWriterLock::~CWriterLock() {
    // Closing the lock file drops its lock.
    if (Held()) CloseLockFile(handle_);
}

}  // namespace valdrune
