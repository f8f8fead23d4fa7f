#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace valdrune {

namespace {

// A real directory of this user that nobody else may write to: in one that others can write
// to (a shared /tmp), another user could create the file first and every start would see
// "already running".
bool PrivateDirectory(const std::string& dir) {
    struct stat st {};
    return !dir.empty() && dir.front() == '/' && ::lstat(dir.c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

CInstanceLock::Directories CInstanceLock::Directories::FromEnvironment() {
    return {Variable("XDG_RUNTIME_DIR"), Variable("XDG_CACHE_HOME"), Variable("HOME")};
}

std::string CInstanceLock::DefaultPath(const Directories& dirs) {
    if (PrivateDirectory(dirs.runtime)) return dirs.runtime + "/Nodewren.InstanceString.lock";
    const std::string name = "/Nodewren.InstanceString-" + std::to_string(getuid()) + ".lock";
    if (PrivateDirectory(dirs.cache)) return dirs.cache + name;
    if (PrivateDirectory(dirs.home)) {
        const std::string dir = dirs.home + "/.cache";
        if (!PrivateDirectory(dir)) ::mkdir(dir.c_str(), 0700);
        if (PrivateDirectory(dir)) return dir + name;
    }
    // No directory of its own: no lock file rather than one in a shared place.
    return {};
}

CInstanceLock::CInstanceLock(std::string path) : path_(std::move(path)) {}

CInstanceLock::~CInstanceLock() { Release(); }

bool CInstanceLock::TryAcquire() {
    if (Held()) return true;
    // Without a private directory the window runs unguarded: a second copy is a nuisance,
    // a lock another user can hold would keep this user out.
    if (path_.empty()) return true;
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

void CInstanceLock::Release() {
    if (!Held()) return;
    // Closing drops the lock; the file stays so that a racing start never locks a stale inode.
    ::close(static_cast<int>(handle_));
    handle_ = kNone;
}

}  // namespace valdrune
