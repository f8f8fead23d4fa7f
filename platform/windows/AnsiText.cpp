#include "platform/AnsiText.h"

#include <windows.h>

#include <climits>
#include <vector>

namespace valdrune {

// Windows decodes with the active code page (CP_ACP), which is what the user's system shows
// such names in; the code page the language suggests is only for hosts that have none.
std::string AnsiToUtf8(std::string_view bytes, unsigned /*codePage*/) {
    if (bytes.empty() || bytes.size() > INT_MAX) return {};
    const int length = static_cast<int>(bytes.size());
    const int wide = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
    if (wide <= 0) return {};
    std::vector<wchar_t> text(static_cast<std::size_t>(wide));
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, text.data(), wide);
    // By length, not up to the first zero: a name may hold one.
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, out.data(), size, nullptr, nullptr);
    return out;
}

}  // namespace valdrune
