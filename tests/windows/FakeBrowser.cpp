// A stand-in browser for the launch tests: writes each argument it received (as the C runtime
// splits its command line) on a line of its own to "<its own path>.args", or with "--exit=N"
// as its first argument ends at once with status N.
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <cwchar>
#include <string>

int main() {
    int argc = 0;
    wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr) return 100;
    if (argc > 1 && std::wcsncmp(argv[1], L"--exit=", 7) == 0) return _wtoi(argv[1] + 7);
    std::string text;
    for (int i = 1; i < argc; ++i) {
        char utf8[4096];
        const int n =
            ::WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, utf8, sizeof utf8, nullptr, nullptr);
        text += std::string(utf8, n > 0 ? static_cast<std::size_t>(n - 1) : 0) + "\n";
    }
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring out = std::wstring(self) + L".args";
    // Complete or not at all: the test waits for the file to appear.
    const std::wstring part = out + L".part";
    const HANDLE f = ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 101;
    DWORD written = 0;
    ::WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(f);
    return ::MoveFileExW(part.c_str(), out.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 102;
}
