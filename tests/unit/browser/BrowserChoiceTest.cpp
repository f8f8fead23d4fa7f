#include <gtest/gtest.h>

#include "BrowserFakes.h"
#include "browser/core/BrowserChoice.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

using testing::EventLog;
using testing::FakeEnvironment;

struct ProgIdCase {
    const char* progId;
    int code;
};

class DefaultBrowserFromProgId : public ::testing::TestWithParam<ProgIdCase> {};

TEST_P(DefaultBrowserFromProgId, FirstMatchingTestDecides) {
    EXPECT_EQ(DefaultBrowserCode(GetParam().progId), GetParam().code) << GetParam().progId;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DefaultBrowserFromProgId,
    ::testing::Values(ProgIdCase{"MSEdgeHTM", 2}, ProgIdCase{"ChromeHTML", 3},
                      ProgIdCase{"FirefoxHTML-308046B0AF4A39CB", 4},
                      ProgIdCase{"AppXq0fevzme2pys62n3e0fbqa7peapykr8v", 2},
                      ProgIdCase{"ChromeHTML MSEdgeHTM", 2},   // table order, not text order
                      ProgIdCase{"FirefoxHTMLChromeHTML", 3},  // Chrome tested before Firefox
                      ProgIdCase{"AppXChromeHTML", 3},         // AppX is the last test
                      ProgIdCase{"chromehtml", 5}, ProgIdCase{"msedgehtm", 5},
                      ProgIdCase{"IE.HTTP", 5}, ProgIdCase{"", 5}),
    test::NamedByText(&ProgIdCase::progId));

struct VersionCase {
    const char* name;
    bool installed;
    EdgeVersionValue version;
    bool legacy;
};

class EdgeLegacy : public ::testing::TestWithParam<VersionCase> {};

TEST_P(EdgeLegacy, FollowsTheVersionText) {
    EXPECT_EQ(EdgeIsLegacy(GetParam().installed, GetParam().version), GetParam().legacy);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EdgeLegacy,
    ::testing::Values(
        VersionCase{"Current", true, {true, true, "120.0.2210.91"}, false},
        VersionCase{"ExactlySeventy", true, {true, true, "70"}, false},
        VersionCase{"SixtyNinePointNine", true, {true, true, "69.9"}, true},
        VersionCase{"NotInstalled", false, {true, true, "120.0"}, true},
        VersionCase{"SourceMissing", true, {false, false, ""}, true},
        VersionCase{"ValueUnreadable", true, {true, false, ""}, true},
        VersionCase{"NoLeadingNumber", true, {true, true, "v120"}, true},
        VersionCase{"FortyNineBytesFit", true, {true, true, "120" + std::string(46, '.')}, false},
        VersionCase{"FiftyBytesDoNotFit", true, {true, true, "120" + std::string(47, '.')}, true}),
    test::ByName{});

TEST(DetectBrowsers, TriesTheSecondPathOnlyWhenTheFirstIsAbsent) {
    EventLog log;
    FakeEnvironment env(log);
    env.files = {"/edge/a", "/edge/b", "/chrome/b", "/ie/b"};
    const BrowserAvailability a = DetectBrowsers(env);
    EXPECT_TRUE(a.edgeInstalled);
    EXPECT_EQ(a.edgePath, "/edge/a");
    EXPECT_FALSE(a.edgeLegacy);
    EXPECT_EQ(a.chromePath, "/chrome/b");
    EXPECT_FALSE(a.firefoxInstalled);
    EXPECT_TRUE(a.firefoxPath.empty());
    EXPECT_EQ(a.iePath, "/ie/b");
}

TEST(DetectBrowsers, DoesNotReadTheVersionOfAMissingEdge) {
    EventLog log;
    FakeEnvironment env(log);
    env.version = {true, true, "130.0"};
    const BrowserAvailability a = DetectBrowsers(env);
    EXPECT_FALSE(a.edgeInstalled);
    EXPECT_TRUE(a.edgeLegacy);
}

struct ComboCase {
    const char* name;
    bool edge, legacy, chrome, firefox, ie;
    std::vector<int> codes;
};

class BrowserCombo : public ::testing::TestWithParam<ComboCase> {};

TEST_P(BrowserCombo, OffersAutoThenTheUsableBrowsers) {
    const ComboCase& c = GetParam();
    BrowserAvailability a;
    a.edgeInstalled = c.edge;
    a.edgeLegacy = c.legacy;
    a.chromeInstalled = c.chrome;
    a.firefoxInstalled = c.firefox;
    a.ieInstalled = c.ie;
    EXPECT_EQ(BrowserComboCodes(a), c.codes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrowserCombo,
    ::testing::Values(ComboCase{"Nothing", false, true, false, false, false, {0}},
                      ComboCase{"Everything", true, false, true, true, true, {0, 1, 2, 3, 4, 5}},
                      ComboCase{"LegacyEdgeIsLeftOut", true, true, true, false, true, {0, 3, 5}},
                      ComboCase{"FirefoxOnly", false, true, false, true, false, {0, 4}},
                      ComboCase{"EdgeAndFirefox", true, false, false, true, false, {0, 1, 2, 4}}),
    test::ByName{});

TEST(BrowserCombo, SelectsTheStoredCodeOrFallsBackToAuto) {
    const std::vector<int> codes{0, 3, 5};
    EXPECT_EQ(BrowserComboIndex(codes, 5), 2);
    EXPECT_EQ(BrowserComboIndex(codes, 3), 1);
    EXPECT_EQ(BrowserComboIndex(codes, 1), 0);  // Edge stored but flagged too old
    EXPECT_EQ(BrowserComboIndex(codes, 99), 0);
    EXPECT_EQ(BrowserComboTextId(0), 231);
    EXPECT_EQ(BrowserComboTextId(1), 232);
    EXPECT_EQ(BrowserComboTextId(5), 236);
}

TEST(LaunchCommand, EachFormStartsItsExecutableWithItsArguments) {
    BrowserAvailability a;
    a.edgePath = "/e";
    a.chromePath = "/c";
    a.firefoxPath = "/f";
    a.iePath = "/i";
    const BrowserCandidates none;
    const std::string url = "http://10.0.0.5:80";
    auto edge = CommandFor(LaunchForm::Edge, url, a, none);
    EXPECT_EQ(edge.executable, "/e");
    EXPECT_EQ(edge.args, std::vector<std::string>{url});
    EXPECT_TRUE(CommandFor(LaunchForm::Edge, "", a, none).args.empty());
    EXPECT_EQ(CommandFor(LaunchForm::Chrome, url, a, none).executable, "/c");
    EXPECT_EQ(CommandFor(LaunchForm::Firefox, url, a, none).args, std::vector<std::string>{url});
    EXPECT_EQ(CommandFor(LaunchForm::InternetExplorer, url, a, none).args,
              (std::vector<std::string>{"-new", url}));
    const auto def = CommandFor(LaunchForm::SystemDefault, url, a, none);
    EXPECT_TRUE(def.systemDefault);
    EXPECT_EQ(def.url, url);
}

TEST(LaunchCommand, UndetectedBrowserFallsBackToItsPreferredPathOrNothing) {
    const BrowserAvailability a;
    BrowserCandidates c;
    c.chrome = {"/usr/bin/chrome-x", "/opt/chrome"};
    EXPECT_EQ(CommandFor(LaunchForm::Chrome, "u", a, c).executable, "/usr/bin/chrome-x");
    EXPECT_TRUE(CommandFor(LaunchForm::InternetExplorer, "u", a, c).executable.empty());
}

}  // namespace
}  // namespace valdrune
