// Text conversions at the Windows API boundary. The program works in UTF-8 throughout.
#pragma once

#include <string>

namespace valdrune {

// A UTF-16 text from a wide Windows API to UTF-8; null gives "".
std::string WideToUtf8(const wchar_t* text);

}  // namespace valdrune
