// Readable names for parameterised cases, so that ctest -R picks a case by what it is about.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <string_view>

namespace valdrune::test {

// A text in a form test names may hold: letters, digits and '_' are kept, '.', ':', '/' and
// ' ' become '_', signs are spelled out, anything else is its hex code.
inline std::string CaseNamePiece(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_')
            out += ch;
        else if (c == '.' || c == ':' || c == '/' || c == ' ') out += '_';
        else if (c == '-') out += "Minus";
        else if (c == '+') out += "Plus";
        else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "X%02X", c);
            out += hex;
        }
    }
    return out;
}

// The pieces one after the other, each as CaseNamePiece gives it; numbers as they print.
template <class... Pieces>
std::string CaseName(const Pieces&... pieces) {
    std::string out;
    const auto add = [&out](const auto& piece) {
        std::ostringstream text;
        text << piece;
        out += CaseNamePiece(text.str());
    };
    (add(pieces), ...);
    return out;
}

// Names TEST_P instances after their case's `name` field.
struct ByName {
    template <class P>
    std::string operator()(const ::testing::TestParamInfo<P>& p) const {
        return CaseNamePiece(p.param.name);
    }
};

// Names TEST_P instances by what name(case) returns.
template <class F>
auto NamedBy(F name) {
    return [name](const auto& info) { return name(info.param); };
}

// Names TEST_P instances after a text field of their case, "Empty" where it is empty.
template <class Case>
auto NamedByText(const char* Case::*field) {
    return [field](const ::testing::TestParamInfo<Case>& info) {
        const char* text = info.param.*field;
        return text[0] == '\0' ? std::string("Empty") : CaseName(text);
    };
}

}  // namespace valdrune::test
