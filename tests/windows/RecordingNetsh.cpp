// Stands in for netsh.exe in the installer test's Wine prefix, whose own netsh does nothing:
// appends its command line, in UTF-8, to the file VALDRUNE_NETSH_LOG names.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    wchar_t log[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"VALDRUNE_NETSH_LOG", log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    const wchar_t* line = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return 1;
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), size, nullptr, nullptr);
    text.back() = '\n';
    FILE* file = _wfopen(log, L"ab");
    if (!file) return 1;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}
