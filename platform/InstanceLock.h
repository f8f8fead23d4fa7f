// One copy per user session, through a lock that dies with the process, so a crashed copy
// never blocks the next start. Linux: an exclusive lock on a file in the user's runtime
// directory. Windows: the named mutex "Nodewren.InstanceString" of the user's session.
#pragma once

#include <cstdint>
#include <string>

namespace valdrune {

class CInstanceLock {
  public:
    // The directories a lock file may live in (Linux); empty for one the user has not got.
    struct Directories {
        std::string runtime;  // $XDG_RUNTIME_DIR
        std::string cache;    // $XDG_CACHE_HOME
        std::string home;     // $HOME
        static Directories FromEnvironment();
    };

    // Linux: the lock file named after "Nodewren.InstanceString" in the runtime directory,
    // else with the user id appended in the cache directory or ~/.cache; only directories of
    // this user that no one else may write to. Empty when there is none: no lock is taken
    // then. Windows: the mutex name itself, whatever the directories.
    static std::string DefaultPath(const Directories& dirs = Directories::FromEnvironment());

    explicit CInstanceLock(std::string path = DefaultPath());
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Tries once, without waiting. False when another process holds it or it cannot be made;
    // true without a path.
    bool TryAcquire();
    bool Held() const { return handle_ != kNone; }
    void Release();
    const std::string& Path() const { return path_; }

  private:
    static constexpr std::intptr_t kNone = -1;
    std::string path_;
    std::intptr_t handle_ = kNone;  // the file descriptor, or the mutex handle
};

}  // namespace valdrune
