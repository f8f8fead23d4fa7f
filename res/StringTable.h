// The string table: every visible text by numeric id, in four languages. Pure C++ so that the
// window and the command-line tool share it; the table itself is generated at build time.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace valdrune {

enum class Language { English, Japanese, ChineseSimplified, Portuguese };

// UTF-8 text of id in lang; falls back to English, and to "" for an unknown id.
// Line breaks are stored as in the table ("\n" or "\r\n").
std::string_view LoadText(int id, Language lang);
// The active language for the process (set once at start-up; English by default).
void SetCurrentLanguage(Language lang);
Language CurrentLanguage();
inline std::string_view LoadText(int id) { return LoadText(id, CurrentLanguage()); }
// ja* -> Japanese, zh_CN / zh-Hans* / zh_SG -> Simplified Chinese, pt* -> Portuguese, else English.
Language LanguageFromLocaleName(std::string_view localeName);
// The first entry of a user's ordered language preferences that names one of the four languages
// ("en*" included) decides; English when none does.
Language LanguageFromPreferenceList(const std::vector<std::string>& localeNames);

// Every id the table holds, ascending.
std::vector<int> TextIds();
// Whether lang has its own text for id (false when LoadText would fall back to English).
bool HasOwnText(int id, Language lang);

}  // namespace valdrune
