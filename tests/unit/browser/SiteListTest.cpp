#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "browser/core/Resources.h"
#include "browser/core/SiteList.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

_CommandDataTable At(const char* ip, std::uint16_t port, std::uint8_t https) {
    _CommandDataTable r;
    EXPECT_TRUE(ParseIpv4(ip, r.primary.ipAddress));
    r.primary.port = port;
    r.https = https;
    return r;
}

struct UrlCase {
    const char* ip;
    std::uint16_t port;
    std::uint8_t https;
    const char* deviceUrl;
    const char* siteUrl;
};

class UrlForms : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlForms, DeviceUrlAlwaysHasThePortSiteUrlDropsTheDefaultOne) {
    const UrlCase& c = GetParam();
    EXPECT_EQ(DeviceUrl(At(c.ip, c.port, c.https)), c.deviceUrl);
    EXPECT_EQ(SiteUrl(At(c.ip, c.port, c.https)), c.siteUrl);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UrlForms,
    ::testing::Values(
        UrlCase{"192.168.0.10", 80, 0, "http://192.168.0.10:80", "http://192.168.0.10/"},
        UrlCase{"192.168.0.10", 81, 0, "http://192.168.0.10:81", "http://192.168.0.10:81/"},
        UrlCase{"10.1.2.3", 443, 1, "https://10.1.2.3:443", "https://10.1.2.3/"},
        UrlCase{"10.1.2.3", 80, 1, "https://10.1.2.3:80", "https://10.1.2.3:80/"},
        UrlCase{"10.1.2.3", 443, 0, "http://10.1.2.3:443", "http://10.1.2.3:443/"},
        UrlCase{"10.1.2.3", 65535, 7, "https://10.1.2.3:65535", "https://10.1.2.3:65535/"},
        UrlCase{"0.0.0.0", 0, 0, "http://0.0.0.0:0", "http://0.0.0.0:0/"}),
    test::NamedBy([](const UrlCase& c) { return test::CaseName(c.deviceUrl); }));

TEST(SiteListDate, IsMonthDayYearWithTwentyFourHourTime) {
    EXPECT_EQ(SiteListDateText({2026, 3, 4, 5, 6, 7}), "03/04/2026 05:06:07");
    EXPECT_EQ(SiteListDateText({1999, 12, 31, 23, 59, 59}), "12/31/1999 23:59:59");
}

SiteListTemplates BuiltIn() {
    return SiteListTemplates{std::string(XmlTemplateResource(140)),
                             std::string(XmlTemplateResource(141)),
                             std::string(XmlTemplateResource(142))};
}

TEST(SiteListText, TwoDevicesMatchTheExpectedFileByteForByte) {
    std::ifstream in(std::string(BROWSER_TEST_DATA) + "/two_devices_sitelist.xml",
                     std::ios::binary);
    ASSERT_TRUE(in);
    std::stringstream expected;
    expected << in.rdbuf();
    const std::string text = BuildSiteListText(
        BuiltIn(), "03/04/2026 05:06:07", {"http://192.168.0.10/", "https://192.168.0.11:8443/"},
        {"https://192.168.0.11:8443/"});
    EXPECT_EQ(text, expected.str());
}

TEST(SiteListText, NoSitesLeaveOneEmptyLineInPlaceOfTheMarker) {
    const std::string text = BuildSiteListText(BuiltIn(), "D", {}, {});
    EXPECT_NE(text.find("  </created-by>\r\n\r\n</site-list>\r\n\r\n"), std::string::npos);
    EXPECT_EQ(text.find('#'), std::string::npos);
    EXPECT_EQ(text.find("\n"), text.find("\r\n") + 1);
}

TEST(SiteListText, EveryMarkerOccurrenceIsReplacedAndMissingTemplatesAreEmpty) {
    SiteListTemplates t{"#DATE#|#SITE#|#DATE#", "<#URL#,#URL#>", ""};
    EXPECT_EQ(BuildSiteListText(t, "D", {"a/", "b/"}, {"b/"}), "D|<a/,a/>|D");
    EXPECT_EQ(BuildSiteListText(SiteListTemplates{}, "D", {"a/"}, {}), "");
    EXPECT_EQ(ReplaceAll("#X##X#", "#X#", "#X#"), "#X##X#");  // no re-scan of the inserted text
}

TEST(SiteListReadBack, FindsTheUrlsOfAWrittenFile) {
    const std::string text =
        BuildSiteListText(BuiltIn(), "D", {"http://192.168.0.10/", "https://10.0.0.1:8443/"}, {});
    EXPECT_EQ(ExtractSiteUrls(text),
              (std::vector<std::string>{"http://192.168.0.10/", "https://10.0.0.1:8443/"}));
}

TEST(SiteListReadBack, TwoUrlsOnOneLineGiveOneEntryToTheLastSlash) {
    const std::string text =
        "<a url=\"http://10.0.0.1/\"> <b url=\"http://10.0.0.2:81/\">x\r\n"
        "http://10.0.0.3/ tail\nnothing here\nhttps://x\nhttpss://y/z";
    EXPECT_EQ(ExtractSiteUrls(text),
              (std::vector<std::string>{"http://10.0.0.1/\"> <b url=\"http://10.0.0.2:81/",
                                        "http://10.0.0.3/", "httpss://y/"}));
}

TEST(SiteListReadBack, SurvivesHostileInput) {
    std::string huge(1 << 20, '/');
    huge.insert(0, "http://");
    EXPECT_TRUE(ExtractSiteUrls(huge).empty());  // one absurd line is skipped, not matched
    EXPECT_TRUE(ExtractSiteUrls(std::string(5000, '\n')).empty());
    EXPECT_TRUE(ExtractSiteUrls(std::string("\0http://a/\0", 11)).size() == 1);
}

TEST(ZoneHost, IsTheBareAddressWhateverTheForm) {
    EXPECT_EQ(ZoneHostText("http://192.168.0.10/"), "192.168.0.10");
    EXPECT_EQ(ZoneHostText("http://192.168.0.10:81/"), "192.168.0.10");
    EXPECT_EQ(ZoneHostText("https://10.0.0.1:8443/"), "10.0.0.1");
}

TEST(EdgeWindowTitle, NeedsEdgeAtOrAfterTheFirstMicrosoft) {
    EXPECT_TRUE(IsEdgeWindowTitle("New tab - Microsoft Edge"));
    EXPECT_TRUE(IsEdgeWindowTitle("MicrosoftEdge"));
    EXPECT_TRUE(IsEdgeWindowTitle("Microsoft Word - Edge cases.docx"));
    EXPECT_FALSE(IsEdgeWindowTitle("Edge - Microsoft"));
    EXPECT_FALSE(IsEdgeWindowTitle("microsoft edge"));
    EXPECT_FALSE(IsEdgeWindowTitle("Microsoft Edg"));
    EXPECT_FALSE(IsEdgeWindowTitle(""));
}

}  // namespace
}  // namespace valdrune
