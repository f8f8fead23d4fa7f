// The browser side of a test run: browsers as stand-in files in a temporary directory, the
// key store, Edge profile, mimeapps.list and site list under it too, top-level windows from a
// list the test fills. Nothing of the host (installed browsers, default browser, the user's
// configuration) is read or written.
#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "browser/core/BrowserSeams.h"
#include "platform/SiteListFiles.h"
#include "platform/linux/browser/FileKeyValueStore.h"
#include "platform/linux/browser/LinuxBrowserEnvironment.h"

namespace valdrune::test {

using Launch = std::pair<std::string, std::vector<std::string>>;

// A file of the sandbox (site list, policy) as bytes; empty when it cannot be read.
inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class StandInWindows final : public ITopLevelWindows {
  public:
    std::vector<TopLevelWindow> windows;
    std::vector<std::uint64_t> minimized;
    std::vector<TopLevelWindow> List() const override { return windows; }
    void ShowMinimized(std::uint64_t handle) override { minimized.push_back(handle); }
};

struct BrowserSandbox {
    QTemporaryDir dir;
    // Starts of stand-ins, recorded instead of run unless startForReal is set.
    std::vector<Launch> launches;
    bool startForReal = false;
    // The window list of the last Platform(); replaced by realWindows when that is set.
    StandInWindows* windows = nullptr;
    std::function<std::unique_ptr<ITopLevelWindows>()> realWindows;

    // installed: stand-in names among "msedge", "chrome", "firefox", "iexplore"; body: the
    // stand-ins' script (executable when not empty).
    explicit BrowserSandbox(std::vector<std::string> installed = {},
                            const std::string& edgeVersion = "120.0",
                            const std::string& body = {}) {
        for (const auto& name : installed) {
            std::ofstream(Path(name)) << (body.empty() ? "#!/bin/sh\n" : body);
            if (!body.empty())
                QFile::setPermissions(QString::fromStdString(Path(name)),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        for (const char* sub : {"profile", "start", "managed"}) QDir(dir.path()).mkpath(sub);
        std::ofstream(Path("profile/Last Version")) << edgeVersion;
    }

    std::string Path(const std::string& name) const {
        return dir.filePath(QString::fromStdString(name)).toStdString();
    }

    BrowserPlatform Platform() {
        LinuxBrowserPaths paths;
        paths.candidates = {{Path("msedge")}, {Path("chrome")}, {Path("firefox")}, {Path("iexplore")}};
        paths.edgeProfileDir = Path("profile");
        paths.startupDir = Path("start");
        paths.mimeappsFiles = {Path("mimeapps.list")};
        if (startForReal) paths.opener = Path("opener");  // never the desktop's own
        auto env = std::make_unique<LinuxBrowserEnvironment>(paths);
        if (!startForReal) {
            env->SetStarter([this](const std::string& exe, const std::vector<std::string>& args) {
                launches.emplace_back(exe, args);
                return LaunchResult{};
            });
        }
        BrowserPlatform p;
        p.env = std::move(env);
        p.store = std::make_unique<FileKeyValueStore>(Path("user"), Path("managed"));
        p.files = std::make_unique<SiteListFiles>();
        if (realWindows) {
            p.windows = realWindows();
            windows = nullptr;
        } else {
            auto w = std::make_unique<StandInWindows>();
            windows = w.get();
            p.windows = std::move(w);
        }
        return p;
    }
};

}  // namespace valdrune::test
