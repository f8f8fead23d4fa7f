// 8-bit text in an ANSI code page as UTF-8. One implementation per target: linux/AnsiText.cpp
// (iconv), windows/AnsiText.cpp (the active code page).
#pragma once

#include <string>
#include <string_view>

namespace valdrune {

// codePage: 932, 936 or 1252 (see AnsiCodePageFor); Windows uses its active code page
// instead. Bytes the code page does not map become U+FFFD; the result is always valid UTF-8.
std::string AnsiToUtf8(std::string_view bytes, unsigned codePage);

}  // namespace valdrune
