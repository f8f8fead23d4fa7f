#include "platform/windows/CodePage.h"

#include <windows.h>

#include <climits>
#include <vector>

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

std::string ActiveCodePageToUtf8(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX) return {};
    const int length = static_cast<int>(bytes.size());
    const int wide = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (wide <= 0) return {};
    std::vector<wchar_t> text(static_cast<std::size_t>(wide));
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.data(), wide);
    return WideToUtf8(text.data(), wide);
}

std::string WideToUtf8(const wchar_t* text) {
    if (text == nullptr) return {};
    return WideToUtf8(text, static_cast<int>(::wcslen(text)));
}

}  // namespace valdrune
