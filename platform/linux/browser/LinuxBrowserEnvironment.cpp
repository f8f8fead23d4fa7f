#include "platform/linux/browser/LinuxBrowserEnvironment.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <sstream>
#include <system_error>
#include <thread>

#include "platform/linux/browser/AtomicFile.h"

namespace valdrune {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const std::string v = Env(name);
    return v.empty() ? fallback : v;
}

std::vector<std::string> SplitColon(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ':')) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::string CurrentDirectory() {
    std::vector<char> buffer(4096);
    if (::getcwd(buffer.data(), buffer.size()) == nullptr) return ".";
    return buffer.data();
}

}  // namespace

LinuxBrowserPaths LinuxBrowserPaths::FromEnvironment() {
    LinuxBrowserPaths p;
    p.candidates.edge = {"/opt/microsoft/msedge/msedge", "/usr/bin/microsoft-edge",
                         "/usr/bin/microsoft-edge-stable"};
    p.candidates.chrome = {"/opt/google/chrome/chrome", "/usr/bin/google-chrome",
                           "/usr/bin/google-chrome-stable", "/usr/bin/chromium",
                           "/usr/bin/chromium-browser", "/snap/bin/chromium"};
    p.candidates.firefox = {"/usr/lib/firefox/firefox", "/usr/bin/firefox",
                            "/usr/lib/firefox-esr/firefox-esr", "/usr/bin/firefox-esr",
                            "/snap/bin/firefox"};
    // No Internet Explorer exists on Linux: its list stays empty.

    const std::string home = EnvOr("HOME", "/tmp");
    const std::string config = EnvOr("XDG_CONFIG_HOME", home + "/.config");
    p.edgeProfileDir = config + "/microsoft-edge";

    const std::string data = EnvOr("XDG_DATA_HOME", home + "/.local/share");
    p.mimeappsFiles.push_back(config + "/mimeapps.list");
    for (const auto& dir : SplitColon(EnvOr("XDG_CONFIG_DIRS", "/etc/xdg"))) {
        p.mimeappsFiles.push_back(dir + "/mimeapps.list");
    }
    p.mimeappsFiles.push_back(data + "/applications/mimeapps.list");
    for (const auto& dir : SplitColon(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"))) {
        p.mimeappsFiles.push_back(dir + "/applications/mimeapps.list");
    }
    p.startupDir = CurrentDirectory();
    return p;
}

std::string ProgIdForDesktopEntry(const std::string& desktopId) {
    if (desktopId.find("microsoft-edge") != std::string::npos) return "MSEdgeHTM";
    if (desktopId.find("google-chrome") != std::string::npos ||
        desktopId.find("chromium") != std::string::npos) {
        return "ChromeHTML";
    }
    if (desktopId.find("firefox") != std::string::npos) return "FirefoxHTML";
    return desktopId;
}

std::string DefaultHtmlHandler(const std::string& mimeappsText) {
    std::stringstream in(mimeappsText);
    std::string line;
    bool inDefaults = false;
    std::string html;
    std::string http;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inDefaults = line == "[Default Applications]";
            continue;
        }
        if (!inDefaults) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        value = Trim(value.substr(0, value.find(';')));
        if (key == "text/html" && html.empty()) html = value;
        if (key == "x-scheme-handler/http" && http.empty()) http = value;
    }
    return html.empty() ? http : html;
}

LaunchResult StartProgram(const std::string& executable, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // Its own process group (a Ctrl+C meant for us does not reach it), no signal blocked or
    // ignored that we happen to have.
    posix_spawnattr_t attr;
    ::posix_spawnattr_init(&attr);
    sigset_t none;
    sigset_t all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attr, &none);
    ::posix_spawnattr_setsigdefault(&attr, &all);
    ::posix_spawnattr_setpgroup(&attr, 0);
    ::posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    // Nothing of ours beyond the standard streams, whether or not it was opened close-on-exec.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const int error =
        ::posix_spawnp(&pid, executable.c_str(), &actions, &attr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    if (error != 0) return LaunchResult::Failed(executable, std::strerror(error));

    // Shared by the result's copies; the last one gone hands a running child to a reaper.
    struct Child {
        explicit Child(pid_t id) : pid(id) {}
        Child(const Child&) = delete;
        Child& operator=(const Child&) = delete;
        const pid_t pid;
        std::optional<int> status;
        ~Child() {
            if (status) return;
            try {
                std::thread([pid = pid] {
                    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
                    }
                }).detach();
            } catch (const std::system_error&) {
                // No thread to spare: the ended child stays a zombie until we exit.
            }
        }
    };
    auto child = std::make_shared<Child>(pid);
    LaunchResult result;
    result.program = executable;
    result.exited = [child]() -> std::optional<int> {
        if (child->status) return child->status;
        int raw = 0;
        if (::waitpid(child->pid, &raw, WNOHANG) != child->pid) return std::nullopt;
        child->status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return child->status;
    };
    return result;
}

LinuxBrowserEnvironment::LinuxBrowserEnvironment(LinuxBrowserPaths paths)
    : paths_(std::move(paths)), starter_(StartProgram) {}

bool LinuxBrowserEnvironment::FileExists(const std::string& path) const {
    return IsRegularFile(path);
}

EdgeVersionValue LinuxBrowserEnvironment::ReadEdgeVersion() const {
    EdgeVersionValue v;
    v.sourceOpened = IsDirectory(paths_.edgeProfileDir);
    if (!v.sourceOpened) return v;
    const auto text = ReadWholeFile(paths_.edgeProfileDir + "/Last Version", 4096);
    if (!text) return v;
    v.valueRead = true;
    v.text = Trim(*text);
    return v;
}

std::string LinuxBrowserEnvironment::ReadDefaultBrowserProgId() const {
    for (const auto& file : paths_.mimeappsFiles) {
        const auto text = ReadWholeFile(file, 1024 * 1024);
        if (!text) continue;
        const std::string handler = DefaultHtmlHandler(*text);
        if (!handler.empty()) return ProgIdForDesktopEntry(handler);
    }
    return {};
}

LaunchResult LinuxBrowserEnvironment::Launch(const std::string& executable,
                                             const std::vector<std::string>& args) {
    if (executable.empty()) return LaunchResult::Failed(executable, std::strerror(ENOENT));
    return starter_(executable, args);
}

LaunchResult LinuxBrowserEnvironment::OpenDefault(const std::string& url) {
    return starter_(paths_.opener, {url});
}

LocalDateTime LinuxBrowserEnvironment::LocalNow() const {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return LocalDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                         tm.tm_hour,        tm.tm_min,     tm.tm_sec};
}

}  // namespace valdrune
