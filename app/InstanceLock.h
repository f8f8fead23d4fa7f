// One copy per user session: an exclusive lock on a file in the user's runtime directory.
// The kernel drops the lock with the process, so a crashed copy never blocks the next start.
#pragma once

#include <string>

namespace valdrune {

class CInstanceLock {
  public:
    // The lock file named after "Nodewren.InstanceString" in $XDG_RUNTIME_DIR, or in the
    // temporary directory with the user id appended when that is not set.
    static std::string DefaultPath();

    explicit CInstanceLock(std::string path = DefaultPath());
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Tries once, without waiting. False when another process holds it or the file cannot be
    // opened.
    bool TryAcquire();
    bool Held() const { return fd_ >= 0; }
    void Release();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace valdrune
