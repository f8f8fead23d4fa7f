// One copy per user session: an exclusive lock on a file in the user's runtime directory.
// The kernel drops the lock with the process, so a crashed copy never blocks the next start.
#pragma once

#include <string>

namespace valdrune {

class CInstanceLock {
  public:
    // The directories the lock may live in; empty for one the user has not got.
    struct Directories {
        std::string runtime;  // $XDG_RUNTIME_DIR
        std::string cache;    // $XDG_CACHE_HOME
        std::string home;     // $HOME
        static Directories FromEnvironment();
    };

    // The lock file named after "Nodewren.InstanceString" in the runtime directory, else with
    // the user id appended in the cache directory or ~/.cache; only directories of this user
    // that no one else may write to. Empty when there is none: no lock is taken then.
    static std::string DefaultPath(const Directories& dirs = Directories::FromEnvironment());

    explicit CInstanceLock(std::string path = DefaultPath());
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Tries once, without waiting. False when another process holds it or the file cannot be
    // opened; true without a path.
    bool TryAcquire();
    bool Held() const { return fd_ >= 0; }
    void Release();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace valdrune
