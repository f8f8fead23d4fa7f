// Writers of one file take turns through a lock on "<file>.writer.lock" that the system drops
// when its holder dies (Linux: flock; Windows: LockFileEx on an open handle), so a killed writer
// never keeps the next one waiting, and whatever a holder finds beside the file was left by a
// writer that is gone. The lock file itself stays, so that two writers never lock two files.
#pragma once

#include <cstdint>
#include <string>

namespace valdrune {

class CWriterLock {
  public:
    // Waits up to waitMs for writers of the same file in other processes.
    CWriterLock(const std::string& fileName, int waitMs);
    ~CWriterLock();
    CWriterLock(const CWriterLock&) = delete;
    CWriterLock& operator=(const CWriterLock&) = delete;

    bool Held() const { return handle_ != kNone; }

  private:
    static constexpr std::intptr_t kNone = -1;
    // Each system's own: open (or create) the lock file, try its lock once, close it.
    static std::intptr_t OpenLockFile(const std::string& path);
    static bool TryLockFile(std::intptr_t file);
    static void CloseLockFile(std::intptr_t file);

    std::intptr_t handle_ = kNone;  // the lock file's descriptor or handle
};

}  // namespace valdrune
