#include "platform/windows/OsVersion.h"

#include <windows.h>

#include <string>

namespace valdrune {

bool IsWindows11OrLater(const OsVersion& version) {
    return version.major >= 10 && version.build >= 22000;
}

std::optional<OsVersion> ReadOsVersion() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    // By full path from the system directory, never through the search path.
    wchar_t system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    const std::wstring path = std::wstring(system, length) + L"\\ntdll.dll";
    HMODULE ntdll = ::LoadLibraryW(path.c_str());
    if (ntdll == nullptr) return std::nullopt;
    std::optional<OsVersion> result;
    // GetProcAddress returns a generic pointer that has to be cast to the function's type.
    auto get = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (get != nullptr && get(&info) == 0)
        result = OsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
    ::FreeLibrary(ntdll);
    return result;
}

}  // namespace valdrune
