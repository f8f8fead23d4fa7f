#include <gtest/gtest.h>

#include "BrowserFakes.h"
#include "browser/core/CDeviceBrowser.h"

namespace valdrune {
namespace {

using testing::BrowserRig;

const std::string POST_RUN_1 = "post " + std::to_string(WM_RUN_MESSAGE_DIALOG) + " 1";
const std::string POST_RUN_2 = "post " + std::to_string(WM_RUN_MESSAGE_DIALOG) + " 2";
const std::string POST_OPEN = "post " + std::to_string(WM_OPEN_PENDING_URL) + " 0";
const std::string ENABLE_OK_77 = "post-to 77 " + std::to_string(WM_ENABLE_DIALOG_OK) + " 0";

class EdgeSetup : public ::testing::Test {
  protected:
    EdgeSetup() {
        rig_.env.InstallAll();
        browser_ = std::make_unique<CDeviceBrowser>(rig_.Seams());
        browser_->DetectBrowsers();
    }
    void EdgeOpen(bool open) {
        rig_.windows.windows.clear();
        if (open) rig_.windows.windows.push_back({42, false, "New tab - Microsoft Edge"});
    }
    std::size_t Count(const std::string& event) const {
        return static_cast<std::size_t>(std::count(rig_.log.begin(), rig_.log.end(), event));
    }

    BrowserRig rig_;
    std::unique_ptr<CDeviceBrowser> browser_;
};

TEST_F(EdgeSetup, WithEdgeClosedStartsTimerThenEdgeThenCountdown) {
    browser_->SetSiteListPending(true);
    EXPECT_TRUE(browser_->StartEdgeSetup());
    EXPECT_EQ(rig_.log, (std::vector<std::string>{"timer 1 500", "launch /edge/a", POST_RUN_2}));
    EXPECT_EQ(browser_->EdgeWaitMode(), 2);
    EXPECT_TRUE(browser_->SiteListPending()) << "only the deferred path clears it";
}

TEST_F(EdgeSetup, WithEdgeOpenAsksFirstAndClearsThePendingFlag) {
    EdgeOpen(true);
    browser_->SetSiteListPending(true);
    EXPECT_FALSE(browser_->StartEdgeSetup());
    EXPECT_EQ(rig_.log, std::vector<std::string>{POST_RUN_1});
    EXPECT_FALSE(browser_->SiteListPending());
    EXPECT_EQ(browser_->EdgeWaitMode(), 0);
}

TEST_F(EdgeSetup, FullRunWaitsForEdgeToCloseThenMinimisesItAndOpensThePage) {
    EdgeOpen(true);
    ASSERT_FALSE(browser_->StartEdgeSetup());
    rig_.log.clear();

    rig_.host.dialog = [&](int mode, int) {
        if (mode == 1) {
            browser_->OnMessageDialogReady(77);
            EXPECT_EQ(browser_->EdgeWaitMode(), 1);
            browser_->OnTimer(EDGE_SETUP_TIMER_ID);  // Edge still open: OK stays disabled
            EXPECT_EQ(Count(ENABLE_OK_77), 0u);
            EdgeOpen(false);
            browser_->OnTimer(EDGE_SETUP_TIMER_ID);
            EXPECT_EQ(Count(ENABLE_OK_77), 1u);
            return ID_OK;
        }
        browser_->OnTimer(EDGE_SETUP_TIMER_ID);  // Edge not up yet
        EXPECT_EQ(Count("kill 1"), 0u);
        EdgeOpen(true);
        browser_->OnTimer(EDGE_SETUP_TIMER_ID);
        EXPECT_EQ(Count("kill 1"), 1u);
        EXPECT_EQ(Count("minimize 42"), 0u) << "the minimise waits 300 ms";
        rig_.host.RunDelayed();
        EXPECT_EQ(Count("minimize 42"), 1u);
        return ID_OK;
    };

    browser_->OnRunMessageDialog(1);
    EXPECT_EQ(browser_->ProgressWindow(), 0u);
    EXPECT_EQ(browser_->EdgeWaitMode(), 2);
    EXPECT_EQ(rig_.log.back(), POST_RUN_2);
    EXPECT_EQ(Count("launch /edge/a"), 1u);
    EXPECT_EQ(Count("timer 1 500"), 1u) << "the timer started by the ready notice keeps running";

    browser_->OnRunMessageDialog(2);
    EXPECT_EQ(browser_->EdgeWaitMode(), 0);
    EXPECT_EQ(rig_.log.back(), POST_OPEN);
    EXPECT_EQ(Count("after 300"), 1u);

    rig_.log.clear();
    browser_->OnOpenPendingUrl();
    EXPECT_EQ(rig_.log, std::vector<std::string>{"launch /edge/a"});
}

TEST_F(EdgeSetup, PendingUrlOpensInEdgeAndIsKept) {
    browser_->SetSiteListPending(false);
    rig_.devices.table["00-00-00-00-00-01"] = _CommandDataTable{};
    // A pending URL is set by an open that needed the rewrite; emulate through the table path.
    browser_->SetSiteListPending(true);
    rig_.store.Put(Hive::LocalMachine, EDGE_POLICY_KEY, POLICY_LEVEL_VALUE, {false, 0, {}});
    browser_->InitSiteListPath();
    browser_->LoadSiteListState();
    browser_->SetSiteListPending(true);
    _CommandDataTable r;
    // No browser bits and a model in no list: class 3.
    ParseIpv4("10.0.0.4", r.primary.ipAddress);
    r.primary.port = 8080;
    browser_->OpenDeviceUrl(r, BROWSER_EDGE_IE_MODE);
    ASSERT_EQ(browser_->PendingUrl(), "http://10.0.0.4:8080");
    rig_.log.clear();
    browser_->OnOpenPendingUrl();
    browser_->OnOpenPendingUrl();
    EXPECT_EQ(rig_.log, (std::vector<std::string>{"launch /edge/a http://10.0.0.4:8080",
                                                  "launch /edge/a http://10.0.0.4:8080"}));
}

TEST_F(EdgeSetup, CancelEndsTheRunWithoutOpeningAndTheTimerStopsAtItsNextTick) {
    rig_.host.dialog = [&](int, int) {
        browser_->OnMessageDialogReady(77);
        return ID_CANCEL;
    };
    browser_->OnRunMessageDialog(1);
    EXPECT_EQ(browser_->EdgeWaitMode(), 0);
    EXPECT_EQ(Count("launch /edge/a"), 0u);
    EXPECT_TRUE(rig_.host.posted.empty());
    browser_->OnTimer(EDGE_SETUP_TIMER_ID);
    EXPECT_EQ(rig_.log.back(), "kill 1");
    EXPECT_TRUE(rig_.host.runningTimers.empty());
}

TEST_F(EdgeSetup, EnableOkIsNotPostedWithoutAKnownDialog) {
    browser_->OnMessageDialogReady(0);
    browser_->OnTimer(EDGE_SETUP_TIMER_ID);
    EXPECT_EQ(rig_.log, std::vector<std::string>{"timer 1 500"});
}

TEST_F(EdgeSetup, OtherTimersOfTheDialogAreLeftAlone) {
    browser_->OnTimer(7);
    EXPECT_TRUE(rig_.log.empty());
}

TEST_F(EdgeSetup, EdgeNeverAppearingStillEndsTheCountdownAndOpens) {
    ASSERT_TRUE(browser_->StartEdgeSetup());
    rig_.host.dialog = [&](int, int) {
        for (int i = 0; i < 150; ++i) browser_->OnTimer(EDGE_SETUP_TIMER_ID);
        return ID_OK;
    };
    browser_->OnRunMessageDialog(2);
    EXPECT_EQ(Count("after 300"), 0u);
    EXPECT_EQ(rig_.log.back(), POST_OPEN);
}

TEST_F(EdgeSetup, OnlyUnownedTitledEdgeWindowsCountAndAreMinimised) {
    rig_.windows.windows = {
        {1, false, "Page - Microsoft Edge"},
        {2, true, "Microsoft Edge - dialog"},      // owned: never counted
        {3, false, ""},                            // untitled
        {4, false, "Edge - Microsoft"},            // Edge only before Microsoft
        {5, false, "Microsoft Word - Edge.docx"},  // another program, but the rule holds
        {6, false, "Terminal"},
    };
    EXPECT_EQ(browser_->CountEdgeWindows(), 2);
    browser_->MinimizeEdgeWindows();
    EXPECT_EQ(rig_.log, (std::vector<std::string>{"minimize 1", "minimize 5"}));
}

TEST_F(EdgeSetup, DelayedMinimiseAfterDestructionDoesNothing) {
    ASSERT_TRUE(browser_->StartEdgeSetup());
    EdgeOpen(true);
    browser_->OnTimer(EDGE_SETUP_TIMER_ID);
    browser_.reset();
    rig_.log.clear();
    rig_.host.RunDelayed();
    EXPECT_TRUE(rig_.log.empty());
}

}  // namespace
}  // namespace valdrune
