#include "platform/linux/NetProbe.h"

#include <arpa/inet.h>
#include <endian.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/linux/PendingEntries.h"
#include "platform/qt/FdWatch.h"

#ifndef VALDRUNE_NETPROBE_RELATIVE_DIR
#define VALDRUNE_NETPROBE_RELATIVE_DIR "../libexec/valdrune"
#endif

namespace valdrune {
namespace {

constexpr std::size_t kMaxLine = 64;

std::string AddressText(std::uint32_t address) {
    in_addr a{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// The permitted set a file grants, from its security.capability attribute (v2 or v3 layout).
bool FileGrants(const std::string& path, int capability) {
    vfs_ns_cap_data data{};
    const ssize_t n = ::getxattr(path.c_str(), "security.capability", &data, sizeof data);
    if (n < static_cast<ssize_t>(XATTR_CAPS_SZ_2)) return false;
    // Stored little-endian whatever the machine.
    const std::uint32_t version = le32toh(data.magic_etc) & VFS_CAP_REVISION_MASK;
    if (version != VFS_CAP_REVISION_2 && version != VFS_CAP_REVISION_3) return false;
    return (le32toh(data.data[CAP_TO_INDEX(capability)].permitted) & CAP_TO_MASK(capability)) != 0;
}

}  // namespace

std::string DefaultNetProbePath() {
    char self[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    std::string dir(self, static_cast<std::size_t>(n));
    const auto slash = dir.find_last_of('/');
    if (slash == std::string::npos) return {};
    dir.resize(slash);
    return dir + "/" VALDRUNE_NETPROBE_RELATIVE_DIR "/" + kNetProbeName;
}

bool NetProbeMayHold(const std::string& path, int capability) {
    if (path.empty() || ::access(path.c_str(), X_OK) != 0) return false;
    if (::prctl(PR_CAPBSET_READ, capability, 0, 0, 0) != 1) return false;
    if (::geteuid() == 0) return true;
    // Under no_new_privs an exec gains nothing from file capabilities.
    return ::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) != 1 && FileGrants(path, capability);
}

struct NetProbeRunner::Child {
    pid_t pid = -1;
    int fd = -1;
    TimerId timer = 0;
    std::string output;
    std::unique_ptr<FdWatch> watch;
    std::function<void(const std::string&)> done;

    ~Child() {
        watch.reset();
        if (fd >= 0) ::close(fd);
        if (pid > 0) {
            // Closed output means it is on its way out; a run past its time is ended here.
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
            }
        }
    }
};

NetProbeRunner::NetProbeRunner(IScheduler& scheduler, std::string path)
    : scheduler_(scheduler), path_(std::move(path)) {}

NetProbeRunner::~NetProbeRunner() {
    CancelAll();
}

std::uint64_t NetProbeRunner::Run(NetProbeOperation operation, std::uint32_t address,
                                  std::int32_t ifIndex, Milliseconds timeout,
                                  std::function<void(const std::string&)> done) {
    const std::uint64_t key = nextKey_++;
    auto child = std::make_unique<Child>();
    child->done = std::move(done);

    int pipeFds[2] = {-1, -1};
    bool started = !path_.empty() && ::pipe2(pipeFds, O_CLOEXEC) == 0;
    if (started) {
        const std::string op = operation == NetProbeOperation::Echo ? "echo" : "flush";
        const std::string addressText = AddressText(address);
        const std::string indexText = std::to_string(ifIndex);
        char* const argv[] = {const_cast<char*>(path_.c_str()), const_cast<char*>(op.c_str()),
                              const_cast<char*>(addressText.c_str()),
                              const_cast<char*>(indexText.c_str()), nullptr};
        char* const envp[] = {nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        // Signals the caller ignores or blocks are the caller's business, not the helper's.
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        started = ::posix_spawn(&child->pid, path_.c_str(), &actions, &attributes, argv, envp) == 0;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(pipeFds[1]);
        child->fd = pipeFds[0];
        if (!started) child->pid = -1;
    }
    if (!started) {
        runs_.emplace(key, std::move(child));
        scheduler_.Post([this, alive = posted_.Hold(), key] {
            if (Lifeline::Alive(alive)) Finish(key, {});
        });
        return key;
    }
    ::fcntl(child->fd, F_SETFL, ::fcntl(child->fd, F_GETFL) | O_NONBLOCK);
    child->watch = std::make_unique<FdWatch>(child->fd, [this, key] { OnReadable(key); });
    child->timer = scheduler_.StartTimer(timeout, false, [this, key] {
        const auto it = runs_.find(key);
        if (it != runs_.end()) it->second->timer = 0;
        Finish(key, kNetProbeTimedOut);
    });
    runs_.emplace(key, std::move(child));
    return key;
}

void NetProbeRunner::OnReadable(std::uint64_t key) {
    const auto it = runs_.find(key);
    if (it == runs_.end()) return;
    Child& c = *it->second;
    for (;;) {
        char buffer[128];
        const ssize_t n = ::read(c.fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n > 0 && c.output.size() < kMaxLine) {
            c.output.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n > 0) continue;  // more than one line: drained and ignored
        // End of output: one line, its break, and nothing else is an answer.
        std::string line;
        const auto end = c.output.find('\n');
        if (end != std::string::npos && end + 1 == c.output.size()) line = c.output.substr(0, end);
        Finish(key, line);
        return;
    }
}

void NetProbeRunner::Finish(std::uint64_t key, const std::string& line) {
    std::unique_ptr<Child> c = TakeEntry(runs_, key, scheduler_);
    if (!c) return;
    auto done = std::move(c->done);
    c.reset();  // reaped before the caller hears the outcome
    if (done) done(line);
}

void NetProbeRunner::Cancel(std::uint64_t key) { TakeEntry(runs_, key, scheduler_); }

void NetProbeRunner::CancelAll() { DropEntries(runs_, scheduler_); }

}  // namespace valdrune
