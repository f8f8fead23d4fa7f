#include "platform/windows/browser/Win32Windows.h"

#include <windows.h>

#include "platform/windows/CodePage.h"

namespace valdrune {
namespace {

BOOL CALLBACK Collect(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::string TitleOf(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    if (length <= 0) return {};
    std::wstring title(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, title.data(), length + 1);
    title.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return WideToUtf8(title);
}

}  // namespace

std::vector<TopLevelWindow> Win32Windows::List() const {
    std::vector<HWND> handles;
    ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&handles));
    std::vector<TopLevelWindow> windows;
    windows.reserve(handles.size());
    for (HWND h : handles) {
        windows.push_back(TopLevelWindow{reinterpret_cast<std::uintptr_t>(h),
                                         ::GetWindow(h, GW_OWNER) != nullptr, TitleOf(h)});
    }
    return windows;
}

void Win32Windows::ShowMinimized(std::uint64_t handle) {
    const HWND window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(handle));
    if (::IsWindow(window)) ::ShowWindow(window, SW_SHOWMINIMIZED);
}

}  // namespace valdrune
