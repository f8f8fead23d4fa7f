// The Open button end to end: the window in the pc namespace on the real transport and echo
// probe, valdrune-sim's demo devices in the devices namespace, stand-in browser executables
// that record their arguments, the refusals 221, 223 and 222, and the Edge set-up run against
// a stand-in Edge window on a private Xvfb server, with the clock shortened by
// VALDRUNE_TIME_SCALE.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/BrowserIntegration.h"
#include "app/SettingsStore.h"
#include "app/TallyrigDlg.h"
#include "browser/core/CDeviceBrowser.h"
#include "dialogkit/MessageBox.h"
#include "platform/Platform.h"
#include "platform/linux/browser/X11Windows.h"
#include "tests/e2e/lib/NetNs.h"
#include "tests/support/BrowserSandbox.h"
#include "tests/support/ListSelection.h"
// clang-format off
// Last: Xlib's macros would clash with the names above.
#include "tests/gui/browser/XvfbServer.h"
// clang-format on

namespace fs = std::filesystem;

namespace valdrune {
namespace {

using test::Slurp;

// Each start of a stand-in leaves <name>.args.<pid> holding one argument per line.
struct StandIns {
    test::BrowserSandbox sandbox{
        {"msedge", "chrome", "firefox", "iexplore"}, "121.0.2277.83\n",
        "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args.$$\"\n"};
    const QTemporaryDir& dir = sandbox.dir;
    std::string Path(const std::string& name) const { return sandbox.Path(name); }

    StandIns() {
        sandbox.startForReal = true;
        sandbox.realWindows = [] { return std::make_unique<X11Windows>(); };
    }

    // The recorded argument lists of one stand-in, oldest first.
    std::vector<std::string> Starts(const std::string& name) const {
        std::vector<std::pair<fs::file_time_type, std::string>> found;
        for (const auto& e : fs::directory_iterator(dir.path().toStdString())) {
            const std::string file = e.path().filename().string();
            if (file.rfind(name + ".args.", 0) == 0) {
                found.emplace_back(e.last_write_time(), Slurp(e.path().string()));
            }
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> out;
        for (auto& f : found) out.push_back(f.second);
        return out;
    }
};

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

int RowOf(CTallyrigDlg& dlg, const std::string& ip) {
    for (int r = 0; r < dlg.List().RowCount(); ++r) {
        if (dlg.List().RowText(r, COL_ADDRESS).toStdString() == ip) return r;
    }
    return -1;
}

void Choose(CTallyrigDlg& dlg, int code) {
    auto* combo = dlg.ControlAs<QComboBox>(IDC_BROWSER_COMBO);
    for (std::size_t i = 0; i < dlg.BrowserCodes().size(); ++i) {
        if (dlg.BrowserCodes()[i] == code) {
            combo->setCurrentIndex(static_cast<int>(i));
            emit combo->activated(static_cast<int>(i));
            return;
        }
    }
    ADD_FAILURE() << "browser code " << code << " is not offered";
}

TEST(BrowserOpenE2e, OpensSimulatedDevicesInStandInBrowsersAndRunsTheEdgeSetUp) {
    e2e::NetNs net("browser-open");
    VALDRUNE_REQUIRE_NETNS(net);
    auto& sim = net.StartSim({"--scenario", "demo"});
    ASSERT_TRUE(sim.Running()) << sim.Err();
    test::XvfbServer x;
    if (!x.display()) GTEST_SKIP() << "Xvfb could not be started";
    ::setenv("DISPLAY", x.name().c_str(), 1);

    StandIns standIns;
    std::vector<int> boxes;
    SetMessageBoxHandler([&](const MessageBoxRequest& r) {
        boxes.push_back(r.textId);
        return ID_OK;
    });
    QTemporaryDir settingsDir;
    CSettingsStore store(settingsDir.filePath("settings.ini"));

    e2e::NetNs::Entered inPc(net.PcNs());
    ASSERT_TRUE(inPc.Ok());
    auto services = CreatePlatformServices(25, VALDRUNE_NETPROBE_BINARY);
    auto dlg = std::make_unique<CTallyrigDlg>(services->Environment(), store,
                                              standIns.sandbox.Platform());
    ASSERT_TRUE(dlg->OnInitDialog());
    const std::string sub = net.Subnet();
    ASSERT_TRUE(PumpUntil(
        [&] { return RowOf(*dlg, sub + ".25") >= 0 && RowOf(*dlg, sub + ".30") >= 0; }, 15000))
        << "rows: " << dlg->List().RowCount();
    auto* open = dlg->ControlAs<QPushButton>(IDC_OPEN_DEVICE);

    // No selection, then an address two devices share: refused in that order, nothing starts.
    dlg->List().View()->clearSelection();
    open->click();
    test::SelectRow(dlg->List(), RowOf(*dlg, sub + ".30"));
    open->click();
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(boxes, (std::vector<int>{221, 223}));

    // Chrome chosen: the device answers its echo and the stand-in gets exactly the URL.
    test::SelectRow(dlg->List(), RowOf(*dlg, sub + ".21"));
    Choose(*dlg, BROWSER_CHROME);
    open->click();
    EXPECT_TRUE(PumpUntil([&] { return !standIns.Starts("chrome").empty(); }, 15000));
    EXPECT_EQ(standIns.Starts("chrome"), std::vector<std::string>{"http://" + sub + ".21:80\n"});

    // A listed device that no longer answers its echo (its address gone from the devices
    // namespace): 222 "Failed to access." and no browser start.
    ASSERT_EQ(net.RunInDev({"ip", "addr", "del", sub + ".22/32", "dev", "dev0"}).exitCode, 0);
    boxes.clear();
    test::SelectRow(dlg->List(), RowOf(*dlg, sub + ".22"));
    open->click();
    EXPECT_TRUE(PumpUntil([&] { return !boxes.empty(); }, 15000));
    EXPECT_EQ(boxes, std::vector<int>{222});
    EXPECT_EQ(standIns.Starts("chrome").size(), 1u) << "no browser for an unreachable device";

    // IE mode for the device no list knows: site list, policy, Edge restarted, its window
    // (a stand-in on Xvfb) found, the countdown, then the page in Edge.
    boxes.clear();
    bool edgeWindowShown = false;
    QTimer standInEdge;
    QObject::connect(&standInEdge, &QTimer::timeout, [&] {
        if (!edgeWindowShown && !standIns.Starts("msedge").empty()) {
            x.Make("New tab - Microsoft Edge");
            edgeWindowShown = true;
        }
    });
    standInEdge.start(5);
    test::SelectRow(dlg->List(), RowOf(*dlg, sub + ".25"));
    Choose(*dlg, BROWSER_EDGE_IE_MODE);
    open->click();
    EXPECT_TRUE(PumpUntil([&] { return standIns.Starts("msedge").size() >= 2; }, 30000));
    standInEdge.stop();
    EXPECT_TRUE(edgeWindowShown);
    EXPECT_EQ(boxes, std::vector<int>{240});
    const auto edgeStarts = standIns.Starts("msedge");
    ASSERT_EQ(edgeStarts.size(), 2u);
    EXPECT_EQ(edgeStarts[0], "");
    EXPECT_EQ(edgeStarts[1], "http://" + sub + ".25:80\n");
    EXPECT_FALSE(dlg->TimerRunning(kDialogTimerId)) << "the timer stops once Edge is up";
    const std::string list = Slurp(standIns.Path("start/Quembrel_sitelist.xml"));
    EXPECT_NE(list.find("<site url=\"http://" + sub + ".25/\">"), std::string::npos) << list;
    EXPECT_NE(
        Slurp(standIns.Path("managed/valdrune.json")).find("InternetExplorerIntegrationSiteList"),
        std::string::npos);

    dlg.reset();
    services.reset();
    SetMessageBoxHandler({});
}

}  // namespace
}  // namespace valdrune
