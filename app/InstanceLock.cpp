#include "app/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace valdrune {

std::string CInstanceLock::DefaultPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0')
        return std::string(runtime) + "/Nodewren.InstanceString.lock";
    // Without a runtime directory prefer one only this user can write to: in a shared /tmp
    // another user could create the file first and every start would see "already running".
    const std::string name = "/Nodewren.InstanceString-" + std::to_string(getuid()) + ".lock";
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && *cache == '/' && ::access(cache, W_OK) == 0) return cache + name;
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home == '/') {
        const std::string dir = std::string(home) + "/.cache";
        if (::access(dir.c_str(), W_OK) == 0 || ::mkdir(dir.c_str(), 0700) == 0) return dir + name;
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
    return dir + name;
}

CInstanceLock::CInstanceLock(std::string path) : path_(std::move(path)) {}

CInstanceLock::~CInstanceLock() { Release(); }

bool CInstanceLock::TryAcquire() {
    if (fd_ >= 0) return true;
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void CInstanceLock::Release() {
    if (fd_ < 0) return;
    // Closing drops the lock; the file stays so that a racing start never locks a stale inode.
    ::close(fd_);
    fd_ = -1;
}

}  // namespace valdrune
