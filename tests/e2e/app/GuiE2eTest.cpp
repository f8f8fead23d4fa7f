// The real window inside a network namespace lists the devices of the simulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/lib/HostileDevices.h"
#include "tests/e2e/lib/NetNs.h"

namespace valdrune::e2e {
namespace {

using Row = std::vector<std::string>;

std::vector<Row> ReadDump(const std::string& path) {
    std::vector<Row> rows;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        Row row;
        std::stringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');) row.push_back(cell);
        while (row.size() < 8) row.emplace_back();  // a trailing empty overlap cell
        rows.push_back(row);
    }
    return rows;
}

// VALDRUNE_GUI may name the Windows driver under Wine instead.
std::vector<std::string> Window() { return ProgramCommand("VALDRUNE_GUI", VALDRUNE_GUI_BINARY); }

std::vector<std::string> WindowEnv(const NetNs& net, const std::string& dump, int exitAfterMs) {
    return net.WindowEnvironment(
        {"VALDRUNE_LIST_DUMP=" + dump, "VALDRUNE_EXIT_AFTER_MS=" + std::to_string(exitAfterMs)});
}

TEST(WindowE2e, ListsEveryKindOfSimulatedDeviceWithAllColumns) {
    NetNs net("gui-kinds");
    VALDRUNE_REQUIRE_NETNS(net);
    ASSERT_TRUE(net.StartSim().Running());
    const std::string dump = net.Scratch() + "/list.tsv";
    const RunResult run = net.RunInPc(Window(), 30000, WindowEnv(net, dump, 3000));
    ASSERT_FALSE(run.timedOut) << run.err;
    ASSERT_EQ(run.exitCode, 0) << run.err;

    std::vector<Row> rows = ReadDump(dump);
    ASSERT_EQ(rows.size(), 3u) << run.err;
    // Rows come in the order the answers arrived; numbers 1 to 3 in that order.
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(rows[i][0], "  " + std::to_string(i + 1));
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a[1] < b[1]; });
    const std::string s = net.Subnet();
    const std::vector<Row> expected = {
        // Legacy answers carry no serial number.
        {"02-00-00-03-00-02", s + ".22", "80", "Legacy 2", "ZM-P63C", "", ""},
        {"02-00-00-0C-00-03", s + ".23", "80", "Recorder 3", "NR-S1608", "VDR0000003", ""},
        {"02-00-00-30-00-01", s + ".21", "80", "Entrance", "DX-N3471", "VDS0000001", ""},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Row got(rows[i].begin() + 1, rows[i].end());
        EXPECT_EQ(got, expected[i]) << "row of " << expected[i][0];
    }

    // The IPv6 view of the same run: only the address and port columns differ.
    std::vector<Row> v6 = ReadDump(dump + ".ipv6");
    ASSERT_EQ(v6.size(), 3u);
    std::sort(v6.begin(), v6.end(), [](const Row& a, const Row& b) { return a[1] < b[1]; });
    const std::pair<std::string, std::string> addresses[] = {{"--------", "--"},
                                                             {"2001:DB8:10:0:0:FF:FE0C:3", "80"},
                                                             {"2001:DB8:10:0:0:FF:FE30:1", "80"}};
    for (std::size_t i = 0; i < v6.size(); ++i) {
        EXPECT_EQ(v6[i][2], addresses[i].first) << v6[i][1];
        EXPECT_EQ(v6[i][3], addresses[i].second) << v6[i][1];
        for (int c : {0, 1, 4, 5, 6, 7})
            EXPECT_EQ(v6[i][c], rows[i][c]) << v6[i][1] << " column " << c;
    }
}

TEST(WindowE2e, OverlappingAddressesShowInTheOverlapColumn) {
    NetNs net("gui-overlap");
    VALDRUNE_REQUIRE_NETNS(net);
    ASSERT_TRUE(net.StartSim({"--scenario", "demo"}).Running());
    const std::string dump = net.Scratch() + "/list.tsv";
    const RunResult run = net.RunInPc(Window(), 30000, WindowEnv(net, dump, 3000));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<Row> rows = ReadDump(dump);
    const std::string shared = net.Subnet() + ".30";
    std::vector<const Row*> sharing;
    for (const Row& r : rows)
        if (r[2] == shared) sharing.push_back(&r);
    ASSERT_EQ(sharing.size(), 2u);
    // Each names the other's row number.
    const auto number = [](const Row& r) { return std::to_string(std::stoi(r[0])); };
    EXPECT_EQ((*sharing[0])[7], number(*sharing[1]));
    EXPECT_EQ((*sharing[1])[7], number(*sharing[0]));
}

// The list shows what devices send as plain text: markup stays literal, and no name or model
// splits a row.
TEST(WindowE2e, HostileDeviceTextsShowLiterallyOneRowEach) {
    NetNs net("gui-hostile");
    VALDRUNE_REQUIRE_NETNS(net);
    ASSERT_TRUE(net.StartSimOn(kHostileDevices).Running());
    const std::string dump = net.Scratch() + "/list.tsv";
    const RunResult run = net.RunInPc({VALDRUNE_GUI_BINARY}, 30000, WindowEnv(net, dump, 3000));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<Row> rows = ReadDump(dump);
    ASSERT_EQ(rows.size(), 5u);
    for (const Row& r : rows) {
        EXPECT_EQ(r.size(), 8u) << r[1];
        if (r[1] == "02-00-44-00-00-01") {
            EXPECT_EQ(r[4], "<b>x</b><i>y");
            EXPECT_EQ(r[5], "<img src=x>");
        }
        for (const std::string& cell : r)
            for (unsigned char c : cell) EXPECT_GE(c, 0x20u) << r[1] << " " << cell;
    }
}

// A firewall rule in the pc namespace drops every answer: the empty list names the rule and
// the command that admits them (and not the window's own socket on the port). The rules are
// read through libnftables, so this is the Linux window only.
TEST(WindowE2e, ADroppingFirewallRuleIsNamedInTheEmptyListWithItsFix) {
    NetNs net("gui-hint");
    VALDRUNE_REQUIRE_NETNS(net);
    const std::string rules = net.Scratch() + "/drop.nft";
    std::ofstream(rules) << "add table inet vdhint\n"
                            "add chain inet vdhint input { type filter hook input priority 0; }\n"
                            "add rule inet vdhint input udp dport 10669 drop\n";
    ASSERT_EQ(net.RunInPc({"nft", "-f", rules}).exitCode, 0);
    ASSERT_TRUE(net.StartSim().Running());
    const std::string dump = net.Scratch() + "/list.tsv";
    // Cycles of 2 s; the checks take about half a second of real time.
    std::vector<std::string> env = WindowEnv(net, dump, 6000);
    env.push_back("VALDRUNE_TIME_SCALE=4");
    const RunResult run = net.RunInPc({VALDRUNE_GUI_BINARY}, 30000, env);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(ReadDump(dump).empty());
    std::ifstream in(dump + ".hint");
    const std::string hint((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(hint.find("No device answered"), std::string::npos) << hint;
    EXPECT_NE(hint.find("firewall rule on this computer drops the devices' answers (UDP port "
                        "10669): udp dport 10669 drop"),
              std::string::npos)
        << hint;
    EXPECT_NE(
        hint.find("nft insert rule inet vdhint input iifname \"pc0\" udp dport 10669 accept"),
        std::string::npos)
        << hint;
}

// 150 devices with the given name stem and port, always the same MACs and addresses.
std::string ManyDevices(const std::string& name, int port) {
    std::string json = "[";
    for (int i = 0; i < 150; ++i) {
        char mac[24];
        std::snprintf(mac, sizeof mac, "02-00-11-00-%02X-%02X", i >> 8, i & 0xFF);
        json += std::string(i ? "," : "") + "{\"mac\":\"" + mac + "\",\"ip\":\"." +
                std::to_string(20 + i) + "\",\"port\":" + std::to_string(port) +
                ",\"name\":\"" + name + " " + std::to_string(i) + "\"}";
    }
    return json + "]";
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

TEST(WindowE2e, AFullTableKeepsItsHundredRowsAndTheirAnswersStillUpdateThem) {
    NetNs net("gui-cap");
    VALDRUNE_REQUIRE_NETNS(net);
    const std::string before = net.Scratch() + "/before.json", after = net.Scratch() + "/after.json";
    std::ofstream(before) << ManyDevices("Cam", 80);
    std::ofstream(after) << ManyDevices("Moved", 8080);
    Process* sim = &net.StartSim({"--config", before, "-v"});
    ASSERT_TRUE(sim->Running());
    const std::string dump = net.Scratch() + "/list.tsv";
    Process window = net.Spawn(net.PcNs(), {VALDRUNE_GUI_BINARY}, WindowEnv(net, dump, 5500));

    // Once all 150 have answered the first request, the same devices come back changed; the
    // window's repeated requests reach them.
    const auto answers = [&] {
        const std::string log = sim->Err();
        std::size_t n = 0;
        for (std::size_t at = log.find("tx answer"); at != std::string::npos;
             at = log.find("tx answer", at + 1))
            ++n;
        return n;
    };
    ASSERT_TRUE(WaitUntil([&] { return answers() >= 150; }, 20000)) << sim->Err();
    sim->Stop();
    sim = &net.StartSim({"--config", after});
    ASSERT_TRUE(sim->Running());
    ASSERT_TRUE(WaitUntil([&] { return !window.Running(); }, 30000)) << window.Err();

    const std::vector<Row> rows = ReadDump(dump);
    ASSERT_EQ(rows.size(), 100u) << window.Err();
    std::set<std::string> macs;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& r = rows[i];
        EXPECT_EQ(std::stoi(r[0]), static_cast<int>(i) + 1);
        macs.insert(r[1]);
        const int n = std::stoi(r[1].substr(12, 2), nullptr, 16) << 8 |
                      std::stoi(r[1].substr(15, 2), nullptr, 16);
        EXPECT_EQ(r[2], net.Subnet() + "." + std::to_string(20 + n)) << r[1];
        EXPECT_EQ(r[3], "8080") << r[1];
        EXPECT_EQ(r[4], "Moved " + std::to_string(n)) << r[1];
    }
    EXPECT_EQ(macs.size(), 100u);
}

}  // namespace
}  // namespace valdrune::e2e
