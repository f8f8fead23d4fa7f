#include "platform/windows/browser/CommandLine.h"

namespace valdrune {

std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there each one is doubled, and the quote is
        // escaped by one more.
        if (c == L'"') backslashes = backslashes * 2 + 1;
        quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    // The closing quote follows: the trailing backslashes are doubled so they stay literal.
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring BuildCommandLine(const std::wstring& program, const std::vector<std::wstring>& args) {
    // The program's own name ends at the next quote, not at an escaped one, so it is always
    // quoted plainly (paths cannot contain quotes).
    std::wstring line = L"\"" + program + L"\"";
    for (const std::wstring& a : args) line += L" " + QuoteArgument(a);
    return line;
}

std::wstring UnquotedPath(std::wstring value) {
    const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
    while (!value.empty() && blank(value.back())) value.pop_back();
    std::size_t first = 0;
    while (first < value.size() && blank(value[first])) ++first;
    value.erase(0, first);
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
        value = value.substr(1, value.size() - 2);
    return value;
}

}  // namespace valdrune
