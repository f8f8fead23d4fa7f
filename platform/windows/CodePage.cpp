#include "platform/windows/CodePage.h"

#include <windows.h>


namespace valdrune {
namespace {

std::string WideToUtf8(const wchar_t* text, int length) {
    if (length <= 0) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
    return out;
}

}  // namespace

std::string WideToUtf8(const wchar_t* text) {
    if (text == nullptr) return {};
    return WideToUtf8(text, static_cast<int>(::wcslen(text)));
}

}  // namespace valdrune
