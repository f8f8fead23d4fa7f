// Which 8-bit code page a user's texts are in when a device sends no UTF-8: the one that
// Windows uses as the ANSI code page for the user's language.
#pragma once

#include "res/StringTable.h"

namespace valdrune {

// 932 for Japanese, 936 for Simplified Chinese, 1252 otherwise.
unsigned AnsiCodePageFor(Language language);

}  // namespace valdrune
