#include "platform/windows/browser/WindowsBrowserEnvironment.h"

#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <algorithm>
#include <memory>

#include "platform/windows/CodePage.h"
#include "platform/windows/OsVersion.h"
#include "platform/windows/browser/CommandLine.h"
#include "platform/windows/browser/RegistryStore.h"

namespace valdrune {
namespace {

constexpr const wchar_t* APP_PATHS = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr const wchar_t* EDGE_BEACON = L"SOFTWARE\\Microsoft\\Edge\\BLBeacon";
constexpr const wchar_t* HTML_CHOICE =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.html\\UserChoice";
constexpr const wchar_t* HTTP_CHOICE =
    L"SOFTWARE\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";

// A started process, watched until its exit status is known; its handle goes with the last copy.
LaunchResult Watched(std::string program, HANDLE process) {
    LaunchResult result;
    result.program = std::move(program);
    if (process == nullptr) return result;
    const std::shared_ptr<void> handle(process, ::CloseHandle);
    result.exited = [handle]() -> std::optional<int> {
        DWORD code = 0;
        if (::WaitForSingleObject(handle.get(), 0) != WAIT_OBJECT_0 ||
            !::GetExitCodeProcess(handle.get(), &code))
            return std::nullopt;
        return static_cast<int>(code);
    };
    return result;
}

void Append(std::vector<std::string>& list, const std::vector<std::string>& more) {
    for (const std::string& path : more) {
        const bool listed = std::any_of(list.begin(), list.end(), [&](const std::string& p) {
            return ::CompareStringOrdinal(Utf8ToWide(p).c_str(), -1, Utf8ToWide(path).c_str(), -1,
                                          TRUE) == CSTR_EQUAL;
        });
        if (!listed) list.push_back(path);
    }
}

}  // namespace

BrowserCandidates WindowsCandidates(const std::vector<std::string>& edge,
                                    const std::vector<std::string>& chrome,
                                    const std::vector<std::string>& firefox,
                                    const std::vector<std::string>& ie) {
    BrowserCandidates c;
    c.edge = {"C:\\Program Files\\Microsoft\\Edge\\Application\\msedge.exe",
              "C:\\Program Files (x86)\\Microsoft\\Edge\\Application\\msedge.exe"};
    c.chrome = {"C:\\Program Files\\Google\\Chrome\\Application\\chrome.exe",
                "C:\\Program Files (x86)\\Google\\Chrome\\Application\\chrome.exe"};
    c.firefox = {"C:\\Program Files\\Mozilla Firefox\\firefox.exe",
                 "C:\\Program Files (x86)\\Mozilla Firefox\\firefox.exe"};
    c.ie = {"C:\\Program Files\\Internet Explorer\\iexplore.exe",
            "C:\\Program Files (x86)\\Internet Explorer\\iexplore.exe"};
    Append(c.edge, edge);
    Append(c.chrome, chrome);
    Append(c.firefox, firefox);
    Append(c.ie, ie);
    return c;
}

std::vector<std::string> RegisteredAppPaths(const std::wstring& exeName) {
    std::vector<std::string> paths;
    for (const Hive hive : {Hive::CurrentUser, Hive::LocalMachine}) {
        const auto value = ReadRegistryText(hive, APP_PATHS + exeName, L"");
        if (!value) continue;
        std::wstring path = UnquotedPath(*value);
        // Values may name environment variables (%ProgramFiles%, %LOCALAPPDATA%).
        wchar_t expanded[MAX_PATH * 4];
        const DWORD n = ::ExpandEnvironmentStringsW(path.c_str(), expanded, MAX_PATH * 4);
        if (n > 0 && n <= MAX_PATH * 4) path = expanded;
        if (!path.empty()) paths.push_back(WideToUtf8(path));
    }
    return paths;
}

std::optional<std::string> FileVersionText(const std::string& path) {
    const std::wstring file = Utf8ToWide(path);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(file.c_str(), &ignored);
    if (size == 0) return std::nullopt;
    std::vector<BYTE> data(size);
    if (!::GetFileVersionInfoW(file.c_str(), 0, size, data.data())) return std::nullopt;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr || length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(info->dwFileVersionLS));
}

bool IsWindows11OrLater() {
    const auto version = ReadOsVersion();
    return version && IsWindows11OrLater(*version);
}

BrowserCandidates WindowsBrowserEnvironment::CandidatePaths() const {
    return WindowsCandidates(RegisteredAppPaths(L"msedge.exe"), RegisteredAppPaths(L"chrome.exe"),
                             RegisteredAppPaths(L"firefox.exe"),
                             RegisteredAppPaths(L"iexplore.exe"));
}

bool WindowsBrowserEnvironment::FileExists(const std::string& path) const {
    const DWORD attributes = ::GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

EdgeVersionValue WindowsBrowserEnvironment::ReadEdgeVersion() const {
    EdgeVersionValue v;
    RegistryStore store;
    if (store.KeyExists(Hive::CurrentUser, WideToUtf8(EDGE_BEACON))) {
        v.sourceOpened = true;
        if (const auto text = ReadRegistryText(Hive::CurrentUser, EDGE_BEACON, L"version")) {
            v.valueRead = true;
            v.text = WideToUtf8(*text);
        }
        return v;
    }
    // The beacon appears only once this user has run Edge; the installed file knows as well.
    for (const std::string& path : CandidatePaths().edge) {
        if (!FileExists(path)) continue;
        if (const auto text = FileVersionText(path)) {
            v.sourceOpened = v.valueRead = true;
            v.text = *text;
        }
        break;
    }
    return v;
}

std::string WindowsBrowserEnvironment::ReadDefaultBrowserProgId() const {
    for (const wchar_t* key : {HTML_CHOICE, HTTP_CHOICE}) {
        const auto progId = ReadRegistryText(Hive::CurrentUser, key, L"ProgId");
        if (progId && !progId->empty()) return WideToUtf8(*progId);
    }
    return {};
}

LaunchResult WindowsBrowserEnvironment::Launch(const std::string& executable,
                                               const std::vector<std::string>& args) {
    const std::wstring program = Utf8ToWide(executable);
    std::vector<std::wstring> wide;
    for (const std::string& a : args) wide.push_back(Utf8ToWide(a));
    std::wstring line = BuildCommandLine(program, wide);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    // The program by its full path (no search path), its own process group so that a console
    // Ctrl+C meant for us does not reach it, and none of our handles.
    if (!::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                          CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &process))
        return LaunchResult::Failed(executable, SystemMessage(::GetLastError()));
    ::CloseHandle(process.hThread);
    return Watched(executable, process.hProcess);
}

LaunchResult WindowsBrowserEnvironment::OpenDefault(const std::string& url) {
    const std::wstring file = Utf8ToWide(url);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // Failures come back to us instead of a shell dialog; the call returns once the handler
    // has been started, so its process (when one was made) can be watched.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info))
        return LaunchResult::Failed(url, SystemMessage(::GetLastError()));
    return Watched(url, info.hProcess);
}

std::string WindowsBrowserEnvironment::StartupDirectory() const {
    const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
    if (size == 0) return ".";
    std::wstring dir(size, L'\0');
    const DWORD written = ::GetCurrentDirectoryW(size, dir.data());
    dir.resize(written < size ? written : 0);
    return dir.empty() ? std::string(".") : WideToUtf8(dir);
}

LocalDateTime WindowsBrowserEnvironment::LocalNow() const {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return LocalDateTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace valdrune
