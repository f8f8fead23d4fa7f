#include <gtest/gtest.h>

#include <algorithm>

#include "BrowserFakes.h"
#include "browser/core/CDeviceBrowser.h"
#include "browser/core/Resources.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

using testing::BrowserRig;

constexpr const char* MAC = "00-80-45-00-00-20";
constexpr const char* URL = "http://192.168.0.20:80";
constexpr const char* LIST_PATH = "/start/Quembrel_sitelist.xml";

const std::string RUN_DIALOG_1 = "post " + std::to_string(WM_RUN_MESSAGE_DIALOG) + " 1";
const std::string RUN_DIALOG_2 = "post " + std::to_string(WM_RUN_MESSAGE_DIALOG) + " 2";
const std::string MSG_221 = "msg 221 type 48 main";
const std::string MSG_222 = "msg 222 type 48 main";
const std::string MSG_223 = "msg 223 type 48 main";
const std::string MSG_447 = "msg 447 type 48 app";
const std::string MSG_239 = "msg 239 type 49 none";
const std::string MSG_240 = "msg 240 type 49 none";
const std::string SET_LEVEL =
    "set HKLM\\SOFTWARE\\Policies\\Microsoft\\Edge\\InternetExplorerIntegrationLevel=1";
const std::string SET_LIST = std::string("set HKLM\\SOFTWARE\\Policies\\Microsoft\\Edge\\") +
                             "InternetExplorerIntegrationSiteList=" + LIST_PATH;
const std::string WRITE_LIST = std::string("write ") + LIST_PATH;
const std::string SETUP_TIMER = "timer 1 500";
const std::string EDGE_NO_PAGE = "launch /edge/a";

// Gives the record what makes the decisions classify it as browserClass: the browser bits for
// 0, 1 and 3, the third model list (see Build) for 2, a port kind for -1.
void SetClass(_CommandDataTable& r, int browserClass) {
    r.hasBrowserBits = browserClass == 0 || browserClass == 1 || browserClass == 3;
    r.browserBits = browserClass == 0 ? 3 : browserClass == 1 ? 2 : 0;
    r.portKind = browserClass == -1 ? 1 : 0;
    SetFieldText(r.model, browserClass == 2 ? "CLASS2" : "");
    SetFieldText(r.versionText, "5.0");
}

_CommandDataTable DeviceRecord(int browserClass, const char* ip = "192.168.0.20",
                               std::uint16_t port = 80) {
    _CommandDataTable r;
    ParseMac(MAC, r.primary.mac);
    ParseIpv4(ip, r.primary.ipAddress);
    r.primary.port = port;
    SetClass(r, browserClass);
    return r;
}

class DeviceBrowserTest : public ::testing::Test {
  protected:
    void Build() {
        browser_ = std::make_unique<CDeviceBrowser>(rig_.Seams());
        browser_->DetectWindows11();
        browser_->InitSiteListPath();
        browser_->DetectBrowsers();
        browser_->LoadModelList(2, "CLASS2\r\n");
        browser_->SetTemplates({std::string(XmlTemplateResource(140)),
                                std::string(XmlTemplateResource(141)),
                                std::string(XmlTemplateResource(142))});
        browser_->LoadSiteListState();
        rig_.log.clear();
    }
    void PutPolicy(bool level, const std::string& path) {
        if (level)
            rig_.store.Put(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE, {false, 0, {}});
        if (!path.empty()) {
            rig_.store.Put(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_SITE_LIST_VALUE,
                           {true, 0, path});
        }
    }
    std::optional<std::string> PolicyPath() const {
        return rig_.store.QueryString(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_SITE_LIST_VALUE);
    }
    void Open(const _CommandDataTable& record, int code) {
        rig_.devices.table[MAC] = record;
        browser_->OnOpenDeviceWindow(std::string(MAC), code);
    }

    BrowserRig rig_;
    std::unique_ptr<CDeviceBrowser> browser_;
};

// ---- the checks before an open
// --------------------------------------------------------------------

TEST_F(DeviceBrowserTest, OpenWithoutSelectionShowsNoSelectionOnly) {
    rig_.env.InstallAll();
    Build();
    browser_->OnOpenDeviceWindow(std::nullopt, BROWSER_CHROME);
    EXPECT_EQ(rig_.log, std::vector<std::string>{MSG_221});
    EXPECT_EQ(rig_.devices.probes, 0);
}

TEST_F(DeviceBrowserTest, OpenRefusesOverlapsBeforeProbing) {
    rig_.env.InstallAll();
    Build();
    rig_.devices.overlaps = 1;
    rig_.devices.probeAnswer = false;
    Open(DeviceRecord(0), BROWSER_CHROME);
    EXPECT_EQ(rig_.log, std::vector<std::string>{MSG_223});
    EXPECT_EQ(rig_.devices.probes, 0);
}

TEST_F(DeviceBrowserTest, OpenRefusesADeviceThatDoesNotAnswer) {
    rig_.env.InstallAll();
    Build();
    rig_.devices.probeAnswer = false;
    Open(DeviceRecord(0), BROWSER_CHROME);
    EXPECT_EQ(rig_.log, std::vector<std::string>{MSG_222});
}

TEST_F(DeviceBrowserTest, OpenOfAnUnknownMacUsesAnEmptyRecord) {
    rig_.env.InstallAll();
    Build();
    browser_->OnOpenDeviceWindow(std::string("11-22-33-44-55-66"), BROWSER_CHROME);
    EXPECT_EQ(rig_.log, std::vector<std::string>{"launch /chrome/a http://0.0.0.0:0"});
}

TEST_F(DeviceBrowserTest, SecondClickDuringTheProbeIsIgnoredAndALateAnswerAfterDestructionIsSafe) {
    rig_.env.InstallAll();
    Build();
    rig_.devices.probeAnswer = std::nullopt;
    Open(DeviceRecord(0), BROWSER_CHROME);
    Open(DeviceRecord(0), BROWSER_CHROME);
    EXPECT_EQ(rig_.devices.probes, 1);
    EXPECT_TRUE(browser_->ProbeRunning());
    auto answer = rig_.devices.outstanding;
    browser_.reset();
    answer(true);
    EXPECT_TRUE(rig_.log.empty());
}

TEST_F(DeviceBrowserTest, HttpsDeviceOnPort443OpensWithThePortWritten) {
    rig_.env.InstallAll();
    Build();
    _CommandDataTable r = DeviceRecord(0, "10.0.0.9", 443);
    r.https = 1;
    Open(r, BROWSER_FIREFOX);
    EXPECT_EQ(rig_.log, std::vector<std::string>{"launch /firefox/a https://10.0.0.9:443"});
}

// ---- a browser that does not come up
// ---------------------------------------------------------------

struct LaunchProblemCase {
    const char* name;
    LaunchResult result;
    std::vector<std::string> atOnce;      // events of the click
    std::vector<std::string> afterGrace;  // events when the grace period is over
};

LaunchResult Watched(std::optional<int> status) {
    LaunchResult r;
    r.program = "/chrome/a";
    r.exited = [status] { return status; };
    return r;
}

class LaunchProblem : public DeviceBrowserTest,
                      public ::testing::WithParamInterface<LaunchProblemCase> {};

TEST_P(LaunchProblem, IsToldToTheUserOnlyWhenItFailedOrEndedWithAnError) {
    rig_.env.InstallAll();
    Build();
    rig_.env.results.push_back(GetParam().result);
    Open(DeviceRecord(0), BROWSER_CHROME);
    EXPECT_EQ(rig_.log, GetParam().atOnce);
    rig_.log.clear();
    rig_.host.RunDelayed();
    EXPECT_EQ(rig_.log, GetParam().afterGrace);
}

const std::string LAUNCH_CHROME = std::string("launch /chrome/a ") + URL;
const std::string GRACE = "after " + std::to_string(LAUNCH_GRACE_MS);
INSTANTIATE_TEST_SUITE_P(
    Browser, LaunchProblem,
    ::testing::Values(
        LaunchProblemCase{"FailedToStart",
                          LaunchResult::Failed("/chrome/a", "Permission denied"),
                          {LAUNCH_CHROME, "msg 931 type 48 main [/chrome/a Permission denied]"},
                          {}},
        LaunchProblemCase{"EndsWithAnError",
                          Watched(1),
                          {LAUNCH_CHROME, GRACE},
                          {"msg 932 type 48 main [1 /chrome/a]"}},
        LaunchProblemCase{"CrashStatusInHex",
                          Watched(static_cast<int>(0xC0000135u)),
                          {LAUNCH_CHROME, GRACE},
                          {"msg 932 type 48 main [0xC0000135 /chrome/a]"}},
        LaunchProblemCase{"HandsOverAndEnds", Watched(0), {LAUNCH_CHROME, GRACE}, {}},
        LaunchProblemCase{"StillRunning", Watched(std::nullopt), {LAUNCH_CHROME, GRACE}, {}},
        LaunchProblemCase{"NotWatchable", LaunchResult{}, {LAUNCH_CHROME}, {}}),
    test::ByName{});

TEST_F(DeviceBrowserTest, EarlyEndIsNotReportedOnceTheDialogIsGone) {
    rig_.env.InstallAll();
    Build();
    rig_.env.results.push_back(Watched(1));
    Open(DeviceRecord(0), BROWSER_CHROME);
    browser_.reset();
    rig_.log.clear();
    rig_.host.RunDelayed();
    EXPECT_TRUE(rig_.log.empty());
}

// ---- which browser starts
// ----------------------------------------------------------------------------

struct LaunchCase {
    const char* name;
    std::vector<std::string> installed;  // of "edge", "chrome", "firefox", "ie"
    const char* edgeVersion;
    const char* progId;
    int code;
    int browserClass;
    std::vector<std::string> events;
};

// The default-browser association is read into a 512-byte buffer: a value fits only with room
// for its terminator, and only the text before a NUL counts.
TEST_F(DeviceBrowserTest, RegistryTextFitsItsBufferOnlyWithTheTerminator) {
    Build();
    const std::string chrome = std::string("ChromeHTML") + '\0';
    rig_.env.progId = chrome + std::string(511 - chrome.size(), 'x');
    EXPECT_EQ(browser_->DetectDefaultBrowser(), BROWSER_CHROME);
    rig_.env.progId += 'x';  // 512 bytes: read as no association at all
    EXPECT_EQ(browser_->DetectDefaultBrowser(), DefaultBrowserCode(""));
    EXPECT_NE(browser_->DetectDefaultBrowser(), BROWSER_CHROME);
}

class LaunchPath : public DeviceBrowserTest, public ::testing::WithParamInterface<LaunchCase> {};

TEST_P(LaunchPath, StartsTheExpectedBrowser) {
    const LaunchCase& c = GetParam();
    for (const std::string& b : c.installed) rig_.env.files.insert("/" + b + "/a");
    rig_.env.version = {true, true, c.edgeVersion};
    rig_.env.progId = c.progId;
    Build();
    Open(DeviceRecord(c.browserClass), c.code);
    EXPECT_EQ(rig_.log, c.events);
}

const std::vector<std::string> ALL{"edge", "chrome", "firefox", "ie"};
const std::string EDGE = std::string("launch /edge/a ") + URL;
const std::string CHROME = std::string("launch /chrome/a ") + URL;
const std::string FIREFOX = std::string("launch /firefox/a ") + URL;
const std::string IE = std::string("launch /ie/a -new ") + URL;
const std::string SYSTEM = std::string("default ") + URL;

INSTANTIATE_TEST_SUITE_P(
    Table, LaunchPath,
    ::testing::Values(
        LaunchCase{"ChosenChrome", ALL, "120", "", 3, 3, {CHROME}},
        LaunchCase{"ChosenFirefox", ALL, "120", "", 4, 0, {FIREFOX}},
        LaunchCase{"ChosenIe", ALL, "120", "", 5, 0, {IE}},
        LaunchCase{"ChosenEdge", ALL, "120", "", 2, 3, {EDGE}},
        LaunchCase{
            "ChosenEdgeIeModeWithoutIeShows447", {"edge", "chrome"}, "120", "", 1, 3, {MSG_447}},
        LaunchCase{"ChosenEdgeIeMode", ALL, "120", "", 1, 0, {EDGE}},
        LaunchCase{"AutoClass0DefaultChromeUsesTheSystemDefault",
                   ALL,
                   "120",
                   "ChromeHTML",
                   0,
                   0,
                   {SYSTEM}},
        LaunchCase{"AutoClass0OtherDefaultUsesIe", ALL, "120", "IE.HTTP", 0, 0, {IE}},
        LaunchCase{"AutoClass0OtherDefaultNoIeUsesTheSystemDefault",
                   {"edge", "chrome"},
                   "120",
                   "",
                   0,
                   0,
                   {SYSTEM}},
        LaunchCase{"AutoClass2IsClass0", ALL, "120", "IE.HTTP", 0, 2, {IE}},
        LaunchCase{"AutoClass0DefaultEdgeUsesTheEdgeForm", ALL, "120", "MSEdgeHTM", 0, 0, {EDGE}},
        LaunchCase{"AutoClass1OtherDefaultGoesTheEdgeWay", ALL, "120", "", 0, 1, {EDGE}},
        LaunchCase{"AutoClass1FirefoxDefault", ALL, "120", "FirefoxHTML", 0, 1, {SYSTEM}},
        LaunchCase{"AutoClass1LegacyEdgeFallsBackToChrome", ALL, "69.9", "", 0, 1, {CHROME}},
        LaunchCase{"AutoClass1LegacyEdgeFallsBackToFirefox",
                   {"edge", "firefox", "ie"},
                   "69.9",
                   "",
                   0,
                   1,
                   {FIREFOX}},
        LaunchCase{"AutoClass1LegacyEdgeFallsBackToIe", {"edge", "ie"}, "69.9", "", 0, 1, {IE}},
        LaunchCase{
            "AutoClass1LegacyEdgeWithNothingElseShows447", {"edge"}, "69.9", "", 0, 1, {MSG_447}},
        LaunchCase{"AutoClass1NoIeFallsBackToChrome",
                   {"edge", "chrome"},
                   "120",
                   "MSEdgeHTM",
                   0,
                   1,
                   {CHROME}},
        LaunchCase{"AutoClass3WithoutIeShows447", {"edge", "chrome"}, "120", "", 0, 3, {MSG_447}},
        LaunchCase{"AutoClass3LegacyEdgeUsesIe", ALL, "69.9", "MSEdgeHTM", 0, 3, {IE}},
        LaunchCase{"AutoClass3NoEdgeUsesIe", {"chrome", "ie"}, "120", "MSEdgeHTM", 0, 3, {IE}},
        LaunchCase{"AutoClass3OtherDefaultUsesIe", ALL, "120", "IE.HTTP", 0, 3, {IE}},
        LaunchCase{
            "AutoClass3UsesEdgeWhenTheListIsCurrent", ALL, "120", "ChromeHTML", 0, 3, {EDGE}},
        LaunchCase{"AutoClassMinus1IsClass3", ALL, "120", "FirefoxHTML", 0, -1, {EDGE}},
        LaunchCase{"UnknownCodeOpensNothing", ALL, "120", "", 9, 0, {}}),
    test::ByName{});

// ---- opens that first rewrite the site list
// ------------------------------------------------------------

class PendingOpen : public DeviceBrowserTest {
  protected:
    void SetUp() override {
        rig_.env.InstallAll();
        rig_.env.progId = "ChromeHTML";
        PutPolicy(true, LIST_PATH);  // consent given earlier: no notices
        Build();
        browser_->SetSiteListPending(true);
        rig_.devices.allUrls = {"http://192.168.0.20/", "http://192.168.0.21/"};
        rig_.devices.ieUrls = {"http://192.168.0.21/"};
    }
    std::string WrittenList() { return rig_.files.content[LIST_PATH]; }
};

TEST_F(PendingOpen, AutoClass3WritesOnlyIeModeDevicesThenRestartsEdge) {
    Open(DeviceRecord(3), BROWSER_AUTO);
    EXPECT_EQ(rig_.log,
              (std::vector<std::string>{WRITE_LIST, SETUP_TIMER, EDGE_NO_PAGE, RUN_DIALOG_2}));
    EXPECT_EQ(browser_->SiteUrls(), rig_.devices.ieUrls);
    EXPECT_EQ(WrittenList().find("192.168.0.20"), std::string::npos);
    EXPECT_FALSE(browser_->SiteListPending());
    EXPECT_EQ(browser_->PendingUrl(), URL);
}

TEST_F(PendingOpen, ChosenEdgeIeModeListsEveryDevice) {
    Open(DeviceRecord(0), BROWSER_EDGE_IE_MODE);
    EXPECT_EQ(browser_->SiteUrls(), rig_.devices.allUrls);
    EXPECT_NE(WrittenList().find("http://192.168.0.20/"), std::string::npos);
    EXPECT_EQ(browser_->PendingUrl(), URL);
    EXPECT_FALSE(browser_->SiteListPending());
}

TEST_F(PendingOpen, AutoClass1WithOtherDefaultRewritesForIeModeDevices) {
    rig_.env.progId = "IE.HTTP";
    Open(DeviceRecord(1), BROWSER_AUTO);
    EXPECT_EQ(browser_->SiteUrls(), rig_.devices.ieUrls);
    EXPECT_EQ(browser_->PendingUrl(), URL);
}

TEST_F(PendingOpen, ChosenEdgeResetsTheListToNoSites) {
    Open(DeviceRecord(3), BROWSER_EDGE);
    EXPECT_EQ(rig_.log,
              (std::vector<std::string>{WRITE_LIST, SETUP_TIMER, EDGE_NO_PAGE, RUN_DIALOG_2}));
    EXPECT_TRUE(browser_->SiteUrls().empty());
    EXPECT_EQ(WrittenList().find("<site "), std::string::npos);
    EXPECT_FALSE(browser_->SiteListPending());
    EXPECT_EQ(browser_->PendingUrl(), URL);
}

TEST_F(PendingOpen, OpenEdgeWindowsDeferTheRunAndClearThePendingFlag) {
    rig_.windows.windows = {{5, false, "Start - Microsoft Edge"}};
    Open(DeviceRecord(3), BROWSER_AUTO);
    EXPECT_EQ(rig_.log, (std::vector<std::string>{WRITE_LIST, RUN_DIALOG_1}));
    EXPECT_FALSE(browser_->SiteListPending());
    EXPECT_EQ(browser_->PendingUrl(), URL);
}

TEST(PendingOpenWithoutPolicy, ChosenEdgeOpensAtOnceWhenThereIsNothingToReset) {
    BrowserRig rig;
    rig.env.InstallAll();
    CDeviceBrowser b(rig.Seams());
    b.InitSiteListPath();
    b.DetectBrowsers();
    b.LoadSiteListState();
    b.SetSiteListPending(true);
    rig.devices.table[MAC] = DeviceRecord(3);
    b.OnOpenDeviceWindow(std::string(MAC), BROWSER_EDGE);
    EXPECT_EQ(rig.log, std::vector<std::string>{EDGE});
    EXPECT_TRUE(b.SiteListPending());
    EXPECT_FALSE(rig.files.Exists(LIST_PATH));
}

TEST_F(DeviceBrowserTest, CancelledNoticeKeepsThePendingFlagAndTheUrlAndOpensNothing) {
    rig_.env.InstallAll();
    PutPolicy(true, "/elsewhere/list.xml");
    Build();
    browser_->SetSiteListPending(true);
    rig_.host.answers = {ID_CANCEL};
    Open(DeviceRecord(3), BROWSER_EDGE);
    EXPECT_EQ(rig_.log, std::vector<std::string>{MSG_240});
    EXPECT_TRUE(browser_->SiteListPending());
    EXPECT_EQ(browser_->PendingUrl(), URL);
    EXPECT_EQ(PolicyPath(), "/elsewhere/list.xml");
}

// ---- bookkeeping while devices are listed
// ------------------------------------------------------------

TEST_F(DeviceBrowserTest, TrackDeviceSiteFollowsTheDevicesClass) {
    Build();
    _CommandDataTable ie = DeviceRecord(3, "10.0.0.1", 81);
    ie.capabilityFlag = 0;
    browser_->TrackDeviceSite(ie, BROWSER_AUTO);
    EXPECT_EQ(browser_->SiteUrls(), std::vector<std::string>{"http://10.0.0.1:81/"});
    EXPECT_EQ(browser_->Ie5Urls(), std::vector<std::string>{"http://10.0.0.1:81/"});
    EXPECT_TRUE(browser_->SiteListPending());

    // The same answer again adds nothing.
    browser_->SetSiteListPending(false);
    browser_->TrackDeviceSite(ie, BROWSER_AUTO);
    EXPECT_EQ(browser_->SiteUrls().size(), 1u);
    EXPECT_EQ(browser_->Ie5Urls().size(), 1u);
    EXPECT_FALSE(browser_->SiteListPending());

    // Document mode IE5 only for class 3 with capability 0 or legacy prefix 1.
    _CommandDataTable modern = DeviceRecord(3, "10.0.0.2");
    modern.capabilityFlag = 1;
    browser_->TrackDeviceSite(modern, BROWSER_EDGE);  // plain Edge chosen: no pending
    EXPECT_EQ(browser_->SiteUrls().back(), "http://10.0.0.2/");
    EXPECT_EQ(browser_->Ie5Urls().size(), 1u);
    EXPECT_FALSE(browser_->SiteListPending());
    modern.legacyPrefix = 1;
    browser_->TrackDeviceSite(modern, BROWSER_EDGE);
    EXPECT_EQ(browser_->Ie5Urls().back(), "http://10.0.0.2/");

    _CommandDataTable twoPort = DeviceRecord(-1, "10.0.0.3");
    twoPort.portKind = 1;
    browser_->TrackDeviceSite(twoPort, BROWSER_EDGE_IE_MODE);
    EXPECT_EQ(browser_->SiteUrls().size(), 3u);
    EXPECT_EQ(browser_->Ie5Urls().size(), 2u);  // class -1 keeps document mode Default
    EXPECT_TRUE(browser_->SiteListPending());

    // A newer answer that no longer needs IE mode takes the device out of both lists.
    browser_->SetSiteListPending(false);
    SetClass(ie, 0);
    browser_->TrackDeviceSite(ie, BROWSER_EDGE_IE_MODE);  // IE mode lists everything: not pending
    EXPECT_EQ(browser_->SiteUrls().front(), "http://10.0.0.2/");
    EXPECT_EQ(browser_->Ie5Urls(), std::vector<std::string>{"http://10.0.0.2/"});
    EXPECT_FALSE(browser_->SiteListPending());
    SetClass(modern, 2);
    browser_->TrackDeviceSite(modern, BROWSER_AUTO);
    EXPECT_EQ(browser_->SiteUrls(), std::vector<std::string>{"http://10.0.0.3/"});
    EXPECT_TRUE(browser_->Ie5Urls().empty());
    EXPECT_TRUE(browser_->SiteListPending());
}

struct ChoiceCase {
    int newCode;
    int oldCode;
    bool haveUrls;
    bool pending;
};

class BrowserChoiceChange : public DeviceBrowserTest,
                            public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(BrowserChoiceChange, SetsPendingOnlyWhenTheListMustChange) {
    Build();
    if (GetParam().haveUrls) browser_->TrackDeviceSite(DeviceRecord(3), BROWSER_AUTO);
    browser_->SetSiteListPending(false);
    browser_->OnBrowserChoiceChanged(GetParam().newCode, GetParam().oldCode);
    EXPECT_EQ(browser_->SiteListPending(), GetParam().pending);
    browser_->SetSiteListPending(true);
    browser_->OnBrowserChoiceChanged(GetParam().newCode, GetParam().oldCode);
    EXPECT_TRUE(browser_->SiteListPending()) << "the flag is never cleared here";
}

INSTANTIATE_TEST_SUITE_P(
    Table, BrowserChoiceChange,
    ::testing::Values(ChoiceCase{1, 0, false, true}, ChoiceCase{1, 3, true, true},
                      ChoiceCase{2, 0, true, true}, ChoiceCase{2, 1, false, false},
                      ChoiceCase{0, 1, false, true}, ChoiceCase{0, 2, true, true},
                      ChoiceCase{0, 2, false, false}, ChoiceCase{0, 3, true, false},
                      ChoiceCase{3, 1, true, false}, ChoiceCase{5, 2, true, false},
                      ChoiceCase{0, 0, true, false}),
    test::NamedBy([](const ChoiceCase& c) {
        return test::CaseName("From", c.oldCode, "To", c.newCode, c.haveUrls ? "WithUrls" : "",
                              c.pending ? "Pending" : "");
    }));

// ---- site list, policy and zones
// -----------------------------------------------------------------

TEST_F(DeviceBrowserTest, FirstWriteAsksOnceThenSetsLevelPolicyAndFile) {
    Build();
    rig_.devices.allUrls = {"http://192.168.0.20/"};
    EXPECT_TRUE(browser_->WriteSiteList(true));
    EXPECT_EQ(rig_.log, (std::vector<std::string>{MSG_240, SET_LEVEL, SET_LIST, WRITE_LIST,
                                                  SETUP_TIMER, EDGE_NO_PAGE, RUN_DIALOG_2}));
    EXPECT_TRUE(browser_->UserConsented());
    EXPECT_TRUE(browser_->PolicyLevelPresent());

    rig_.log.clear();
    EXPECT_TRUE(browser_->WriteSiteList(true));
    EXPECT_EQ(rig_.log,
              (std::vector<std::string>{WRITE_LIST, SETUP_TIMER, EDGE_NO_PAGE, RUN_DIALOG_2}));
}

TEST_F(DeviceBrowserTest, TrustedSitesNoticeComesFirstAndZonesAreRenumbered) {
    rig_.env.zones = true;
    for (int n = 1; n <= 5; ++n)
        rig_.store.Put(Hive::CurrentUser, ZoneKey(n), ":Range", {true, 0, "old"});
    rig_.store.Put(Hive::CurrentUser, ZoneKey(101), ":Range", {true, 0, "keep"});
    Build();
    rig_.devices.allUrls = {"http://10.0.0.7:81/", "https://10.0.0.8/"};
    EXPECT_TRUE(browser_->WriteSiteList(true));
    ASSERT_GE(rig_.log.size(), 3u);
    EXPECT_EQ(rig_.log[0], MSG_239);
    EXPECT_EQ(rig_.log[1], MSG_240);
    EXPECT_EQ(std::count(rig_.log.begin(), rig_.log.end(), MSG_240), 1);
    EXPECT_EQ(rig_.store.QueryString(Hive::CurrentUser, ZoneKey(1), ":Range"), "10.0.0.7");
    EXPECT_EQ(rig_.store.QueryDword(Hive::CurrentUser, ZoneKey(1), "*"), 2u);
    EXPECT_EQ(rig_.store.QueryString(Hive::CurrentUser, ZoneKey(2), ":Range"), "10.0.0.8");
    for (int n = 3; n <= 5; ++n) EXPECT_FALSE(rig_.store.KeyExists(Hive::CurrentUser, ZoneKey(n)));
    EXPECT_TRUE(rig_.store.KeyExists(Hive::CurrentUser, ZoneKey(101)));
    EXPECT_EQ(ZoneKey(2),
              "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\ZoneMap\\Ranges"
              "\\Quembrel2");
}

TEST_F(DeviceBrowserTest, WithoutTrustedZonesNoZoneIsTouchedAndNoTrustedSitesNotice) {
    rig_.store.Put(Hive::CurrentUser, ZoneKey(1), ":Range", {true, 0, "old"});
    Build();
    rig_.devices.allUrls = {"http://10.0.0.7/"};
    EXPECT_TRUE(browser_->WriteSiteList(true));
    EXPECT_EQ(std::count(rig_.log.begin(), rig_.log.end(), MSG_239), 0);
    EXPECT_EQ(rig_.store.QueryString(Hive::CurrentUser, ZoneKey(1), ":Range"), "old");
}

TEST_F(DeviceBrowserTest, CancelAtEitherNoticeStopsBeforeAnythingIsWritten) {
    rig_.env.zones = true;
    Build();
    rig_.devices.allUrls = {"http://10.0.0.7/"};
    rig_.host.answers = {ID_CANCEL};
    EXPECT_FALSE(browser_->WriteSiteList(true));
    EXPECT_EQ(rig_.log, std::vector<std::string>{MSG_239});

    rig_.log.clear();
    rig_.host.answers = {ID_OK, ID_CANCEL};
    EXPECT_FALSE(browser_->WriteSiteList(true));
    EXPECT_EQ(rig_.log, (std::vector<std::string>{MSG_239, MSG_240}));
    EXPECT_FALSE(browser_->PolicyLevelPresent());
    EXPECT_FALSE(browser_->UserConsented());
    EXPECT_FALSE(rig_.files.Exists(LIST_PATH));
}

TEST_F(DeviceBrowserTest, ExistingLevelOfAnyValueIsKeptAndACaseOnlyDifferentPathIsRewritten) {
    PutPolicy(true, "/START/Quembrel_sitelist.xml");
    Build();
    EXPECT_TRUE(browser_->PolicyLevelPresent());
    EXPECT_FALSE(browser_->UserConsented());
    EXPECT_TRUE(browser_->WriteSiteList(false));
    EXPECT_EQ(rig_.log, (std::vector<std::string>{MSG_240, SET_LIST, WRITE_LIST, SETUP_TIMER,
                                                  EDGE_NO_PAGE, RUN_DIALOG_2}));
    EXPECT_EQ(PolicyPath(), LIST_PATH);
}

TEST_F(DeviceBrowserTest, NoticeAfterTheFileWhenThePolicyNamesItWithoutConsent) {
    PutPolicy(true, "/other.xml");
    Build();
    PutPolicy(false, LIST_PATH);  // pointed at our file by someone else after start-up
    rig_.devices.allUrls = {"http://10.0.0.7/"};
    rig_.host.answers = {ID_CANCEL};
    EXPECT_FALSE(browser_->WriteSiteList(true));
    EXPECT_EQ(rig_.log, (std::vector<std::string>{WRITE_LIST, MSG_240}));
    EXPECT_TRUE(rig_.files.Exists(LIST_PATH)) << "what was written before the notice stays";
    EXPECT_FALSE(browser_->UserConsented());
}

TEST_F(DeviceBrowserTest, EmptyListStillPointsThePolicyAndStartsTheRun) {
    rig_.env.zones = true;
    Build();
    EXPECT_TRUE(browser_->WriteSiteList(false));
    EXPECT_EQ(rig_.log, (std::vector<std::string>{MSG_240, SET_LEVEL, SET_LIST, WRITE_LIST,
                                                  SETUP_TIMER, EDGE_NO_PAGE, RUN_DIALOG_2}));
    EXPECT_NE(rig_.files.content[LIST_PATH].find("</created-by>\r\n\r\n</site-list>"),
              std::string::npos);
}

TEST_F(DeviceBrowserTest, FailedMachineWritesAreSilentAndTheFlowGoesOn) {
    Build();
    rig_.store.failWrites = true;
    rig_.devices.allUrls = {"http://10.0.0.7/"};
    EXPECT_TRUE(browser_->WriteSiteList(true));
    EXPECT_TRUE(browser_->PolicyLevelPresent());
    EXPECT_TRUE(rig_.files.Exists(LIST_PATH));
}

TEST_F(DeviceBrowserTest, WrittenFileListsIe5DevicesInTheirDocumentMode) {
    Build();
    _CommandDataTable old = DeviceRecord(3, "192.168.0.11", 8443);
    old.https = 1;
    old.capabilityFlag = 0;
    browser_->TrackDeviceSite(old, BROWSER_AUTO);
    rig_.devices.allUrls = {"http://192.168.0.10/", "https://192.168.0.11:8443/"};
    browser_->WriteSiteList(true);
    const std::string& text = rig_.files.content[LIST_PATH];
    EXPECT_NE(text.find("<date-created>03/04/2026 05:06:07</date-created>"), std::string::npos);
    const auto ie5 = text.find("<compat-mode>IE5</compat-mode>");
    EXPECT_NE(ie5, std::string::npos);
    EXPECT_LT(text.find("https://192.168.0.11:8443/"), ie5);
    EXPECT_LT(text.find("<compat-mode>Default</compat-mode>"), text.find("https://192.168.0.11"));
}

TEST_F(DeviceBrowserTest, ResetWithoutAPolicyWritesNothing) {
    Build();
    EXPECT_EQ(browser_->ResetSiteListOutcome(), SetupOutcome::NothingToReset);
    EXPECT_TRUE(rig_.log.empty());
}

// ---- start-up state
// ---------------------------------------------------------------------------------

struct StartCase {
    const char* name;
    bool level;
    std::string policyPath;
    bool fileExists;
    bool pending;
    bool consented;
    std::size_t urls;
};

class SiteListStartup : public DeviceBrowserTest,
                        public ::testing::WithParamInterface<StartCase> {};

TEST_P(SiteListStartup, ReadsPolicyAndFile) {
    const StartCase& c = GetParam();
    PutPolicy(c.level, c.policyPath);
    if (c.fileExists) {
        rig_.files.content[LIST_PATH] =
            "<site url=\"http://10.0.0.1/\">\r\n<site url=\"https://10.0.0.2:8443/\">\r\n";
    }
    Build();
    EXPECT_EQ(browser_->PolicyLevelPresent(), c.level);
    EXPECT_EQ(browser_->SiteListPending(), c.pending);
    EXPECT_EQ(browser_->UserConsented(), c.consented);
    EXPECT_EQ(browser_->SiteUrls().size(), c.urls);
    EXPECT_TRUE(browser_->Ie5Urls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SiteListStartup,
    ::testing::Values(
        StartCase{"NoLevelReadsNothing", false, LIST_PATH, true, false, false, 0},
        StartCase{"OurPathGivesConsent", true, LIST_PATH, true, false, true, 2},
        StartCase{"OurPathWithoutFileStillGivesConsent", true, LIST_PATH, false, false, true, 0},
        StartCase{"OtherPathWithOurFileIsPending", true, "/other.xml", true, true, false, 2},
        StartCase{"OtherPathWithoutFileIsNotPending", true, "/other.xml", false, false, false, 0},
        StartCase{"NoPathWithOurFileIsPending", true, "", true, true, false, 2},
        StartCase{"OverlongPathCountsAsNone", true, std::string(600, 'x'), true, true, false, 2}),
    test::ByName{});

TEST_F(DeviceBrowserTest, LevelStoredAsTextIsNotAPresentLevel) {
    rig_.store.Put(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE, {true, 0, "1"});
    Build();
    EXPECT_FALSE(browser_->PolicyLevelPresent());
}

TEST_F(DeviceBrowserTest, SiteListPathJoinsTheStartDirectoryUnchanged) {
    rig_.env.startDir = "/";
    Build();
    EXPECT_EQ(browser_->SiteListPath(), "//Quembrel_sitelist.xml");
}

}  // namespace
}  // namespace valdrune
