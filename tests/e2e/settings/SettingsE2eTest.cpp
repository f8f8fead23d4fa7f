// Settings changes from the real window against the simulator, in network namespaces: real
// sockets, real echo probes, the device's restart. VALDRUNE_TIME_SCALE shortens the product's
// and the simulator's timers so that the 30 s and 120 s waits take seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/lib/BatchDevices.h"
#include "tests/e2e/lib/NetNs.h"
#include "tests/support/CaseNames.h"

namespace valdrune::e2e {
namespace {

struct Change {
    const char* name;
    const char* scenario;
    const char* mac;
    int newHost;       // the new address is <subnet>.<newHost>
    bool noWait;
    int timeScale;
    int outcome;       // the result box's text id
    bool sent;         // a settings request reached the simulator
};

std::vector<std::string> WindowEnv(const NetNs& net, int timeScale) {
    return net.WindowEnvironment({"VALDRUNE_TIME_SCALE=" + std::to_string(timeScale)});
}

bool SettingsReached(const std::string& simLog) {
    return simLog.find("rx command 15 ") != std::string::npos ||
           simLog.find("rx command 2 ") != std::string::npos;
}

int LongestBlock(const std::string& out) {
    std::smatch m;
    static const std::regex line("longest-block-ms (\\d+)");
    return std::regex_search(out, m, line) ? std::stoi(m[1]) : -1;
}

class SettingsE2e : public ::testing::TestWithParam<Change> {};

TEST_P(SettingsE2e, ChangeFromTheWindowEndsWithItsResultBox) {
    const Change& p = GetParam();
    NetNs net("set");
    VALDRUNE_REQUIRE_NETNS(net);
    Process& sim = net.StartSim({"--scenario", p.scenario, "-v"}, 0, p.timeScale);
    ASSERT_TRUE(sim.Running());
    const std::string address = net.Subnet() + "." + std::to_string(p.newHost);
    // VALDRUNE_SETTINGS_WINDOW_CMD may name the Windows driver under Wine instead.
    std::vector<std::string> argv =
        ProgramCommand("VALDRUNE_SETTINGS_WINDOW_CMD", VALDRUNE_SETTINGS_WINDOW);
    argv.insert(argv.end(), {"--mac", p.mac, "--address", address, "--store",
                             net.Scratch() + "/store.ini"});
    if (p.noWait) argv.push_back("--no-wait");
    const RunResult run = net.RunInPc(argv, 90000, WindowEnv(net, p.timeScale));
    ASSERT_FALSE(run.timedOut) << run.out << run.err;
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err << "\nsimulator:\n" << sim.Err();
    EXPECT_NE(run.out.find("box " + std::to_string(p.outcome) + " "), std::string::npos)
        << run.out << "\nsimulator:\n" << sim.Err();
    const std::string simLog = sim.Err();
    EXPECT_EQ(SettingsReached(simLog), p.sent) << simLog;
    if (p.outcome == 441) {
        EXPECT_NE(simLog.find("-> " + address), std::string::npos) << simLog;
    }
    const int longest = LongestBlock(run.out);
    std::printf("[ longest UI block ] %s: %d ms (time scale %d)\n", p.name, longest, p.timeScale);
    EXPECT_GE(longest, 0);
    EXPECT_LT(longest, 1000) << "the window stopped painting during the change";
}

INSTANTIATE_TEST_SUITE_P(
    Simulator, SettingsE2e,
    ::testing::Values(
        Change{"StandardCompletes", "kinds", "02-00-00-30-00-01", 41, false, 20, 441, true},
        Change{"LegacyCompletes", "kinds", "02-00-00-03-00-02", 42, false, 20, 441, true},
        Change{"TwoPortCompletes", "kinds", "02-00-00-0C-00-03", 43, false, 20, 441, true},
        // Real time: the probes and the acceptance as a user would see them.
        Change{"StandardWithoutWaitAtRealTime", "kinds", "02-00-00-30-00-01", 44, true, 1, 442,
               true},
        // The legacy device's address already answers echo requests.
        Change{"ConflictSendsNothing", "kinds", "02-00-00-30-00-01", 22, false, 20, 436, false},
        Change{"NeverAccepts", "behaviours", "02-00-00-30-00-03", 45, false, 20, 439, true},
        Change{"NeverComesBack", "behaviours", "02-00-00-30-00-04", 46, false, 20, 440, true}),
    test::ByName{});

// Every adapter searched: the same simulated devices on two segments are listed once per
// adapter, and a change of one of them goes out through the adapter of its row only.
TEST(SettingsE2eAllAdapters, AChangeGoesOutThroughTheAdapterOfItsRow) {
    NetNs net("setall", 2);
    VALDRUNE_REQUIRE_NETNS(net);
    Process& sim0 = net.StartSim({"--scenario", "kinds", "-v"}, 0, 20);
    Process& sim1 = net.StartSim({"--scenario", "kinds", "-v"}, 1, 20);
    ASSERT_TRUE(sim0.Running());
    ASSERT_TRUE(sim1.Running());
    const std::string mac = "02-00-00-30-00-01";
    const std::string address = net.Subnet(1) + ".41";
    std::vector<std::string> argv =
        ProgramCommand("VALDRUNE_SETTINGS_WINDOW_CMD", VALDRUNE_SETTINGS_WINDOW);
    argv.insert(argv.end(), {"--mac", mac, "--address", address, "--store",
                             net.Scratch() + "/store.ini", "--adapter", net.PcIf(1)});
    const RunResult run = net.RunInPc(argv, 90000, WindowEnv(net, 20));
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err << "\nsimulator 1:\n" << sim1.Err();
    for (const std::string& adapter : {net.PcIf(0), net.PcIf(1)})
        EXPECT_NE(run.out.find("row " + mac + " " + adapter + "\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("box 441 "), std::string::npos) << run.out << sim1.Err();
    EXPECT_TRUE(SettingsReached(sim1.Err())) << sim1.Err();
    EXPECT_NE(sim1.Err().find("-> " + address), std::string::npos) << sim1.Err();
    EXPECT_FALSE(SettingsReached(sim0.Err())) << "nothing went out the other adapter\n"
                                              << sim0.Err();
}

// Five devices through "Assign addresses...": one never accepts, one is restart-locked. The
// locked one is left out before anything is sent, the refusing one fails, the others move; a
// fresh search by the command-line tool afterwards shows where every device ended up.
TEST(BatchE2e, AssignFromTheWindowMovesEveryDeviceThatCanBeMovedAndNoOther) {
    NetNs net("batch");
    VALDRUNE_REQUIRE_NETNS(net);
    const int scale = 40;
    const auto mac = e2e::BatchMac;
    const auto host = [&](int h) { return net.Subnet() + "." + std::to_string(h); };
    Process& sim = net.StartSimOn(e2e::kBatchDevices, {"-v"}, 0, scale);
    ASSERT_TRUE(sim.Running());

    const RunResult run = net.RunInPc({VALDRUNE_BATCH_WINDOW, "--devices", "5", "--first",
                                       host(121), "--store", net.Scratch() + "/store.ini"},
                                      90000, WindowEnv(net, scale));
    ASSERT_FALSE(run.timedOut) << run.out << run.err;
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err << "\nsimulator:\n" << sim.Err();
    // The proposal: consecutive from .121 in list order, the locked device left out.
    for (int i = 1; i <= 4; ++i) {
        const std::string line = "row " + mac(i) + " " + host(120 + i) + " ";
        EXPECT_NE(run.out.find(line + (i == 3 ? "Failed: no acceptance" : "Done")),
                  std::string::npos)
            << line << "\n" << run.out;
    }
    EXPECT_NE(run.out.find("row " + mac(5) + " - Left out: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("summary 3 done, 1 failed, 1 left out, 0 not started."),
              std::string::npos)
        << run.out;

    const RunResult search = net.RunInPc({VALDRUNE_CLI_BINARY, "search", "--json"}, 20000,
                                         {"VALDRUNE_TIME_SCALE=" + std::to_string(scale)});
    ASSERT_EQ(search.exitCode, 0) << search.err;
    const auto after = nlohmann::json::parse(search.out, nullptr, false);
    ASSERT_TRUE(after.is_array()) << search.out;
    ASSERT_EQ(after.size(), 5u) << search.out;
    for (int i = 1; i <= 5; ++i) {
        const auto it = std::find_if(after.begin(), after.end(),
                                     [&](const auto& d) { return d["mac"] == mac(i); });
        ASSERT_NE(it, after.end()) << mac(i);
        EXPECT_EQ((*it)["ipv4"], i == 3 || i == 5 ? host(20 + i) : host(120 + i)) << mac(i);
    }
}

}  // namespace
}  // namespace valdrune::e2e
