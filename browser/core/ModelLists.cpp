#include "browser/core/ModelLists.h"

#include <charconv>
#include <regex>

namespace valdrune {

namespace {

bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsTrimmed(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsTrimmed(s.back())) s.remove_suffix(1);
    return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

ModelList LoadModelList(std::string_view text) {
    static const std::regex comment("//.*?[\\r]*\\n", std::regex::ECMAScript);
    static const std::regex lineBreak("\\r\\n", std::regex::ECMAScript);
    const std::string input(text);
    const std::string uncommented = std::regex_replace(input, comment, "");
    ModelList rows;
    std::sregex_token_iterator it(uncommented.begin(), uncommented.end(), lineBreak, -1);
    for (std::sregex_token_iterator end; it != end; ++it) {
        const std::string piece = it->str();
        const std::string_view row = Trim(piece);
        if (!row.empty()) rows.emplace_back(row);
    }
    return rows;
}

bool ModelListContains(const ModelList& list, std::string_view model) {
    for (const std::string& row : list) {
        if (model.find(row) != std::string_view::npos) return true;
    }
    return false;
}

double LeadingNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Build the accepted span by hand so that "inf", "nan" and hex forms are never taken.
    std::string number;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
        number += text[i++];
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        std::size_t j = i + 1;
        std::string fraction;
        while (j < text.size() && IsDigit(text[j])) fraction += text[j++];
        if (digits > 0 || !fraction.empty()) {
            number += '.';
            number += fraction;
            digits += fraction.size();
            i = j;
        }
    }
    if (digits == 0) return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        std::size_t expDigits = 0;
        while (j < text.size() && IsDigit(text[j])) {
            exponent += text[j++];
            ++expDigits;
        }
        if (expDigits > 0) number += exponent;
    }
    if (number.front() == '.') number.insert(number.begin(), '0');
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Too large: treat as huge rather than zero so that it still compares as "new".
        value = number.find("e-") != std::string::npos ? 0.0 : 1e308;
    } else if (result.ec != std::errc()) {
        return 0.0;
    }
    return negative ? -value : value;
}

int ClassifyDevice(const _CommandDataTable& record, const ModelLists& lists) {
    if (record.hasBrowserBits != 0) {
        const unsigned bits = record.browserBits;
        if ((bits & 2u) == 0) return 3;
        return (bits & 1u) != 0 ? 0 : 1;
    }
    if (record.portKind != 0) return -1;
    const std::string model = FieldText(record.model);
    if (ModelListContains(lists[0], model)) return 0;
    if (ModelListContains(lists[1], model)) return 1;
    if (ModelListContains(lists[2], model)) {
        return LeadingNumber(FieldText(record.versionText)) < 4.1 ? 3 : 2;
    }
    return 3;
}

bool NeedsIeMode(const _CommandDataTable& record, int browserClass) {
    if (record.portKind != 0) {
        return record.hasBrowserBits == 0 || (record.browserBits & 2u) == 0;
    }
    return browserClass == 3;
}

}  // namespace valdrune
