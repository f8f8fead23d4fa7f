#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "browser/core/ModelLists.h"
#include "browser/core/Resources.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

struct ListTextCase {
    const char* name;
    std::string text;
    ModelList rows;
};

class LoadModelListText : public ::testing::TestWithParam<ListTextCase> {};

TEST_P(LoadModelListText, YieldsRows) {
    EXPECT_EQ(LoadModelList(GetParam().text), GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Format, LoadModelListText,
    ::testing::Values(
        ListTextCase{"CommentsAndBlankLinesAreDropped",
                     "// group\r\nA1000\r\n\r\nB2000\r\n// end\r\n",
                     {"A1000", "B2000"}},
        ListTextCase{"RowsAreTrimmedOfBlanksTabsAndVerticalTabs",
                     " \tA1000\v \r\n\t\r\n  B2 C3  \r\n",
                     {"A1000", "B2 C3"}},
        ListTextCase{"DuplicatesKeepTheirOrder", "B1\r\nA1\r\nB1\r\n", {"B1", "A1", "B1"}},
        ListTextCase{
            "LfOnlyTextIsOneRowWithLfInside", "// head\nA1000\nB2000\n// tail\n", {"A1000\nB2000"}},
        ListTextCase{"CommentOnARowsLineJoinsTheNextLine",
                     "A1000 // note\r\nB2000\r\nC3000\r\n",
                     {"A1000 B2000", "C3000"}},
        ListTextCase{"CommentWithoutFinalLfBecomesARow",
                     "A1000\r\n// no line break",
                     {"A1000", "// no line break"}},
        ListTextCase{"CommentRemovalTakesCarriageReturnsBeforeTheLf",
                     "A1\r\n//x\r\r\r\nB1\r\n",
                     {"A1", "B1"}},
        ListTextCase{"MissingFinalLineBreakKeepsTheLastRow", "A1\r\nB1", {"A1", "B1"}},
        ListTextCase{"EmptyTextGivesNoRows", "", {}},
        ListTextCase{"NonAsciiCommentIsRemovedWhole",
                     "// \xE5\xB1\x8B\xE5\x86\x85 domes\r\nN1234\r\n",
                     {"N1234"}}),
    test::ByName{});

struct ListShape {
    int id;
    std::size_t rows;
    std::size_t distinct;
    std::size_t comments;
    std::vector<std::size_t> groups;
};

class ShippedList : public ::testing::TestWithParam<ListShape> {};

TEST_P(ShippedList, HasItsSizeGroupsAndComments) {
    const ListShape& shape = GetParam();
    const std::string text(ModelListResource(shape.id));
    ASSERT_FALSE(text.empty());
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1) << "lines end with CR LF";

    const ModelList rows = LoadModelList(text);
    EXPECT_EQ(rows.size(), shape.rows);
    EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()).size(), shape.distinct);

    // Walk the raw lines: comments count, groups are runs of rows between blank lines.
    std::size_t comments = 0;
    std::vector<std::size_t> groups{0};
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        if (line.rfind("//", 0) == 0) {
            ++comments;
        } else if (line.empty()) {
            if (groups.back() != 0) groups.push_back(0);
        } else {
            ++groups.back();
        }
    }
    if (groups.back() == 0) groups.pop_back();
    EXPECT_EQ(comments, shape.comments);
    EXPECT_EQ(groups, shape.groups);
}

INSTANTIATE_TEST_SUITE_P(Resources, ShippedList,
                         ::testing::Values(ListShape{143, 25, 24, 6, {10, 6, 5, 2, 2}},
                                           ListShape{144, 20, 15, 4, {14, 3, 3}},
                                           ListShape{
                                               145, 62, 55, 10, {7, 12, 26, 1, 2, 5, 6, 2, 1}}),
    test::NamedBy([](const ListShape& c) { return test::CaseName("List", c.id); }));

TEST(ShippedLists, RowShapesOverlapsAndContainedRowsAreAsDelivered) {
    const ModelList l0 = LoadModelList(ModelListResource(143));
    const ModelList l1 = LoadModelList(ModelListResource(144));
    const ModelList l2 = LoadModelList(ModelListResource(145));
    auto count = [](const ModelList& l, const char* pattern) {
        const std::regex re(pattern);
        return std::count_if(l.begin(), l.end(),
                             [&](const std::string& r) { return std::regex_match(r, re); });
    };
    EXPECT_EQ(count(l0, "[A-Z][0-9]{4}"), 23);
    EXPECT_EQ(count(l0, "[A-Z][0-9]"), 2);
    EXPECT_EQ(count(l1, "[A-Z][0-9]{4}"), 19);
    EXPECT_EQ(count(l1, "[A-Z][0-9]{3}[A-Z]"), 1);
    EXPECT_EQ(count(l2, "[A-Z][0-9]{4}"), 60);
    EXPECT_EQ(count(l2, "[A-Z]{2}[0-9]{4}"), 2);

    std::set<std::string> s0(l0.begin(), l0.end()), s1(l1.begin(), l1.end()),
        s2(l2.begin(), l2.end());
    std::vector<std::string> both02, both01, both12;
    std::set_intersection(s0.begin(), s0.end(), s2.begin(), s2.end(), std::back_inserter(both02));
    std::set_intersection(s0.begin(), s0.end(), s1.begin(), s1.end(), std::back_inserter(both01));
    std::set_intersection(s1.begin(), s1.end(), s2.begin(), s2.end(), std::back_inserter(both12));
    EXPECT_EQ(both02.size(), 1u);
    EXPECT_TRUE(both01.empty());
    EXPECT_TRUE(both12.empty());
    for (const std::string& longer : l2) {
        if (longer.size() != 6) continue;
        EXPECT_TRUE(std::any_of(l2.begin(), l2.end(), [&](const std::string& r) {
            return r != longer && longer.find(r) != std::string::npos;
        })) << longer;
    }
}

TEST(ModelListContains, MatchesARowAnywhereInTheNameCaseSensitively) {
    const ModelList list{"B2000", "Z7"};
    EXPECT_TRUE(ModelListContains(list, "XB2000-EU"));
    EXPECT_TRUE(ModelListContains(list, "AZ7Q"));
    EXPECT_FALSE(ModelListContains(list, "b2000"));
    EXPECT_FALSE(ModelListContains(list, "B200"));
    EXPECT_FALSE(ModelListContains({}, "B2000"));
}

struct NumberCase {
    const char* text;
    double value;
};

class LeadingNumberOf : public ::testing::TestWithParam<NumberCase> {};

TEST_P(LeadingNumberOf, ReadsOnlyTheNumberAtTheStart) {
    EXPECT_DOUBLE_EQ(LeadingNumber(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LeadingNumberOf,
    ::testing::Values(NumberCase{"4.1", 4.1}, NumberCase{"4.09", 4.09},
                      NumberCase{"120.0.1.2", 120.0}, NumberCase{"  \t69.9x", 69.9},
                      NumberCase{"+5", 5.0}, NumberCase{"-2.5", -2.5}, NumberCase{"1e2", 100.0},
                      NumberCase{"1e", 1.0}, NumberCase{"1e+", 1.0}, NumberCase{".5", 0.5},
                      NumberCase{"5.", 5.0}, NumberCase{"V4.1", 0.0}, NumberCase{"", 0.0},
                      NumberCase{".", 0.0}, NumberCase{"-", 0.0}, NumberCase{"inf", 0.0},
                      NumberCase{"nan", 0.0}, NumberCase{"0x10", 0.0}),
    test::NamedByText(&NumberCase::text));

// Classification ---------------------------------------------------------------------------------

ModelLists TestLists() {
    return ModelLists{ModelList{"A1000", "Z7", "S5000"}, ModelList{"B2000", "A1000X"},
                      ModelList{"C3000", "S5000", "KC3000"}};
}

_CommandDataTable Device(const char* model, const char* version = "", std::uint16_t portKind = 0) {
    _CommandDataTable r;
    SetFieldText(r.model, model);
    SetFieldText(r.versionText, version);
    r.portKind = portKind;
    return r;
}

_CommandDataTable WithBits(_CommandDataTable r, std::uint16_t bits) {
    r.hasBrowserBits = 1;
    r.browserBits = bits;
    return r;
}

struct ClassCase {
    const char* name;
    _CommandDataTable record;
    int expected;
};

class ClassifyDeviceCase : public ::testing::TestWithParam<ClassCase> {};

TEST_P(ClassifyDeviceCase, GivesTheClass) {
    EXPECT_EQ(ClassifyDevice(GetParam().record, TestLists()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClassifyDeviceCase,
    ::testing::Values(
        ClassCase{"BitsBothSetGiveZero", WithBits(Device("C3000"), 3), 0},
        ClassCase{"BitOneOnlyGivesOne", WithBits(Device("A1000"), 2), 1},
        ClassCase{"BitOneClearGivesThreeWhateverTheModel", WithBits(Device("A1000"), 1), 3},
        ClassCase{"BitsValueZeroGivesThree", WithBits(Device("A1000"), 0), 3},
        ClassCase{"BitsWinOverPortKind", WithBits(Device("", "", 2), 3), 0},
        ClassCase{"PortKindWithoutBitsGivesMinusOne", Device("A1000", "9.0", 1), -1},
        ClassCase{"ListZero", Device("XA1000Y"), 0},
        ClassCase{"OneLetterOneDigitRowMatchesAnywhere", Device("QQZ7QQ"), 0},
        ClassCase{"ListOneButNotZero", Device("B2000"), 1},
        ClassCase{"ListZeroBeatsListOne", Device("A1000X"), 0},
        ClassCase{"ListZeroBeatsListTwo", Device("S5000"), 0},
        ClassCase{"NameWithRowsOfListZeroAndTwoGetsZero", Device("C3000A1000"), 0},
        ClassCase{"ListTwoVersionFourPointOneGivesTwo", Device("C3000", "4.1"), 2},
        ClassCase{"ListTwoVersionFourPointZeroNineGivesThree", Device("C3000", "4.09"), 3},
        ClassCase{"ListTwoVersionWithLetterFirstGivesThree", Device("C3000", "V5.0"), 3},
        ClassCase{"ListTwoNewVersionWithSuffixGivesTwo", Device("KC3000", "10.2 build 7"), 2},
        ClassCase{"NoListGivesThree", Device("Q9999"), 3},
        ClassCase{"EmptyModelGivesThree", Device(""), 3},
        ClassCase{"LowerCaseModelMissesTheLists", Device("a1000"), 3}),
    test::ByName{});

TEST(ClassifyDevice, UsesTheFullSixteenByteModelField) {
    _CommandDataTable r;
    const std::string full = "ABCDEFGHIJKA1000";  // exactly 16 bytes, no terminator
    std::copy(full.begin(), full.end(), r.model.begin());
    EXPECT_EQ(ClassifyDevice(r, TestLists()), 0);
}

TEST(ClassifyDevice, DuplicateRowsChangeNothing) {
    ModelLists lists = TestLists();
    ModelLists doubled = lists;
    for (auto& l : doubled) {
        const ModelList copy = l;
        l.insert(l.end(), copy.begin(), copy.end());
    }
    for (const char* model : {"A1000", "B2000", "C3000", "Q1"}) {
        EXPECT_EQ(ClassifyDevice(Device(model, "4.0"), lists),
                  ClassifyDevice(Device(model, "4.0"), doubled));
    }
}

TEST(NeedsIeMode, FollowsPortKindBitsAndClass) {
    _CommandDataTable r = Device("", "", 1);
    EXPECT_TRUE(NeedsIeMode(r, -1));                // port kind, no bits
    EXPECT_TRUE(NeedsIeMode(WithBits(r, 1), -1));   // port kind, bit 1 clear
    EXPECT_FALSE(NeedsIeMode(WithBits(r, 2), -1));  // port kind, bit 1 set
    r = Device("");
    EXPECT_TRUE(NeedsIeMode(r, 3));
    EXPECT_FALSE(NeedsIeMode(r, -1));  // only a port-kind record is "-1 needs IE"
    EXPECT_FALSE(NeedsIeMode(r, 2));
}

}  // namespace
}  // namespace valdrune
