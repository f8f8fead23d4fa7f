// Command lines as Windows programs split them (CommandLineToArgvW and the C runtime): every
// argument reaches the program exactly as given, whatever quotes, blanks or backslashes it holds.
#pragma once

#include <string>
#include <vector>

namespace valdrune {

std::wstring QuoteArgument(const std::wstring& argument);
// The program's path first, then its arguments, each quoted where it needs to be.
std::wstring BuildCommandLine(const std::wstring& program, const std::vector<std::wstring>& args);

// An App Paths value as the registry may hold it (surrounding blanks or quotes) as a plain path.
std::wstring UnquotedPath(std::wstring value);

}  // namespace valdrune
