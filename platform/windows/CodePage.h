// Text conversions at the Windows API boundary. The program works in UTF-8 throughout.
#pragma once

#include <string>
#include <string_view>

namespace valdrune {

// A UTF-16 text from a wide Windows API to UTF-8; null gives "".
std::string WideToUtf8(const wchar_t* text);
std::string WideToUtf8(std::wstring_view text);
// UTF-8 for a wide Windows API; invalid sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
// The system's text for a Win32 error code, without the closing full stop; "error N" when it
// has none.
std::string SystemMessage(unsigned long error);

}  // namespace valdrune
