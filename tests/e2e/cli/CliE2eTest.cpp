// valdrune-cli against valdrune-sim in network namespaces: real sockets, real ICMP, protocol
// intervals shortened by its test driver (VALDRUNE_TIME_SCALE, read only there).
#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "cli/Decode.h"
#include "cli/ExitCodes.h"
#include "cli/RecordView.h"
#include "protocol/Datagram.h"
#include "tests/e2e/lib/BatchDevices.h"
#include "tests/e2e/lib/HostileDevices.h"
#include "tests/e2e/lib/NetNs.h"
#include "tests/support/CaseNames.h"

namespace valdrune::cli {
namespace {

using e2e::NetNs;
using nlohmann::json;

// The Linux build's tool. VALDRUNE_CLI may name another one to run instead, as a command with
// space-separated words (valdrune-cli.exe under Wine); the cases are the same.
const std::string kCli = VALDRUNE_CLI_BINARY;
constexpr int kFastScale = 20;
const std::vector<std::string> kFast = {"VALDRUNE_TIME_SCALE=" + std::to_string(kFastScale)};

std::vector<std::string> CliCommand() { return e2e::ProgramCommand("VALDRUNE_CLI", kCli); }

const char* const kStandard = "02-00-00-30-00-01";
const char* const kLegacy = "02-00-00-03-00-02";
const char* const kTwoPort = "02-00-00-0C-00-03";

std::vector<std::string> Cli(std::initializer_list<std::string> args) {
    std::vector<std::string> argv = CliCommand();
    argv.insert(argv.end(), args);
    return argv;
}

json SearchJson(const NetNs& net) {
    auto r = net.RunInPc(Cli({"search", "--json"}), 20000, kFast);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return json::parse(r.out, nullptr, false);
}

const json* Find(const json& devices, const std::string& mac) {
    for (const auto& d : devices) {
        if (d["mac"] == mac) return &d;
    }
    return nullptr;
}

TEST(CliE2e, SearchJsonListsEverySimulatedDeviceExactly) {
    NetNs net("cli-search");
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", "kinds"}, 0, kFastScale);
    const json devices = SearchJson(net);
    ASSERT_TRUE(devices.is_array());
    // What the simulator says it runs, one line per device: kind, MAC, IPv4, name, model.
    auto list = e2e::detail::Run(
        {NetNs::SimBinary(), "--list", "--scenario", "kinds", "--subnet", net.Subnet()}, 10000,
        net.Scratch());
    std::set<std::string> expected, seen;
    std::istringstream lines(list.out);
    for (std::string kind, mac, ip, rest;
         lines >> kind >> mac >> ip && std::getline(lines, rest);) {
        expected.insert(kind + " " + mac + " " + ip);
    }
    for (const auto& d : devices) {
        seen.insert(d["kind_name"].get<std::string>() + " " + d["mac"].get<std::string>() + " " +
                    d["ipv4"].get<std::string>());
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(devices.size(), 3u);
}

TEST(CliE2e, SearchSeesOnlyTheSelectedAdaptersSegment) {
    NetNs net("cli-iface", 2);
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", "kinds"}, 0, kFastScale);
    net.StartSim({"--scenario", "many", "--count", "2"}, 1, kFastScale);
    for (int k = 0; k < 2; ++k) {
        // By name for one segment, by address for the other.
        const std::string adapter = k == 0 ? net.PcIp(0) : net.PcIf(1);
        auto r = net.RunInPc(Cli({"search", "--interface", adapter, "--json"}), 20000, kFast);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const json devices = json::parse(r.out);
        EXPECT_EQ(devices.size(), k == 0 ? 3u : 2u);
        for (const auto& d : devices) {
            EXPECT_EQ(d["ipv4"].get<std::string>().rfind(net.Subnet(k) + ".", 0), 0u) << d["ipv4"];
        }
    }
    auto none = net.RunInPc(Cli({"search", "--interface", "wlan9"}), 20000, kFast);
    EXPECT_EQ(none.exitCode, EXIT_NOT_FOUND);
}

// Every device of a scenario, with every field as the Linux tool gives it; for the Linux tool
// itself this checks that two searches agree.
class CliScenarioE2e : public ::testing::TestWithParam<const char*> {};

TEST_P(CliScenarioE2e, SearchListsEveryDeviceWithTheLinuxToolsFields) {
    NetNs net("cli-scen");
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", GetParam()}, 0, kFastScale);
    const json devices = SearchJson(net);
    auto reference = net.RunInPc({kCli, "search", "--json"}, 20000, kFast);
    ASSERT_EQ(reference.exitCode, 0) << reference.err;
    const json expected = json::parse(reference.out);
    ASSERT_TRUE(devices.is_array());
    ASSERT_EQ(devices.size(), expected.size());
    for (const auto& want : expected) {
        const json* got = Find(devices, want["mac"].get<std::string>());
        ASSERT_NE(got, nullptr) << want["mac"];
        EXPECT_EQ(*got, want);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, CliScenarioE2e, ::testing::Values("kinds", "demo"),
    [](const auto& c) { return std::string(c.param); });

TEST(CliE2e, AnswersArrivingOnTheOtherAdapterAreNotListed) {
    NetNs net("cli-foreign", 2);
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", "kinds"}, 0, kFastScale);
    net.StartSim({"--scenario", "many", "--count", "3"}, 1, kFastScale);
    // The Linux tool searches on pc1 meanwhile: segment 1's devices broadcast their answers,
    // which reach the tool under test through pc1, not through its selected adapter.
    auto other =
        net.Spawn(net.PcNs(), {kCli, "search", "--watch", "--interface", net.PcIf(1)}, kFast);
    auto r = net.RunInPc(Cli({"search", "--interface", net.PcIf(0), "--json"}), 20000, kFast);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json devices = json::parse(r.out);
    EXPECT_EQ(devices.size(), 3u);
    for (const auto& d : devices) {
        EXPECT_EQ(d["ipv4"].get<std::string>().rfind(net.Subnet(0) + ".", 0), 0u) << d["ipv4"];
    }
}

struct KindCase {
    const char* name;
    const char* mac;
    const char* extra;  // additional option, "" for none
    int host;
};

class CliSetE2e : public ::testing::TestWithParam<KindCase> {};

TEST_P(CliSetE2e, SetCompletesAndTheDeviceAnswersAtItsNewAddress) {
    const KindCase& c = GetParam();
    NetNs net("cli-set");
    VALDRUNE_REQUIRE_NETNS(net);
    auto& sim = net.StartSim({"--scenario", "kinds"}, 0, kFastScale);
    const std::string ip = net.Subnet() + "." + std::to_string(c.host);
    std::vector<std::string> argv =
        Cli({"set", c.mac, "--static", "--ip", ip, "--mask", "255.255.255.0"});
    if (*c.extra) argv.push_back(c.extra);
    auto r = net.RunInPc(argv, 30000, kFast);
    ASSERT_EQ(r.exitCode, EXIT_OK) << r.err << sim.Err();
    EXPECT_NE(r.err.find("Device settings completed."), std::string::npos) << r.err;
    // A two-port device is done when it accepts; it may still be restarting here.
    std::string seen;
    for (int attempt = 0; attempt < 10 && seen != ip; ++attempt) {
        const json devices = SearchJson(net);
        if (const json* d = Find(devices, c.mac)) seen = (*d)["ipv4"].get<std::string>();
    }
    EXPECT_EQ(seen, ip);
    EXPECT_EQ(net.RunInPc(Cli({"probe", ip}), 10000, kFast).exitCode, EXIT_OK);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CliSetE2e,
                         ::testing::Values(KindCase{"Standard", kStandard, "", 60},
                                           KindCase{"Legacy", kLegacy, "", 61},
                                           KindCase{"TwoPort", kTwoPort, "", 62}),
    valdrune::test::ByName{});

TEST(CliE2e, ConflictingAddressAndRefusedPortSendNoSettings) {
    NetNs net("cli-refuse");
    VALDRUNE_REQUIRE_NETNS(net);
    auto& sim = net.StartSim({"--scenario", "kinds", "--verbose"}, 0, kFastScale);
    // The legacy device already answers at .22.
    auto conflict = net.RunInPc(Cli({"set", kStandard, "--static", "--ip", net.Subnet() + ".22",
                                     "--mask", "255.255.255.0"}),
                                30000, kFast);
    EXPECT_EQ(conflict.exitCode, EXIT_CONFLICT) << conflict.err;
    EXPECT_NE(conflict.err.find("IPv4 addresses overlapped"), std::string::npos);
    auto port = net.RunInPc(Cli({"set", kStandard, "--port", "554"}), 30000, kFast);
    EXPECT_EQ(port.exitCode, EXIT_REFUSED);
    EXPECT_NE(port.err.find("Port no. 554 cannot be set."), std::string::npos) << port.err;
    auto mac = net.RunInPc(Cli({"set", "02-00-00-30-00", "--port", "80"}), 30000, kFast);
    EXPECT_EQ(mac.exitCode, EXIT_REFUSED);
    // The simulator saw searches only.
    const std::string log = sim.Err();
    EXPECT_NE(log.find("rx command 13"), std::string::npos);
    EXPECT_EQ(log.find("rx command 2 "), std::string::npos) << log;
}

// Values refused before anything goes out: status 3, the option and the value named, and the
// simulator hears nothing at all.
TEST(CliE2e, RefusedValuesAreNamedAndNothingIsSent) {
    NetNs net("cli-badarg");
    VALDRUNE_REQUIRE_NETNS(net);
    auto& sim = net.StartSim({"--scenario", "kinds", "--verbose"}, 0, kFastScale);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"search", "--cycles", "0"}, "search --cycles: \"0\""},
        {{"search", "--timeout", "1e9"}, "search --timeout: \"1e9\""},
        {{"search", "--expect", "-3"}, "search --expect: \"-3\""},
        {{"set", kStandard, "--static", "--ip", "10.0.0.300"}, "for ip: \"10.0.0.300\""},
        {{"set", kStandard, "--port", "8o"}, "port number: \"8o\""},
        {{"probe", "10.0.0"}, "probe: malformed IPv4 address: \"10.0.0\""}};
    for (const auto& [args, named] : cases) {
        std::vector<std::string> argv = {kCli};
        argv.insert(argv.end(), args.begin(), args.end());
        auto r = net.RunInPc(argv, 10000, kFast);
        EXPECT_EQ(r.exitCode, EXIT_REFUSED) << args[1] << r.err;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
    }
    EXPECT_EQ(sim.Err().find("rx command"), std::string::npos) << sim.Err();
}

// Captures UDP on the pc adapter while a command runs, through libpcap inside the namespace.
class Capture {
  public:
    explicit Capture(const NetNs& net) : guard_(net.PcNs()) {
        char err[PCAP_ERRBUF_SIZE] = {};
        if (!guard_.Ok()) return;
        pcap_ = pcap_create(net.PcIf().c_str(), err);
        if (!pcap_) return;
        pcap_set_snaplen(pcap_, 2048);
        pcap_set_immediate_mode(pcap_, 1);
        pcap_set_timeout(pcap_, 10);
        if (pcap_activate(pcap_) != 0) return;
        pcap_setnonblock(pcap_, 1, err);
        ok_ = true;
    }
    ~Capture() {
        if (dumper_) pcap_dump_close(dumper_);
        if (pcap_) pcap_close(pcap_);
    }
    bool Ok() const { return ok_; }
    void SaveTo(const std::string& path) { dumper_ = pcap_dump_open(pcap_, path.c_str()); }
    void CloseFile() {
        if (dumper_) pcap_dump_close(dumper_);
        dumper_ = nullptr;
    }

    // Runs argv in the pc namespace, collecting frames until it ends.
    e2e::RunResult Run(const NetNs& net, const std::vector<std::string>& argv) {
        auto proc = net.Spawn(net.PcNs(), argv, kFast);
        e2e::RunResult r;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        int status = 0;
        for (;;) {
            Drain();
            pid_t done = waitpid(proc.Pid(), &status, WNOHANG);
            if (done == proc.Pid() || std::chrono::steady_clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Drain();
        r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = proc.Out();
        r.err = proc.Err();
        return r;
    }
    const std::vector<UdpPayload>& Datagrams() const { return seen_; }

  private:
    void Drain() {
        pcap_pkthdr* h = nullptr;
        const u_char* data = nullptr;
        while (pcap_next_ex(pcap_, &h, &data) == 1) {
            if (dumper_) pcap_dump(reinterpret_cast<u_char*>(dumper_), h, data);
            if (auto p = ExtractUdp(pcap_datalink(pcap_), {data, h->caplen})) {
                seen_.push_back(std::move(*p));
            }
        }
    }
    NetNs::Entered guard_;
    pcap_t* pcap_ = nullptr;
    pcap_dumper_t* dumper_ = nullptr;
    bool ok_ = false;
    std::vector<UdpPayload> seen_;
};

// The default output: a header and one row per device, every column starting at the same
// place on every line.
TEST(CliE2e, SearchPrintsATableSizedToItsContent) {
    NetNs net("cli-table");
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", "kinds"}, 0, kFastScale);
    auto r = net.RunInPc(Cli({"search"}), 20000, kFast);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 4u) << r.out;
    EXPECT_EQ(rows[0].rfind("MAC  ", 0), 0u) << rows[0];
    for (const char* title : {"IPV4", "PORT", "NAME", "MODEL", "SERIAL", "OVERLAPS"}) {
        EXPECT_NE(rows[0].find(title), std::string::npos) << title;
    }
    const std::size_t name = rows[0].find("NAME");
    for (const char* mac : {kLegacy, kTwoPort, kStandard}) {
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [&](const std::string& l) { return l.rfind(mac, 0) == 0; });
        ASSERT_NE(row, rows.end()) << mac;
        EXPECT_NE(row->find(net.Subnet() + "."), std::string::npos);
        EXPECT_EQ(row->at(name - 1), ' ');
        EXPECT_NE(row->at(name), ' ') << *row;
    }
    EXPECT_TRUE(r.err.empty()) << r.err;  // no progress line: standard error is no terminal
}

// One cycle on each adapter at the same time; devices answering by unicast reach the socket of
// their own adapter.
TEST(CliE2e, AllInterfacesSearchesEverySegmentAtOnce) {
    NetNs net("cli-all", 2);
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", "kinds", "--unicast"}, 0, kFastScale);
    net.StartSim({"--scenario", "many", "--count", "2"}, 1, kFastScale);
    for (const auto& args :
         {std::vector<std::string>{"--all-interfaces"},
          std::vector<std::string>{"-i", net.PcIf(0), "-i", net.PcIp(1), "-i", net.PcIf(1)}}) {
        std::vector<std::string> argv = Cli({"search", "--json"});
        argv.insert(argv.end(), args.begin(), args.end());
        const auto started = std::chrono::steady_clock::now();
        auto r = net.RunInPc(argv, 20000, kFast);
        const auto took = std::chrono::steady_clock::now() - started;
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const json devices = json::parse(r.out);
        std::map<std::string, int> perAdapter;
        for (const auto& d : devices) {
            const std::string adapter = d["adapter"];
            ++perAdapter[adapter];
            const int k = adapter == net.PcIf(0) ? 0 : 1;
            EXPECT_EQ(d["ipv4"].get<std::string>().rfind(net.Subnet(k) + ".", 0), 0u) << d;
        }
        EXPECT_EQ(perAdapter, (std::map<std::string, int>{{net.PcIf(0), 3}, {net.PcIf(1), 2}}));
        // Side by side: one 8 s cycle (0.4 s here) for both, not one after the other.
        EXPECT_LT(took, std::chrono::milliseconds(4000));
    }
}

// 30 % of UDP datagrams dropped both ways in the pc namespace: one cycle misses about one
// device in thirty, four cycles find every one of sixty.
TEST(CliE2e, MoreCyclesFindEveryDeviceOnALossyLink) {
    NetNs net("cli-loss");
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", "many", "--count", "60"}, 0, kFastScale);
    const std::string rules =
        "table inet loss {\n"
        " chain in { type filter hook input priority 0; meta l4proto udp numgen random mod 100 "
        "< 30 drop; }\n"
        " chain out { type filter hook output priority 0; meta l4proto udp numgen random mod 100 "
        "< 30 drop; }\n"
        "}\n";
    const std::string file = net.Scratch() + "/loss.nft";
    std::ofstream(file) << rules;
    auto nft = net.RunInPc({"nft", "-f", file});
    if (nft.exitCode != 0) GTEST_SKIP() << "SKIP (nft unavailable): " << nft.err;
    auto r = net.RunInPc(Cli({"search", "--cycles", "4", "--json"}), 30000, kFast);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out).size(), 60u);
    // --expect ends the search as soon as they are all there.
    auto expect =
        net.RunInPc(Cli({"search", "--cycles", "4", "--expect", "60", "--csv"}), 30000, kFast);
    EXPECT_EQ(expect.exitCode, 0) << expect.err;
    EXPECT_EQ(std::count(expect.out.begin(), expect.out.end(), '\n'), 61);
}


// RFC 4180 records: fields split at commas outside quotes, "" inside quotes for one ".
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') rows.back().back() += '"', ++i;
            else if (c == '"') quoted = false;
            else rows.back().back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            rows.back().emplace_back();
        } else if (c == '\n') {
            rows.emplace_back(1);
        } else {
            rows.back().back() += c;
        }
    }
    if (rows.back() == std::vector<std::string>(1)) rows.pop_back();
    return rows;
}

TEST(CliE2e, HostileDeviceTextsKeepJsonCsvAndTheTerminalIntact) {
    NetNs net("cli-hostile");
    VALDRUNE_REQUIRE_NETNS(net);
    ASSERT_TRUE(net.StartSimOn(e2e::kHostileDevices, {}, 0, kFastScale).Running());
    const auto search = [&](const std::string& format) {
        auto r = net.RunInPc(Cli({"search", "--cycles", "3", "--expect", "5", format}), 30000,
                             kFast);
        EXPECT_EQ(r.exitCode, 0) << format << ": " << r.err;
        return r.out;
    };

    // JSON: parses (so it is valid UTF-8 too) and keeps the texts as data.
    const json devices = json::parse(search("--json"), nullptr, false);
    ASSERT_TRUE(devices.is_array());
    ASSERT_EQ(devices.size(), 5u);
    EXPECT_EQ((*Find(devices, "02-00-44-00-00-01"))["name"], "<b>x</b><i>y");
    // A name ends at its first control byte, as the decoder trims it.
    EXPECT_EQ((*Find(devices, "02-00-44-00-00-04"))["name"], "\"q\",");
    EXPECT_EQ((*Find(devices, "02-00-44-00-00-04"))["model"], "a,b\"c");

    // CSV: one record per device with the header's fields, formulas defused, no control bytes.
    const std::string csv = search("--csv");
    const auto rows = ParseCsv(csv);
    ASSERT_EQ(rows.size(), 6u) << csv;
    const auto& header = rows[0];
    const auto column = std::find(header.begin(), header.end(), "name") - header.begin();
    const auto modelColumn = std::find(header.begin(), header.end(), "model") - header.begin();
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), header.size()) << csv;
        const std::string& name = rows[i][static_cast<std::size_t>(column)];
        const std::string& model = rows[i][static_cast<std::size_t>(modelColumn)];
        if (rows[i][0] == "02-00-44-00-00-03") {
            EXPECT_EQ(name.substr(0, 2), "'=") << name;
            EXPECT_EQ(model.substr(0, 2), "'@") << model;
        }
    }
    for (const std::string& out : {csv, search("--wide")}) {
        for (unsigned char c : out)
            EXPECT_TRUE(c >= 0x20 || c == '\n' || c == '\r') << "control byte " << int(c);
    }
}

TEST(CliE2e, DryRunAndDecodeAgreeWithTheWire) {
    NetNs net("cli-wire");
    VALDRUNE_REQUIRE_NETNS(net);
    net.StartSim({"--scenario", "kinds"}, 0, kFastScale);
    const std::string ip = net.Subnet() + ".70";
    const std::vector<std::string> options = {"set", kStandard, "--static",     "--ip",
                                              ip,    "--mask",  "255.255.255.0"};
    std::vector<std::string> dry = CliCommand();
    dry.insert(dry.end(), options.begin(), options.end());
    dry.push_back("--dry-run");
    auto dryRun = net.RunInPc(dry, 30000, kFast);
    ASSERT_EQ(dryRun.exitCode, EXIT_OK) << dryRun.err;

    Capture capture(net);
    ASSERT_TRUE(capture.Ok()) << "cannot capture on " << net.PcIf();
    const std::string pcapPath = net.Scratch() + "/wire.pcap";
    capture.SaveTo(pcapPath);
    std::vector<std::string> real = CliCommand();
    real.insert(real.end(), options.begin(), options.end());
    auto r = capture.Run(net, real);
    ASSERT_EQ(r.exitCode, EXIT_OK) << r.err;
    capture.CloseFile();

    std::string settingsHex, answerHex;
    for (const auto& d : capture.Datagrams()) {
        if (d.payload.size() < 6) continue;
        const int command = d.payload[4] << 8 | d.payload[5];
        if (command == CMD_SETUP_V2 && settingsHex.empty()) {
            settingsHex = Hex(d.payload.data(), d.payload.size());
        }
        if (command == CMD_SEARCH_REPLY && answerHex.empty()) {
            answerHex = Hex(d.payload.data(), d.payload.size());
        }
    }
    EXPECT_EQ(dryRun.out, settingsHex + "\n");

    // The answer as hex, and the whole capture file, decode to the device.
    auto hex = net.RunInPc(Cli({"decode", answerHex, "--json"}), 10000);
    ASSERT_EQ(hex.exitCode, EXIT_OK) << hex.err;
    const json one = json::parse(hex.out);
    EXPECT_EQ(one[0]["record"]["mac"].get<std::string>().size(), 17u);
    auto file = net.RunInPc(Cli({"decode", pcapPath, "--json"}), 10000);
    ASSERT_EQ(file.exitCode, EXIT_OK) << file.err;
    const json all = json::parse(file.out);
    bool sawSettings = false;
    for (const auto& d : all) {
        if (d["valid"] && d["command"] == CMD_SETUP_V2) {
            sawSettings = true;
            EXPECT_EQ(d["device_mac"], kStandard);
        }
    }
    EXPECT_TRUE(sawSettings);
}

TEST(CliE2e, ApplyOfATwentyDevicePlanCompletesAndItsDryRunCatchesConflicts) {
    NetNs net("cli-apply");
    VALDRUNE_REQUIRE_NETNS(net);
    const std::vector<std::string> fast = {"VALDRUNE_TIME_SCALE=40"};
    net.StartSim({"--scenario", "many", "--count", "20"}, 0, 40);
    const json before = json::parse(net.RunInPc(Cli({"search", "--json"}), 20000, fast).out);
    ASSERT_EQ(before.size(), 20u);

    std::string plan = "mac,mode,ip,mask\n";
    for (std::size_t i = 0; i < before.size(); ++i) {
        plan += before[i]["mac"].get<std::string>() + ",static," + net.Subnet() + "." +
                std::to_string(100 + i) + ",255.255.255.0\n";
    }
    // Dry run of a broken copy: two rows share .150, one wants the namespace's own .254, the
    // pc namespace's gateway.
    std::string broken = "mac,mode,ip,mask\n" + before[0]["mac"].get<std::string>() + ",static," +
                         net.Subnet() + ".150,255.255.255.0\n" +
                         before[1]["mac"].get<std::string>() + ",static," + net.Subnet() +
                         ".150,255.255.255.0\n" + before[2]["mac"].get<std::string>() + ",static," +
                         net.DevIp() + ",255.255.255.0\n";
    const std::string planPath = net.Scratch() + "/plan.csv";
    const std::string brokenPath = net.Scratch() + "/broken.csv";
    std::ofstream(planPath) << plan;
    std::ofstream(brokenPath) << broken;

    auto dry = net.RunInPc(Cli({"apply", brokenPath, "--dry-run", "--json"}), 60000, fast);
    ASSERT_EQ(dry.exitCode, EXIT_CONFLICT) << dry.err;
    const json report = json::parse(dry.out);
    EXPECT_EQ(report["devices"][0]["status"], "planned");
    EXPECT_EQ(report["devices"][1]["status"], "conflict");
    EXPECT_EQ(report["devices"][2]["status"], "conflict");
    EXPECT_EQ(report["devices"][2]["message"], net.DevIp() + " is this PC's gateway");

    auto r = net.RunInPc(Cli({"apply", planPath, "--json"}), 200000, fast);
    ASSERT_EQ(r.exitCode, EXIT_OK) << r.err;
    const json done = json::parse(r.out);
    for (std::size_t i = 0; i < done["devices"].size(); ++i) {
        EXPECT_EQ(done["devices"][i]["status"], "applied") << i;
        EXPECT_EQ(done["devices"][i]["after"]["ipv4"],
                  net.Subnet() + "." + std::to_string(100 + i));
    }
}

// Five devices changed at once: one never accepts, one is restart-locked. The locked one
// refuses the plan before anything is sent; without it, the refusing device fails and the
// others go on. A fresh search afterwards shows where every device ended up.
TEST(CliE2e, ApplyOfABatchOfFiveLeavesTheRefusingAndTheLockedDeviceAsTheyWere) {
    NetNs net("cli-batch");
    VALDRUNE_REQUIRE_NETNS(net);
    const std::vector<std::string> fast = {"VALDRUNE_TIME_SCALE=40"};
    const auto mac = e2e::BatchMac;
    const auto host = [&](int h) { return net.Subnet() + "." + std::to_string(h); };
    net.StartSimOn(e2e::kBatchDevices, {}, 0, 40);
    const auto plan = [&](int rows) {
        std::string csv = "mac,mode,ip,mask\n";
        for (int i = 1; i <= rows; ++i)
            csv += mac(i) + ",static," + host(120 + i) + ",255.255.255.0\n";
        const std::string path = net.Scratch() + "/plan" + std::to_string(rows) + ".csv";
        std::ofstream(path) << csv;
        return path;
    };

    auto refused = net.RunInPc(Cli({"apply", plan(5), "--json"}), 60000, fast);
    ASSERT_EQ(refused.exitCode, EXIT_REFUSED) << refused.err;
    EXPECT_EQ(json::parse(refused.out)["devices"][4]["message_id"], 443);

    auto r = net.RunInPc(Cli({"apply", plan(4), "--json"}), 120000, fast);
    EXPECT_EQ(r.exitCode, EXIT_TIMEOUT) << r.err;
    const json report = json::parse(r.out);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(report["devices"][i]["status"], i == 2 ? "failed" : "applied") << i;

    const json after = SearchJson(net);
    ASSERT_EQ(after.size(), 5u);
    for (int i = 1; i <= 5; ++i) {
        const json* d = Find(after, mac(i));
        ASSERT_NE(d, nullptr) << mac(i);
        EXPECT_EQ((*d)["ipv4"], i == 3 || i == 5 ? host(20 + i) : host(120 + i)) << mac(i);
    }
}

struct OversizeCase {
    const char* name;
    std::vector<std::string> args;  // "@big" is replaced by a file just over the limit
};

class CliOversize : public testing::TestWithParam<OversizeCase> {};

// Reading stops at the stated limit: endless or huge input is refused at once, and said so,
// before anything goes on the network (inside a namespace all the same, should it fail).
TEST_P(CliOversize, InputBeyondTheLimitIsRefusedAndNamed) {
    NetNs net("cli-big");
    VALDRUNE_REQUIRE_NETNS(net);
    const std::string big = "/tmp/vd-oversize-" + std::to_string(::getpid()) + ".txt";
    {
        std::ofstream out(big, std::ios::binary);
        const std::string row = "02-00-00-30-00-01,static,10.0.0.2,255.255.255.0,,,,,80,,\n";
        out << "mac,mode,ip,mask,gateway,dns,dns1,dns2,port,pc-ip,pc-mask\n";
        for (std::size_t n = 0; n <= (1u << 20) / row.size(); ++n) out << row;
    }
    std::vector<std::string> argv = {kCli};
    for (const auto& a : GetParam().args) argv.push_back(a == "@big" ? big : a);
    const auto r = net.RunInPc(argv, 20000);
    std::remove(big.c_str());
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, EXIT_REFUSED) << r.err;
    EXPECT_NE(r.err.find("larger than 1 MiB"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CliOversize,
    testing::Values(OversizeCase{"DecodeEndlessFile", {"decode", "/dev/zero"}},
                    OversizeCase{"DecodeBigHexFile", {"decode", "@big"}},
                    OversizeCase{"ApplyEndlessPlan", {"apply", "/dev/zero", "--dry-run"}},
                    OversizeCase{"ApplyBigPlan", {"apply", "@big", "--dry-run"}}),
    valdrune::test::ByName{});

}  // namespace
}  // namespace valdrune::cli
