#include "res/StringTable.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

namespace valdrune {
namespace detail {
extern const unsigned char kStringTableSource[];
extern const std::size_t kStringTableSourceSize;
}  // namespace detail

namespace {

constexpr std::size_t kLanguages = 4;
using Row = std::array<std::string, kLanguages>;

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Cells use C-like escapes so that line breaks and tabs survive a tab-separated file.
// An unknown escape is kept as written.
std::string Unescape(std::string_view cell) {
    std::string out;
    out.reserve(cell.size());
    for (std::size_t i = 0; i < cell.size(); ++i) {
        const char c = cell[i];
        if (c != '\\' || i + 1 == cell.size()) {
            out += c;
            continue;
        }
        const char e = cell[i + 1];
        switch (e) {
            case 'n':
                out += '\n';
                ++i;
                break;
            case 'r':
                out += '\r';
                ++i;
                break;
            case 't':
                out += '\t';
                ++i;
                break;
            case '\\':
                out += '\\';
                ++i;
                break;
            case 'u': {
                std::uint32_t cp = 0;
                bool ok = i + 5 < cell.size();
                for (std::size_t k = 0; ok && k < 4; ++k) {
                    const int d = HexDigit(cell[i + 2 + k]);
                    if (d < 0) ok = false;
                    cp = cp * 16 + static_cast<std::uint32_t>(d < 0 ? 0 : d);
                }
                if (ok) {
                    AppendUtf8(out, cp);
                    i += 5;
                } else {
                    out += c;
                }
                break;
            }
            default:
                out += c;
                break;
        }
    }
    return out;
}

std::map<int, Row> Parse() {
    std::map<int, Row> table;
    const std::string_view source(reinterpret_cast<const char*>(detail::kStringTableSource),
                                  detail::kStringTableSourceSize);
    std::size_t pos = 0;
    while (pos < source.size()) {
        std::size_t end = source.find('\n', pos);
        if (end == std::string_view::npos) end = source.size();
        std::string_view line = source.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() < '0' || line.front() > '9') continue;  // comment, header
        std::array<std::string_view, kLanguages + 1> cells{};
        std::size_t count = 0;
        std::size_t start = 0;
        while (count < cells.size()) {
            const std::size_t tab = line.find('\t', start);
            cells[count++] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
            if (tab == std::string_view::npos) break;
            start = tab + 1;
        }
        int id = 0;
        for (char d : cells[0]) {
            if (d < '0' || d > '9') {
                id = -1;
                break;
            }
            id = id * 10 + (d - '0');
        }
        if (id <= 0) continue;
        Row row;
        for (std::size_t k = 0; k < kLanguages && k + 1 < count; ++k)
            row[k] = Unescape(cells[k + 1]);
        table[id] = std::move(row);
    }
    return table;
}

const std::map<int, Row>& Table() {
    static const std::map<int, Row> table = Parse();
    return table;
}

std::atomic<int> g_language{static_cast<int>(Language::English)};

std::string Normalised(std::string_view name) {
    std::string s;
    for (char c : name) {
        if (c == '.' || c == '@') break;  // encoding and modifier do not choose the language
        if (c == '-') c = '_';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        s += c;
    }
    return s;
}

// The language a locale name names, or nothing for a language outside the table.
std::optional<Language> Recognise(std::string_view localeName) {
    const std::string s = Normalised(localeName);
    const std::string lang = s.substr(0, s.find('_'));
    const std::string rest = lang.size() < s.size() ? s.substr(lang.size()) + "_" : std::string();
    if (lang == "en" || lang == "c" || lang == "posix") return Language::English;
    if (lang == "ja") return Language::Japanese;
    if (lang == "pt") return Language::Portuguese;
    if (lang == "zh") {
        if (rest.find("_hant_") != std::string::npos) return std::nullopt;
        if (rest.find("_hans_") != std::string::npos) return Language::ChineseSimplified;
        for (const char* region : {"_tw_", "_hk_", "_mo_"})
            if (rest.find(region) != std::string::npos) return std::nullopt;
        return Language::ChineseSimplified;
    }
    return std::nullopt;
}

}  // namespace

std::string_view LoadText(int id, Language lang) {
    const auto& table = Table();
    const auto it = table.find(id);
    if (it == table.end()) return {};
    const std::string& own = it->second[static_cast<std::size_t>(lang)];
    return own.empty() ? std::string_view(it->second[0]) : std::string_view(own);
}

void SetCurrentLanguage(Language lang) { g_language.store(static_cast<int>(lang)); }

Language CurrentLanguage() { return static_cast<Language>(g_language.load()); }

Language LanguageFromLocaleName(std::string_view localeName) {
    return Recognise(localeName).value_or(Language::English);
}

Language LanguageFromPreferenceList(const std::vector<std::string>& localeNames) {
    for (const auto& name : localeNames)
        if (const auto lang = Recognise(name)) return *lang;
    return Language::English;
}

std::vector<int> TextIds() {
    std::vector<int> ids;
    for (const auto& [id, row] : Table()) ids.push_back(id);
    return ids;
}

bool HasOwnText(int id, Language lang) {
    const auto it = Table().find(id);
    return it != Table().end() && !it->second[static_cast<std::size_t>(lang)].empty();
}

}  // namespace valdrune
