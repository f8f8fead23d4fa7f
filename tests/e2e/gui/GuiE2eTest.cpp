// The real window inside a network namespace lists the devices of the simulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace valdrune::e2e
