#include "platform/linux/browser/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace valdrune {

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string TargetName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The one name a write's new bytes ever have beside the target. A writer gives it a file only
// while it holds the directory's lock, so one that a lock holder finds was left by a writer that
// died (the kernel drops a dead process's lock), and is removed.
std::string TemporaryName(const std::string& path) { return TargetName(path) + ".tmp-valdrune"; }

bool Lock(int dir) {
    while (::flock(dir, LOCK_EX) != 0)
        if (errno != EINTR) return false;
    return true;
}

bool Fill(int fd, mode_t mode, const std::string& bytes) {
    return ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
}

// Puts the new bytes under the temporary name and takes the lock (`locked` says whether it was
// taken). They are written into an unnamed file first, so that a writer killed while writing
// leaves nothing; file systems without unnamed files (or without /proc to name one) get the
// named file, written under the lock.
bool WriteTemporary(int dir, const std::string& temp, mode_t mode, const std::string& bytes,
                    bool& locked) {
    const int unnamed = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        const bool filled = Fill(unnamed, mode, bytes);
        locked = filled && Lock(dir);
        bool linked = false;
        if (locked) {
            ::unlinkat(dir, temp.c_str(), 0);
            const std::string self = "/proc/self/fd/" + std::to_string(unnamed);
            linked = ::linkat(AT_FDCWD, self.c_str(), dir, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
        }
        if (::close(unnamed) != 0 || !filled || !locked) return false;
        if (linked) return true;
    } else {
        locked = Lock(dir);
        if (!locked) return false;
    }
    ::unlinkat(dir, temp.c_str(), 0);
    const int fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool filled = Fill(fd, mode, bytes);
    return ::close(fd) == 0 && filled;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const std::string& bytes) {
    if (path.empty() || IsDirectory(path)) return false;
    const int dir = ::open(ParentDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    const std::string temp = TemporaryName(path);
    // A file that is replaced keeps its mode (a private one stays private); a new one is 0644.
    struct stat existing {};
    const mode_t mode = ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)
                            ? existing.st_mode & 07777
                            : 0644;
    bool locked = false;
    const bool ok = WriteTemporary(dir, temp, mode, bytes, locked) &&
                    ::renameat(dir, temp.c_str(), dir, TargetName(path).c_str()) == 0;
    if (ok)
        ::fsync(dir);  // makes the rename itself durable
    else if (locked)
        ::unlinkat(dir, temp.c_str(), 0);  // no one else's while the lock is held
    ::close(dir);  // releases the lock
    return ok;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return std::nullopt;
    }
    std::string out;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
        if (out.size() > maxBytes) {
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return out;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (IsDirectory(path)) return true;
    const std::string parent = ParentDirectory(path);
    if (parent != path && !MakeDirectories(parent)) return false;
    return ::mkdir(path.c_str(), 0700) == 0 || IsDirectory(path);
}

std::string ParentDirectory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace valdrune
