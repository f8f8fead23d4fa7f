// Text conversions at the Windows API boundary. The program works in UTF-8 throughout.
#pragma once

#include <string>
#include <string_view>

namespace valdrune {

// Bytes in the active ANSI code page (CP_ACP), as devices without a capability level send
// their names, to UTF-8. Bytes the code page does not map come out as U+FFFD.
std::string ActiveCodePageToUtf8(std::string_view bytes);

// A UTF-16 text from a wide Windows API to UTF-8; null gives "".
std::string WideToUtf8(const wchar_t* text);

}  // namespace valdrune
