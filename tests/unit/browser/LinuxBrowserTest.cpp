// The Linux browser layer against temporary directories; nothing here touches the user's real
// configuration, /etc or a real browser.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "browser/core/CDeviceBrowser.h"
#include "platform/linux/browser/AtomicFile.h"
#include "platform/linux/browser/FileKeyValueStore.h"
#include "platform/linux/browser/LinuxBrowserEnvironment.h"
#include "platform/linux/browser/X11Windows.h"
#include "tests/support/CaseNames.h"

namespace fs = std::filesystem;

namespace valdrune {
namespace {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "vd-browser-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::size_t EntriesIn(const std::string& dir) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));
}

// ---- atomic files
// ---------------------------------------------------------------------------------

TEST(AtomicFile, ReplacesTheWholeFileAndLeavesNoTemporaryBehind) {
    TempDir dir;
    const std::string file = dir / "Quembrel_sitelist.xml";
    ASSERT_TRUE(WriteFileAtomically(file, std::string(100000, 'a')));
    ASSERT_TRUE(WriteFileAtomically(file, "short\r\n"));
    EXPECT_EQ(Slurp(file), "short\r\n");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(ReadWholeFile(file), "short\r\n");
}

TEST(AtomicFile, ReplacingKeepsTheFilesMode) {
    TempDir dir;
    const std::string file = dir / "private.json";
    for (const mode_t mode : {0600u, 0640u, 0444u}) {
        ASSERT_TRUE(WriteFileAtomically(file, "old"));
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        ASSERT_TRUE(WriteFileAtomically(file, "new"));
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(Slurp(file), "new");
    }
}

TEST(AtomicFile, TheNextWriterRemovesWhatAKilledWriterLeft) {
    TempDir dir;
    const std::string file = dir / "site_list.xml";
    ASSERT_TRUE(WriteFileAtomically(file, "old"));
    { std::ofstream(file + ".tmp-valdrune") << "half of a new"; }
    ASSERT_TRUE(WriteFileAtomically(file, "new"));
    EXPECT_EQ(Slurp(file), "new");
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(AtomicFile, FailedWriteKeepsThePreviousStateAndReportsIt) {
    TempDir dir;
    EXPECT_FALSE(WriteFileAtomically(dir / "missing/sub/file", "x"));
    EXPECT_FALSE(fs::exists(dir / "missing"));
    fs::create_directory(dir / "adir");
    EXPECT_FALSE(WriteFileAtomically(dir / "adir", "x"));
    EXPECT_TRUE(fs::is_directory(dir / "adir"));
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

TEST(AtomicFile, ReadsRefuseOversizedAndNonRegularFiles) {
    TempDir dir;
    ASSERT_TRUE(WriteFileAtomically(dir / "f", "123456"));
    EXPECT_FALSE(ReadWholeFile(dir / "f", 5).has_value());
    EXPECT_FALSE(ReadWholeFile(dir.path()).has_value());
    EXPECT_FALSE(ReadWholeFile(dir / "none").has_value());
}

// ---- key/value store
// ------------------------------------------------------------------------------

TEST(FileKeyValueStore, UserKeysAreJsonFilesUnderTheUserRoot) {
    TempDir dir;
    FileKeyValueStore store(dir / "user", dir / "policy");
    const std::string key = ZoneKey(3);
    EXPECT_FALSE(store.KeyExists(Hive::CurrentUser, key));
    EXPECT_FALSE(store.SetDword(Hive::CurrentUser, key, "*", 2)) << "the key must exist first";
    ASSERT_TRUE(store.CreateKey(Hive::CurrentUser, key));
    EXPECT_TRUE(store.SetDword(Hive::CurrentUser, key, "*", 2));
    EXPECT_TRUE(store.SetString(Hive::CurrentUser, key, ":Range", "10.0.0.7"));
    EXPECT_EQ(store.QueryDword(Hive::CurrentUser, key, "*"), 2u);
    EXPECT_EQ(store.QueryString(Hive::CurrentUser, key, ":Range"), "10.0.0.7");
    EXPECT_FALSE(store.QueryString(Hive::CurrentUser, key, "*").has_value()) << "types are kept";
    EXPECT_FALSE(store.QueryDword(Hive::CurrentUser, key, ":Range").has_value());
    const std::string file = store.FileFor(Hive::CurrentUser, key);
    EXPECT_EQ(file.rfind(dir / "user/SOFTWARE/Microsoft/Windows/CurrentVersion/", 0), 0u);
    EXPECT_NE(Slurp(file).find("\"10.0.0.7\""), std::string::npos);
    EXPECT_TRUE(store.CreateKey(Hive::CurrentUser, key)) << "an existing key is reused";
    EXPECT_EQ(store.QueryDword(Hive::CurrentUser, key, "*"), 2u);
    EXPECT_TRUE(store.DeleteKey(Hive::CurrentUser, key));
    EXPECT_FALSE(store.KeyExists(Hive::CurrentUser, key));
    EXPECT_FALSE(store.DeleteKey(Hive::CurrentUser, key));
}

TEST(FileKeyValueStore, MachinePolicyGoesToTheManagedPolicyFileOnlyWhenItsDirectoryExists) {
    TempDir dir;
    FileKeyValueStore store(dir / "user", dir / "managed");
    EXPECT_FALSE(store.CreateKey(Hive::LocalMachine, EDGE_POLICY_KEY));
    EXPECT_FALSE(fs::exists(dir / "managed")) << "the policy directory is never created";

    fs::create_directory(dir / "managed");
    ASSERT_TRUE(store.CreateKey(Hive::LocalMachine, EDGE_POLICY_KEY));
    EXPECT_TRUE(store.SetDword(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE, 1));
    EXPECT_TRUE(store.SetString(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_SITE_LIST_VALUE,
                                "/start/Quembrel_sitelist.xml"));
    const std::string json = Slurp(dir / "managed/valdrune.json");
    EXPECT_NE(json.find("\"InternetExplorerIntegrationLevel\": 1"), std::string::npos) << json;
    EXPECT_NE(
        json.find("\"InternetExplorerIntegrationSiteList\": \"/start/Quembrel_sitelist.xml\""),
        std::string::npos);
    EXPECT_FALSE(store.CreateKey(Hive::LocalMachine, "SOFTWARE\\Other")) << "no counterpart";

    // A value an administrator set in another policy file counts; ours comes first.
    std::ofstream(dir / "managed/00-site.json")
        << "{\"InternetExplorerIntegrationLevel\": 0, \"X\": \"a\"}";
    EXPECT_EQ(store.QueryDword(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE), 1u);
    EXPECT_EQ(store.QueryString(Hive::LocalMachine, EDGE_POLICY_KEY, "X"), "a");
}

TEST(FileKeyValueStore, HostileKeysAndBrokenFilesStayContained) {
    TempDir dir;
    FileKeyValueStore store(dir / "user", dir / "managed");
    EXPECT_TRUE(store.FileFor(Hive::CurrentUser, "a\\..\\..\\etc").empty());
    EXPECT_TRUE(store.FileFor(Hive::CurrentUser, "a\\\\b").empty());
    EXPECT_EQ(store.FileFor(Hive::CurrentUser, "a/b\\c"), dir / "user/a_b/c.json");

    ASSERT_TRUE(store.CreateKey(Hive::CurrentUser, "K"));
    { std::ofstream(store.FileFor(Hive::CurrentUser, "K")) << "{not json"; }
    EXPECT_TRUE(store.KeyExists(Hive::CurrentUser, "K"));
    EXPECT_FALSE(store.QueryDword(Hive::CurrentUser, "K", "v").has_value());
    EXPECT_TRUE(store.SetDword(Hive::CurrentUser, "K", "v", 7));
    EXPECT_EQ(store.QueryDword(Hive::CurrentUser, "K", "v"), 7u);
}

// The XDG variables of one test, restored afterwards.
class XdgEnvironment {
  public:
    explicit XdgEnvironment(const TempDir& dir) {
        for (const char* v : kNames) {
            const char* old = std::getenv(v);
            saved_.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        }
        ::setenv("HOME", (dir / "home").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", ((dir / "etc1") + ":" + (dir / "etc2")).c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        ::setenv("XDG_DATA_DIRS", (dir / "share").c_str(), 1);
    }
    ~XdgEnvironment() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name, value->c_str(), 1);
            else
                ::unsetenv(name);
        }
    }

  private:
    static constexpr const char* kNames[] = {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
                                             "XDG_DATA_HOME", "XDG_DATA_DIRS"};
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(FileKeyValueStore, UserKeysLiveUnderTheConfigurationDirectory) {
    TempDir dir;
    XdgEnvironment xdg(dir);
    const FileKeyValueStore store = FileKeyValueStore::FromEnvironment();
    EXPECT_EQ(store.FileFor(Hive::LocalMachine, EDGE_POLICY_KEY),
              "/etc/opt/edge/policies/managed/valdrune.json");
    EXPECT_EQ(store.FileFor(Hive::CurrentUser, "A\\B"), dir / "config/valdrune/registry/A/B.json");
}

// ---- environment
// ---------------------------------------------------------------------------------

struct DesktopCase {
    const char* desktopId;
    const char* progId;
};

class DesktopEntryProgId : public ::testing::TestWithParam<DesktopCase> {};

TEST_P(DesktopEntryProgId, MapsOntoTheDefaultBrowserTable) {
    EXPECT_EQ(ProgIdForDesktopEntry(GetParam().desktopId), GetParam().progId);
    EXPECT_NE(DefaultBrowserCode(ProgIdForDesktopEntry(GetParam().desktopId)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DesktopEntryProgId,
    ::testing::Values(DesktopCase{"microsoft-edge.desktop", "MSEdgeHTM"},
                      DesktopCase{"microsoft-edge-beta.desktop", "MSEdgeHTM"},
                      DesktopCase{"google-chrome.desktop", "ChromeHTML"},
                      DesktopCase{"chromium.desktop", "ChromeHTML"},
                      DesktopCase{"firefox-esr.desktop", "FirefoxHTML"},
                      DesktopCase{"org.mozilla.firefox.desktop", "FirefoxHTML"},
                      DesktopCase{"org.gnome.Epiphany.desktop", "org.gnome.Epiphany.desktop"},
                      DesktopCase{"", ""}),
    test::NamedByText(&DesktopCase::desktopId));

TEST(MimeApps, TakesTheFirstHtmlHandlerOfTheDefaultsGroup) {
    EXPECT_EQ(DefaultHtmlHandler("[Added Associations]\ntext/html=a.desktop\n"
                                 "[Default Applications]\n# c\nx-scheme-handler/http=h.desktop\n"
                                 " text/html = firefox.desktop;chromium.desktop; \r\n"),
              "firefox.desktop");
    EXPECT_EQ(DefaultHtmlHandler("[Default Applications]\nx-scheme-handler/http=h.desktop\n"),
              "h.desktop");
    EXPECT_EQ(DefaultHtmlHandler("[Added Associations]\ntext/html=a.desktop\n"), "");
    EXPECT_EQ(DefaultHtmlHandler(std::string("\0\0[", 3)), "");
}

TEST(LinuxBrowserEnvironment, ReadsRedirectedVersionAndDefaultBrowser) {
    TempDir dir;
    LinuxBrowserPaths paths;
    paths.edgeProfileDir = dir / "edge-profile";
    paths.mimeappsFiles = {dir / "missing.list", dir / "mimeapps.list"};
    LinuxBrowserEnvironment env(paths);
    EXPECT_FALSE(env.ReadEdgeVersion().sourceOpened);
    fs::create_directory(paths.edgeProfileDir);
    EXPECT_TRUE(env.ReadEdgeVersion().sourceOpened);
    EXPECT_FALSE(env.ReadEdgeVersion().valueRead);
    ASSERT_TRUE(WriteFileAtomically(paths.edgeProfileDir + "/Last Version", "121.0.2277.83\n"));
    EXPECT_EQ(env.ReadEdgeVersion().text, "121.0.2277.83");
    EXPECT_EQ(env.ReadDefaultBrowserProgId(), "");
    ASSERT_TRUE(WriteFileAtomically(dir / "mimeapps.list",
                                    "[Default Applications]\ntext/html=google-chrome.desktop\n"));
    EXPECT_EQ(env.ReadDefaultBrowserProgId(), "ChromeHTML");
}

TEST(LinuxBrowserEnvironment, UsualPathsFollowTheXdgDirectoriesAndNoInternetExplorerExists) {
    TempDir dir;
    XdgEnvironment xdg(dir);
    const LinuxBrowserPaths p = LinuxBrowserPaths::FromEnvironment();
    EXPECT_EQ(p.candidates.firefox.front(), "/usr/lib/firefox/firefox");
    EXPECT_NE(std::find(p.candidates.chrome.begin(), p.candidates.chrome.end(), "/usr/bin/chromium"),
              p.candidates.chrome.end());
    EXPECT_TRUE(p.candidates.ie.empty());
    EXPECT_EQ(p.edgeProfileDir, dir / "config/microsoft-edge");
    EXPECT_EQ(p.mimeappsFiles,
              (std::vector<std::string>{dir / "config/mimeapps.list", dir / "etc1/mimeapps.list",
                                        dir / "etc2/mimeapps.list",
                                        dir / "home/.local/share/applications/mimeapps.list",
                                        dir / "share/applications/mimeapps.list"}));
    EXPECT_FALSE(p.trustedZones);
    EXPECT_EQ(p.opener, "xdg-open");
}

// A stand-in browser: a script that writes each argument on its own line.
std::string MakeRecorder(const TempDir& dir, const std::string& name) {
    const std::string script = dir / name;
    std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \""
                          << dir.path() << "/" << name << ".args\"\n";
    ::chmod(script.c_str(), 0755);
    return script;
}

std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500 && !fs::exists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return Slurp(path);
}

TEST(LinuxBrowserEnvironment, StartsTheExecutableWithExactArgumentsAndNoShell) {
    TempDir dir;
    const std::string browser = MakeRecorder(dir, "browser");
    LinuxBrowserPaths paths;
    LinuxBrowserEnvironment env(paths);
    const std::string hostile = "http://10.0.0.1:80/;touch " + (dir / "pwned") + ";$(id)";
    env.Launch(browser, {"-new", hostile, "two words"});
    EXPECT_EQ(WaitForFile(browser + ".args"), "-new\n" + hostile + "\ntwo words\n");
    EXPECT_FALSE(fs::exists(dir / "pwned"));
}

// The exit status of a real child, waited for up to five seconds.
std::optional<int> ExitOf(const LaunchResult& started) {
    for (int i = 0; i < 500; ++i) {
        if (const auto status = started.exited()) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

TEST(LinuxBrowserEnvironment, ReportsWhatBecameOfTheStart) {
    TempDir dir;
    const auto script = [&](const std::string& name, const std::string& body, mode_t mode) {
        std::ofstream(dir / name) << "#!/bin/sh\n" << body << "\n";
        ::chmod((dir / name).c_str(), mode);
        return dir / name;
    };
    LinuxBrowserEnvironment env{LinuxBrowserPaths{}};

    const LaunchResult refused = env.Launch(script("plain", "exit 0", 0644), {"http://x"});
    EXPECT_EQ(refused.status, LaunchResult::Status::FailedToStart);
    EXPECT_EQ(refused.reason, std::strerror(EACCES));
    EXPECT_EQ(env.Launch(dir / "missing", {}).reason, std::strerror(ENOENT));

    const LaunchResult failing = env.Launch(script("failing", "exit 1", 0755), {});
    ASSERT_EQ(failing.status, LaunchResult::Status::Started);
    EXPECT_EQ(ExitOf(failing), 1);
    EXPECT_EQ(failing.exited(), 1) << "asking again gives the same answer";

    const LaunchResult crashing = env.Launch(script("crashing", "kill -SEGV $$", 0755), {});
    EXPECT_EQ(ExitOf(crashing), 128 + SIGSEGV);

    // A descriptor of ours opened without close-on-exec does not reach the browser.
    const int inherited = ::open("/dev/null", O_RDONLY);
    const LaunchResult leaks = env.Launch(
        script("leaks", "test -e /proc/$$/fd/" + std::to_string(inherited) + " && exit 5; exit 0",
               0755),
        {});
    ::close(inherited);
    EXPECT_EQ(ExitOf(leaks), 0);

    const LaunchResult running = env.Launch(script("running", "sleep 0.3", 0755), {});
    EXPECT_EQ(running.exited(), std::nullopt);
}

TEST(LinuxBrowserEnvironment, SystemDefaultGoesThroughTheOpener) {
    TempDir dir;
    LinuxBrowserPaths paths;
    paths.opener = MakeRecorder(dir, "opener");
    LinuxBrowserEnvironment env(paths);
    env.OpenDefault("http://192.168.0.20:80");
    EXPECT_EQ(WaitForFile(paths.opener + ".args"), "http://192.168.0.20:80\n");
}

TEST(LinuxBrowserEnvironment, DetectsOnlyRegularFiles) {
    TempDir dir;
    LinuxBrowserEnvironment env{LinuxBrowserPaths{}};
    fs::create_directory(dir / "msedge");
    EXPECT_FALSE(env.FileExists(dir / "msedge"));
    EXPECT_TRUE(env.FileExists(MakeRecorder(dir, "chrome")));
}

// ---- windows
// ---------------------------------------------------------------------------------------

TEST(X11Windows, WithoutAnXServerThereAreNoWindows) {
    X11Windows windows("");
    const char* saved = std::getenv("DISPLAY");
    const std::string keep = saved ? saved : "";
    ::unsetenv("DISPLAY");
    EXPECT_TRUE(windows.List().empty());
    windows.ShowMinimized(12345);  // harmless
    if (saved) ::setenv("DISPLAY", keep.c_str(), 1);
    X11Windows unreachable(":4711");
    EXPECT_TRUE(unreachable.List().empty());
}

}  // namespace
}  // namespace valdrune
