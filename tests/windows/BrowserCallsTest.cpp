// The Windows browser layer's real calls under Wine, in the throw-away prefix every run gets:
// registry values written, read back and removed; a stand-in browser started through
// CreateProcessW and ShellExecuteExW; the site list replaced on disk; top-level windows found
// and minimized. Edge itself does not exist under Wine: the decisions run up to the seams.
#include <gtest/gtest.h>

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "browser/core/CDeviceBrowser.h"
#include "browser/core/Resources.h"
#include "platform/SiteListFiles.h"
#include "platform/windows/CodePage.h"
#include "platform/windows/browser/CommandLine.h"
#include "platform/windows/browser/RegistryStore.h"
#include "platform/windows/browser/Win32Windows.h"
#include "platform/windows/browser/WindowsBrowserEnvironment.h"
#include "tests/unit/browser/BrowserFakes.h"

namespace valdrune {
namespace {

const std::string APP_PATHS = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const std::string HTML_CHOICE =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice";
const std::string HTTP_CHOICE =
    "SOFTWARE\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
const std::string EDGE_BEACON = "SOFTWARE\\Microsoft\\Edge\\BLBeacon";

bool WaitFor(const std::function<bool()>& done, int limitMs = 5000) {
    for (int waited = 0; !done() && waited < limitMs; waited += 10) ::Sleep(10);
    return done();
}

// The registry's own view of a value, independent of the store under test.
std::optional<DWORD> DwordIn(HKEY root, const std::string& key, const std::string& name) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegGetValueW(root, Utf8ToWide(key).c_str(), Utf8ToWide(name).c_str(), RRF_RT_REG_DWORD,
                       nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

std::optional<std::string> TextIn(HKEY root, const std::string& key, const std::string& name) {
    wchar_t value[1024];
    DWORD size = sizeof value;
    if (::RegGetValueW(root, Utf8ToWide(key).c_str(), Utf8ToWide(name).c_str(), RRF_RT_REG_SZ,
                       nullptr, value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return WideToUtf8(value);
}

TEST(WindowsCommandLine, EveryArgumentComesBackAsGivenAfterTheSplit) {
    const std::vector<std::wstring> args{L"http://192.168.0.20:80",
                                         L"two words",
                                         L"",
                                         L"quote\"inside",
                                         L"C:\\dir\\",
                                         L"C:\\dir with blank\\",
                                         L"a\\\\\"b",
                                         L"\\\\server\\share",
                                         L"tab\there",
                                         L"-new"};
    const std::wstring line = BuildCommandLine(L"C:\\Program Files\\B\\b.exe", args);
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(line.c_str(), &argc);
    ASSERT_NE(argv, nullptr);
    std::vector<std::wstring> split(argv, argv + argc);
    ::LocalFree(argv);
    ASSERT_EQ(split.size(), args.size() + 1) << WideToUtf8(line);
    EXPECT_EQ(split[0], L"C:\\Program Files\\B\\b.exe");
    for (std::size_t i = 0; i < args.size(); ++i)
        EXPECT_EQ(split[i + 1], args[i]) << "argument " << i << " in " << WideToUtf8(line);
    EXPECT_EQ(QuoteArgument(L"http://10.0.0.1:81"), L"http://10.0.0.1:81") << "plain stays plain";
}

TEST(WindowsCommandLine, AppPathValuesLoseTheirQuotesAndBlanks) {
    EXPECT_EQ(UnquotedPath(L" \"C:\\Program Files\\x.exe\" "), L"C:\\Program Files\\x.exe");
    EXPECT_EQ(UnquotedPath(L"C:\\x.exe"), L"C:\\x.exe");
    EXPECT_EQ(UnquotedPath(L"\""), L"\"");
}

class BrowserCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        dir_ = std::wstring(temp) + L"valdrune-browser-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(dir_.c_str(), nullptr);
        // The stand-in runs from here, so what it writes stays out of the build tree.
        fake_ = Path("fakebrowser.exe");
        std::string built = FAKE_BROWSER;
        for (char& c : built)
            if (c == '/') c = '\\';
        ASSERT_TRUE(
            ::CopyFileW(Utf8ToWide("Z:" + built).c_str(), Utf8ToWide(fake_).c_str(), FALSE));
    }
    void TearDown() override {
        for (const std::string& key : written_) store_.DeleteKey(Hive::CurrentUser, key);
        for (const std::string& key : writtenMachine_) store_.DeleteKey(Hive::LocalMachine, key);
        WIN32_FIND_DATAW found;
        const HANDLE h = ::FindFirstFileW((dir_ + L"\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do ::DeleteFileW((dir_ + L"\\" + found.cFileName).c_str());
            while (::FindNextFileW(h, &found));
            ::FindClose(h);
        }
        ::RemoveDirectoryW(dir_.c_str());
    }
    std::string Path(const std::string& name) const { return WideToUtf8(dir_) + "\\" + name; }
    void PutText(Hive hive, const std::string& key, const std::string& name,
                 const std::string& value) {
        ASSERT_TRUE(store_.CreateKey(hive, key));
        ASSERT_TRUE(store_.SetString(hive, key, name, value));
        (hive == Hive::CurrentUser ? written_ : writtenMachine_).push_back(key);
    }
    std::string ArgsOfLastStart() {
        const std::string file = fake_ + ".args";
        if (!WaitFor([&] { return files_.Exists(file); })) return "(not started)";
        const std::string text = files_.Read(file).value_or("(unreadable)");
        ::DeleteFileW(Utf8ToWide(file).c_str());
        return text;
    }

    std::wstring dir_;
    std::string fake_;
    RegistryStore store_;
    SiteListFiles files_;
    std::vector<std::string> written_;
    std::vector<std::string> writtenMachine_;
};

TEST_F(BrowserCalls, RegistryStoreWritesReadsBackAndRemovesPolicyValuesAndZoneRanges) {
    writtenMachine_.push_back(EDGE_POLICY_KEY);
    EXPECT_FALSE(store_.SetDword(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE, 1))
        << "a value needs its key first";
    ASSERT_TRUE(store_.CreateKey(Hive::LocalMachine, EDGE_POLICY_KEY));
    ASSERT_TRUE(store_.SetDword(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE, 1));
    const std::string path = "C:\\Caf\xc3\xa9\\Quembrel_sitelist.xml";
    ASSERT_TRUE(
        store_.SetString(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_SITE_LIST_VALUE, path));
    EXPECT_EQ(DwordIn(HKEY_LOCAL_MACHINE, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE), 1u);
    EXPECT_EQ(TextIn(HKEY_LOCAL_MACHINE, EDGE_POLICY_KEY, POLICY_SITE_LIST_VALUE), path);
    EXPECT_EQ(store_.QueryDword(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE), 1u);
    EXPECT_EQ(store_.QueryString(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_SITE_LIST_VALUE),
              path);
    EXPECT_EQ(store_.QueryDword(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_SITE_LIST_VALUE),
              std::nullopt);
    EXPECT_EQ(store_.QueryString(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE),
              std::nullopt);

    const std::string zone = ZoneKey(1);
    ASSERT_TRUE(store_.CreateKey(Hive::CurrentUser, zone));
    ASSERT_TRUE(store_.SetDword(Hive::CurrentUser, zone, "*", 2));
    ASSERT_TRUE(store_.SetString(Hive::CurrentUser, zone, ":Range", "192.168.0.20"));
    EXPECT_EQ(DwordIn(HKEY_CURRENT_USER, zone, "*"), 2u);
    EXPECT_EQ(TextIn(HKEY_CURRENT_USER, zone, ":Range"), "192.168.0.20");
    EXPECT_TRUE(store_.DeleteKey(Hive::CurrentUser, zone));
    EXPECT_FALSE(store_.KeyExists(Hive::CurrentUser, zone));
    EXPECT_FALSE(store_.DeleteKey(Hive::CurrentUser, zone));
}

// The site-list steps with the real registry and file; browsers, dialogs and devices are fakes.
TEST_F(BrowserCalls, SiteListRewriteLandsInTheRegistryAndOnDisk) {
    struct Env : testing::FakeEnvironment {
        using FakeEnvironment::FakeEnvironment;
        char PathSeparator() const override { return '\\'; }
    };
    testing::EventLog log;
    Env env(log);
    env.zones = true;
    env.startDir = WideToUtf8(dir_);
    testing::FakeWindows windows(log);
    testing::FakeHost host(log);
    testing::FakeDevices devices;
    devices.allUrls = {"http://192.168.0.20/", "http://192.168.0.21:81/"};
    writtenMachine_.push_back(EDGE_POLICY_KEY);
    for (int n = 1; n <= 3; ++n) written_.push_back(ZoneKey(n));

    const auto make = [&] {
        auto b = std::make_unique<CDeviceBrowser>(
            BrowserSeams{env, store_, files_, windows, host, devices});
        b->DetectWindows11();
        b->InitSiteListPath();
        b->SetTemplates({std::string(XmlTemplateResource(140)),
                         std::string(XmlTemplateResource(141)),
                         std::string(XmlTemplateResource(142))});
        b->LoadSiteListState();
        return b;
    };
    auto browser = make();
    ASSERT_TRUE(browser->WriteSiteList(true));
    const std::string list = Path("Quembrel_sitelist.xml");
    EXPECT_EQ(DwordIn(HKEY_LOCAL_MACHINE, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE), 1u);
    EXPECT_EQ(TextIn(HKEY_LOCAL_MACHINE, EDGE_POLICY_KEY, POLICY_SITE_LIST_VALUE), list);
    EXPECT_EQ(TextIn(HKEY_CURRENT_USER, ZoneKey(1), ":Range"), "192.168.0.20");
    EXPECT_EQ(TextIn(HKEY_CURRENT_USER, ZoneKey(2), ":Range"), "192.168.0.21");
    EXPECT_EQ(DwordIn(HKEY_CURRENT_USER, ZoneKey(2), "*"), 2u);
    const std::string text = files_.Read(list).value_or("");
    EXPECT_NE(text.find("<site url=\"http://192.168.0.21:81/\">\r\n"), std::string::npos) << text;

    devices.allUrls = {"http://192.168.0.21:81/"};
    ASSERT_TRUE(browser->WriteSiteList(true));
    EXPECT_EQ(TextIn(HKEY_CURRENT_USER, ZoneKey(1), ":Range"), "192.168.0.21");
    EXPECT_FALSE(store_.KeyExists(Hive::CurrentUser, ZoneKey(2))) << "renumbered from 1";

    // The next start finds its own list in the policy and reads the file back.
    browser = make();
    EXPECT_TRUE(browser->UserConsented());
    EXPECT_EQ(browser->SiteUrls(), devices.allUrls);
}

TEST_F(BrowserCalls, BrowsersAreFoundThroughAppPathsAndTheDefaultThroughItsAssociation) {
    WindowsBrowserEnvironment env;
    PutText(Hive::CurrentUser, APP_PATHS + "chrome.exe", "", "\"" + fake_ + "\"");
    const BrowserCandidates candidates = env.CandidatePaths();
    ASSERT_EQ(candidates.chrome.size(), 3u);
    EXPECT_EQ(candidates.chrome[0], "C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe");
    EXPECT_EQ(candidates.chrome[2], fake_);
    const BrowserAvailability found = DetectBrowsers(env);
    EXPECT_TRUE(found.chromeInstalled);
    EXPECT_EQ(found.chromePath, fake_);
    // Wine presents itself as Windows 10, where no trusted-site zones are written.
    EXPECT_FALSE(env.HasTrustedSiteZones());
    wchar_t before[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, before);
    ::SetCurrentDirectoryW(dir_.c_str());
    EXPECT_EQ(env.StartupDirectory(), WideToUtf8(dir_));
    ::SetCurrentDirectoryW(before);

    PutText(Hive::CurrentUser, HTTP_CHOICE, "ProgId", "FirefoxURL-308046B0AF4A39CB");
    EXPECT_EQ(env.ReadDefaultBrowserProgId(), "FirefoxURL-308046B0AF4A39CB");
    PutText(Hive::CurrentUser, HTML_CHOICE, "ProgId", "ChromeHTML");
    EXPECT_EQ(env.ReadDefaultBrowserProgId(), "ChromeHTML") << "the .html choice comes first";
}

TEST_F(BrowserCalls, EdgeVersionFromItsBeaconElseFromTheFileVersionOfMsedge) {
    WindowsBrowserEnvironment env;
    PutText(Hive::CurrentUser, APP_PATHS + "msedge.exe", "", fake_);
    const EdgeVersionValue fromFile = env.ReadEdgeVersion();
    EXPECT_TRUE(fromFile.valueRead);
    EXPECT_EQ(fromFile.text, "121.0.5.7");
    EXPECT_FALSE(DetectBrowsers(env).edgeLegacy);

    PutText(Hive::CurrentUser, EDGE_BEACON, "version", "69.0.3.1");
    const EdgeVersionValue fromBeacon = env.ReadEdgeVersion();
    EXPECT_TRUE(fromBeacon.sourceOpened);
    EXPECT_EQ(fromBeacon.text, "69.0.3.1");
    EXPECT_TRUE(DetectBrowsers(env).edgeLegacy) << "the beacon is what the user last ran";
}

TEST_F(BrowserCalls, StartsTheRealProgramAndTellsWhatBecameOfIt) {
    WindowsBrowserEnvironment env;
    const LaunchResult started =
        env.Launch(fake_, {"http://192.168.0.20:80", "two words", "quote\"inside", "C:\\dir\\"});
    ASSERT_EQ(started.status, LaunchResult::Status::Started) << started.reason;
    EXPECT_EQ(ArgsOfLastStart(), "http://192.168.0.20:80\ntwo words\nquote\"inside\nC:\\dir\\\n");
    ASSERT_TRUE(started.exited);
    EXPECT_TRUE(WaitFor([&] { return started.exited() == 0; }));

    const LaunchResult failing = env.Launch(fake_, {"--exit=3"});
    ASSERT_EQ(failing.status, LaunchResult::Status::Started);
    EXPECT_TRUE(WaitFor([&] { return failing.exited() == 3; }));

    const LaunchResult missing = env.Launch(Path("missing.exe"), {});
    EXPECT_EQ(missing.status, LaunchResult::Status::FailedToStart);
    EXPECT_FALSE(missing.reason.empty());

    // Through the shell, as a URL goes to its handler (a path here: Wine would pass a web
    // address on to the host's own browser).
    const LaunchResult shell = env.OpenDefault(fake_);
    ASSERT_EQ(shell.status, LaunchResult::Status::Started) << shell.reason;
    EXPECT_EQ(ArgsOfLastStart(), "");
    EXPECT_EQ(env.OpenDefault(Path("missing.exe")).status, LaunchResult::Status::FailedToStart);
}

TEST_F(BrowserCalls, SiteListFileIsReplacedWholeWithNothingLeftBeside) {
    const std::string list = Path("Quembrel_sitelist.xml");
    // What a writer killed mid-write left behind is taken over by the next write.
    const HANDLE stale = ::CreateFileW(Utf8ToWide(list + ".tmp-valdrune").c_str(), GENERIC_WRITE, 0,
                                       nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(stale, INVALID_HANDLE_VALUE);
    ::CloseHandle(stale);
    ASSERT_TRUE(files_.WriteWhole(list, std::string(5000, 'a')));
    ASSERT_TRUE(files_.WriteWhole(list, "<site-list/>\r\n"));
    EXPECT_EQ(files_.Read(list), "<site-list/>\r\n");
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE h = ::FindFirstFileW((dir_ + L"\\Quembrel*").c_str(), &found);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    do names.push_back(found.cFileName);
    while (::FindNextFileW(h, &found));
    ::FindClose(h);
    EXPECT_EQ(names, std::vector<std::wstring>{L"Quembrel_sitelist.xml"});
    EXPECT_FALSE(files_.WriteWhole(Path("no-such-dir\\list.xml"), "x"));
    EXPECT_FALSE(files_.Exists(WideToUtf8(dir_))) << "a directory is no file";
    EXPECT_EQ(files_.Read(Path("absent.xml")), std::nullopt);
}

// Windows of this test on a desktop of its own. Without a display Wine makes windows only with
// its null driver, which a desktop reads from the prefix when it starts.
class BrowserWindows : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        RegistryStore store;
        store.CreateKey(Hive::CurrentUser, "Software\\Wine\\Drivers");
        store.SetString(Hive::CurrentUser, "Software\\Wine\\Drivers", "Graphics", "null");
        const HDESK desk =
            ::CreateDesktopW(L"valdrune-test", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        if (desk != nullptr) ::SetThreadDesktop(desk);
        WNDCLASSW wc{};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = CLASS_NAME;
        ::RegisterClassW(&wc);
    }
    void TearDown() override {
        for (HWND h : made_) ::DestroyWindow(h);
    }
    HWND Make(const wchar_t* title, HWND owner = nullptr) {
        const HWND h =
            ::CreateWindowExW(0, CLASS_NAME, title, owner ? WS_POPUP : WS_OVERLAPPEDWINDOW, 0, 0,
                              200, 100, owner, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (h != nullptr) {
            ::ShowWindow(h, SW_SHOWNORMAL);
            made_.insert(made_.begin(), h);  // owned ones go first
        }
        return h;
    }
    static constexpr const wchar_t* CLASS_NAME = L"ValdruneTestWindow";
    Win32Windows windows_;
    std::vector<HWND> made_;
};

TEST_F(BrowserWindows, TopLevelWindowsAreListedWithOwnerAndTitleAndMinimized) {
    const HWND edge = Make(L"Start - Microsoft\u200B Edge");
    ASSERT_NE(edge, nullptr) << ::GetLastError();
    const HWND owned = Make(L"Microsoft Edge", edge);
    const auto list = windows_.List();
    const auto find = [&](HWND h) {
        for (const TopLevelWindow& w : list)
            if (w.handle == reinterpret_cast<std::uintptr_t>(h)) return w;
        return TopLevelWindow{};
    };
    EXPECT_EQ(find(edge).title, "Start - Microsoft\xe2\x80\x8b Edge");
    EXPECT_FALSE(find(edge).hasOwner);
    EXPECT_TRUE(find(owned).hasOwner);
    windows_.ShowMinimized(reinterpret_cast<std::uintptr_t>(edge));
    EXPECT_TRUE(::IsIconic(edge));
    ::DestroyWindow(owned);
    ::DestroyWindow(edge);
    made_.clear();
    windows_.ShowMinimized(reinterpret_cast<std::uintptr_t>(edge));  // gone: nothing happens
}

// The Edge set-up run over the real window list: an open Edge window holds back the OK of the
// "close Edge" dialog until it closes, and the Edge window that comes up is minimized.
TEST_F(BrowserWindows, EdgeSetupRunWaitsForEdgeWindowsToCloseAndMinimizesTheNewOne) {
    testing::EventLog log;
    testing::FakeEnvironment env(log);
    env.InstallAll();
    testing::FakeStore store(log);
    testing::FakeFiles files(log);
    testing::FakeHost host(log);
    testing::FakeDevices devices;
    CDeviceBrowser browser(BrowserSeams{env, store, files, windows_, host, devices});
    browser.DetectBrowsers();
    const std::string enableOk = "post-to 77 " + std::to_string(WM_ENABLE_DIALOG_OK) + " 0";

    const HWND open = Make(L"New tab - Microsoft Edge");
    ASSERT_NE(open, nullptr);
    Make(L"Microsoft Edge", open);
    EXPECT_FALSE(browser.StartEdgeSetup());
    browser.OnMessageDialogReady(77);
    browser.OnTimer(EDGE_SETUP_TIMER_ID);
    EXPECT_EQ(std::count(log.begin(), log.end(), enableOk), 0);
    for (HWND h : made_) ::DestroyWindow(h);
    made_.clear();
    browser.OnTimer(EDGE_SETUP_TIMER_ID);
    EXPECT_EQ(std::count(log.begin(), log.end(), enableOk), 1);

    browser.OnRunMessageDialog(1);  // OK: Edge is started and the countdown begins
    browser.OnTimer(EDGE_SETUP_TIMER_ID);
    EXPECT_TRUE(host.delayed.empty()) << "no Edge window yet";
    const HWND started = Make(L"Microsoft Edge");
    const HWND other = Make(L"Edge - Microsoft Word");
    browser.OnTimer(EDGE_SETUP_TIMER_ID);
    host.RunDelayed();
    EXPECT_TRUE(::IsIconic(started));
    EXPECT_FALSE(::IsIconic(other)) << "\"Edge\" before \"Microsoft\" is not Edge";
}

}  // namespace
}  // namespace valdrune
