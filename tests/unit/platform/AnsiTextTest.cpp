// Names of devices without UTF-8 in the code pages of the users who name them so.
#include <gtest/gtest.h>

#include "platform/AnsiText.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

struct AnsiCase {
    const char* name;
    unsigned codePage;
    std::string bytes;
    std::string utf8;
};

class AnsiTextTest : public testing::TestWithParam<AnsiCase> {};

TEST_P(AnsiTextTest, ConvertsToUtf8) {
    EXPECT_EQ(AnsiToUtf8(GetParam().bytes, GetParam().codePage), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(CodePages, AnsiTextTest,
                         testing::Values(AnsiCase{"Cp1252Accent", 1252, "Cam\xE9", "Cam\xC3\xA9"},
                                         AnsiCase{"Cp1252Euro", 1252, "\x80 5", "\xE2\x82\xAC 5"},
                                         AnsiCase{"Cp1252Unmapped", 1252,
                                                  "a\x81"
                                                  "b",
                                                  "a\xEF\xBF\xBD"
                                                  "b"},
                                         AnsiCase{"Cp932Katakana", 932, "\x83J\x83\x81\x83\x89",
                                                  "\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9"},
                                         AnsiCase{"Cp932HalfWidth", 932, "\xB6\xD2\xD7",
                                                  "\xEF\xBD\xB6\xEF\xBE\x92\xEF\xBE\x97"},
                                         AnsiCase{"Cp932LeadByteAtEnd", 932, "A\x83",
                                                  "A\xEF\xBF\xBD"},
                                         AnsiCase{"Cp936Hanzi", 936, "\xC9\xE3\xCF\xF1\xBB\xFA",
                                                  "\xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA"}),
                         test::ByName{});

}  // namespace
}  // namespace valdrune
