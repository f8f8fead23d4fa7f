#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "res/StringTable.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

constexpr Language kAll[] = {Language::English, Language::Japanese, Language::ChineseSimplified,
                             Language::Portuguese};

std::vector<int> ExpectedIds() {
    std::vector<int> ids;
    for (int id = 201; id <= 240; ++id)
        if (id != 229) ids.push_back(id);
    for (int id = 301; id <= 304; ++id) ids.push_back(id);
    for (int id = 401; id <= 452; ++id)
        if (id != 438 && id != 445 && id != 446) ids.push_back(id);
    for (int id = 601; id <= 603; ++id) ids.push_back(id);
    for (int id = 901; id <= 903; ++id) ids.push_back(id);
    // The empty list's hint and the probe-rights note.
    for (int id = 910; id <= 929; ++id) ids.push_back(id);
    for (int id = 931; id <= 932; ++id) ids.push_back(id);
    // The window's list tools and its batch assignment.
    for (int id = 1101; id <= 1113; ++id)
        if (id != 1105 && id != 1106) ids.push_back(id);
    for (int id = 1120; id <= 1156; ++id) ids.push_back(id);
    for (int id = 1180; id <= 1184; ++id) ids.push_back(id);
    return ids;
}

std::vector<std::string> Placeholders(std::string_view text) {
    static const std::regex re("%[-+ 0#]*[0-9]*(?:\\.[0-9]+)?[a-zA-Z%]");
    std::vector<std::string> found;
    const std::string s(text);
    for (auto it = std::sregex_iterator(s.begin(), s.end(), re); it != std::sregex_iterator(); ++it)
        found.push_back(it->str());
    return found;
}

// Counts of "\r\n" and of bare "\n".
std::pair<int, int> LineBreaks(std::string_view text) {
    int crlf = 0;
    int lf = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        if (i > 0 && text[i - 1] == '\r')
            ++crlf;
        else
            ++lf;
    }
    return {crlf, lf};
}

TEST(StringTable, EveryUsedIdHasATextInAllFourLanguages) {
    for (int id : ExpectedIds()) {
        for (Language lang : kAll) {
            EXPECT_TRUE(HasOwnText(id, lang)) << "id " << id << " language " << int(lang);
            EXPECT_FALSE(LoadText(id, lang).empty()) << "id " << id;
        }
    }
    EXPECT_EQ(TextIds(), ExpectedIds()) << "the table holds ids nobody uses, or misses some";
}

TEST(StringTable, TranslationsKeepPlaceholdersAndLineBreaks) {
    for (int id : TextIds()) {
        const auto en = LoadText(id, Language::English);
        for (Language lang : kAll) {
            const auto text = LoadText(id, lang);
            EXPECT_EQ(Placeholders(text), Placeholders(en)) << "id " << id << " lang " << int(lang);
            EXPECT_EQ(LineBreaks(text), LineBreaks(en)) << "id " << id << " lang " << int(lang);
        }
    }
}

TEST(StringTable, EnglishTextsKeepTheirExactForm) {
    EXPECT_EQ(LoadText(201, Language::English), "Valdrune");
    EXPECT_EQ(LoadText(302, Language::English), "Valdrune  Ver 5.20");
    EXPECT_EQ(LoadText(411, Language::English), " DHCP");
    EXPECT_EQ(LoadText(223, Language::English),
              "IPv4 addresses overlapped.\nPlease change the IPv4 address  by the Network "
              "Settings again.");
    EXPECT_EQ(LoadText(437, Language::English),
              "In case of setting \"Static\" ,  you must select DNS \"Manual\".");
    const auto trusted = LoadText(239, Language::English);
    EXPECT_EQ(trusted.substr(trusted.size() - 35), "device. \nWould you like to proceed?");
    const auto notice = LoadText(240, Language::English);
    EXPECT_NE(notice.find("OK button.\xE2\x80\x8B\r\nFor details"), std::string_view::npos);
    EXPECT_NE(notice.find("(\\HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Microsoft\\Edge)"),
              std::string_view::npos);
    EXPECT_EQ(notice.back(), ')');
    EXPECT_EQ(LoadText(224, Language::English).substr(0, 31), "Failed to initialize sockets.\n\n");
}

TEST(StringTable, UnknownIdGivesEmptyText) {
    EXPECT_TRUE(LoadText(0, Language::English).empty());
    EXPECT_TRUE(LoadText(229, Language::Japanese).empty());
    EXPECT_TRUE(LoadText(99999, Language::Portuguese).empty());
}

TEST(StringTable, CurrentLanguageAnswersTheOneArgumentLookup) {
    SetCurrentLanguage(Language::Portuguese);
    EXPECT_EQ(LoadText(211), "Fechar");
    SetCurrentLanguage(Language::English);
    EXPECT_EQ(LoadText(211), "Close");
}

struct LocaleCase {
    const char* name;
    Language expected;
};

class LocaleChoice : public testing::TestWithParam<LocaleCase> {};

TEST_P(LocaleChoice, PicksTheTableForTheLocaleName) {
    EXPECT_EQ(LanguageFromLocaleName(GetParam().name), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, LocaleChoice,
    testing::Values(LocaleCase{"ja_JP.UTF-8", Language::Japanese},
                    LocaleCase{"ja", Language::Japanese}, LocaleCase{"JA-jp", Language::Japanese},
                    LocaleCase{"zh_CN.UTF-8", Language::ChineseSimplified},
                    LocaleCase{"zh-Hans-CN", Language::ChineseSimplified},
                    LocaleCase{"zh_SG", Language::ChineseSimplified},
                    LocaleCase{"zh", Language::ChineseSimplified},
                    LocaleCase{"zh_TW.UTF-8", Language::English},
                    LocaleCase{"zh-Hant-HK", Language::English},
                    LocaleCase{"pt_BR.UTF-8", Language::Portuguese},
                    LocaleCase{"pt_PT@euro", Language::Portuguese},
                    LocaleCase{"pt", Language::Portuguese},
                    LocaleCase{"en_US.UTF-8", Language::English},
                    LocaleCase{"de_DE", Language::English}, LocaleCase{"jav_ID", Language::English},
                    LocaleCase{"C", Language::English}, LocaleCase{"", Language::English}),
    test::NamedByText(&LocaleCase::name));

TEST(LocaleChoice, FirstKnownPreferenceWins) {
    EXPECT_EQ(LanguageFromPreferenceList({"de-DE", "pt-BR", "ja-JP"}), Language::Portuguese);
    EXPECT_EQ(LanguageFromPreferenceList({"en-GB", "ja-JP"}), Language::English);
    EXPECT_EQ(LanguageFromPreferenceList({"zh-TW", "fr"}), Language::English);
    EXPECT_EQ(LanguageFromPreferenceList({}), Language::English);
}

}  // namespace
}  // namespace valdrune
