#include <gtest/gtest.h>

#include "sim/WebPage.h"
#include "tests/support/CaseNames.h"

namespace valdrune::sim {
namespace {

TEST(WebPage, EscapesTheDeviceTextsItShows) {
    DeviceSpec d;
    SetFieldText(d.record.deviceName, "<b>\"G\" & 'y'\x01");
    SetFieldText(d.record.model, "</dd><script>");
    const std::string page = DevicePage(d);
    EXPECT_NE(
        page.find("<h1 id=\"name\">&lt;b&gt;&quot;G&quot; &amp; &#39;y&#39;\xEF\xBF\xBD</h1>"),
        std::string::npos)
        << page;
    EXPECT_NE(page.find("&lt;/dd&gt;&lt;script&gt;"), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
}

struct Exchange {
    const char* name;
    const char* request;
    const char* statusLine;
    bool withPage;
};

class WebExchange : public testing::TestWithParam<Exchange> {};

TEST_P(WebExchange, AnswersWithStatusAndClosing) {
    const std::string response = WebResponse(GetParam().request, "PAGE");
    EXPECT_EQ(response.rfind(GetParam().statusLine, 0), 0u) << response;
    EXPECT_NE(response.find("Connection: close\r\n"), std::string::npos);
    EXPECT_EQ(response.size() >= 4 && response.compare(response.size() - 4, 4, "PAGE") == 0,
              GetParam().withPage);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, WebExchange,
    testing::Values(
        Exchange{"Root", "GET / HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 200 OK", true},
        Exchange{"WithQuery", "GET /index.html?a=1 HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", true},
        Exchange{"HeadHasNoBody", "HEAD / HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", false},
        Exchange{"OtherPath", "GET /favicon.ico HTTP/1.1\r\n\r\n", "HTTP/1.1 404", false},
        Exchange{"OtherMethod", "POST / HTTP/1.1\r\n\r\n", "HTTP/1.1 405", false},
        Exchange{"Garbage", "\x16\x03\x01\r\n\r\n", "HTTP/1.1 400", false}),
    test::ByName{});

TEST(WebExchange, WaitsForTheWholeHeadAndRefusesHugeOnes) {
    EXPECT_EQ(CheckRequest("GET / HTTP/1.1\r\nHost: x\r\n"), RequestState::Incomplete);
    EXPECT_EQ(CheckRequest("GET / HTTP/1.1\r\n\r\n"), RequestState::Complete);
    EXPECT_EQ(CheckRequest(std::string(9000, 'a')), RequestState::TooLarge);
}

}  // namespace
}  // namespace valdrune::sim
