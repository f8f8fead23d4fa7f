// valdrune-cli doctor in namespaces built to show one problem each, and in a healthy one.
#include <gtest/gtest.h>
#include <nftables/libnftables.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/e2e/lib/NetNs.h"
#include "tests/support/CaseNames.h"

namespace {

using nlohmann::json;
using valdrune::e2e::NetNs;
using valdrune::e2e::Process;

const std::string kCli = VALDRUNE_CLI_BINARY;

bool Nft(const NetNs& net, const char* commands) {
    auto in = net.EnterPc();
    if (!in.Ok()) return false;
    nft_ctx* ctx = nft_ctx_new(NFT_CTX_DEFAULT);
    nft_ctx_buffer_error(ctx);
    const int rc = nft_run_cmd_from_buffer(ctx, commands);
    nft_ctx_free(ctx);
    return rc == 0;
}

bool Ip(const NetNs& net, std::vector<std::string> args) {
    args.insert(args.begin(), {"ip", "-n", net.PcNs()});
    return valdrune::e2e::detail::Quiet(args);
}

struct DoctorCase {
    const char* name;
    int segments;
    std::function<bool(NetNs&, Process&)> setUp;
    std::vector<std::string> args;
    bool asNobody;
    const char* check;  // the check that must name the cause; "" for "all ok"
    const char* verdict;
    const char* evidence;  // a part of that check's evidence
};

class DoctorE2e : public testing::TestWithParam<DoctorCase> {};

json RunDoctor(const NetNs& net, const DoctorCase& c, int& exitCode, std::string& err) {
    std::vector<std::string> argv;
    if (c.asNobody) argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    argv.push_back(kCli);
    argv.push_back("doctor");
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    argv.push_back("--json");
    auto r = net.RunInPc(argv, 20000);
    exitCode = r.exitCode;
    err = r.err;
    return json::parse(r.out, nullptr, false);
}

TEST_P(DoctorE2e, NamesTheCause) {
    const DoctorCase& c = GetParam();
    NetNs net("doctor", c.segments);
    VALDRUNE_REQUIRE_NETNS(net);
    Process keep;
    ASSERT_TRUE(c.setUp(net, keep)) << "setting up the namespace failed";
    int exitCode = -1;
    std::string err;
    json report = RunDoctor(net, c, exitCode, err);
    // A holder started in the background may need a moment to bind.
    for (int i = 0; i < 40 && keep.Running() && report.dump().find(c.evidence) == std::string::npos;
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        report = RunDoctor(net, c, exitCode, err);
    }
    ASSERT_TRUE(report.is_object()) << err;
    if (std::string(c.check).empty()) {
        for (const auto& check : report["checks"])
            EXPECT_EQ(check["verdict"], "ok") << check.dump();
        EXPECT_EQ(report["checks"].size(), 7u);
        EXPECT_EQ(exitCode, 0) << err;
        return;
    }
    const json* found = nullptr;
    for (const auto& check : report["checks"]) {
        if (check["check"] == c.check) found = &check;
    }
    ASSERT_NE(found, nullptr) << report.dump(2);
    EXPECT_EQ((*found)["verdict"], c.verdict) << report.dump(2);
    EXPECT_NE((*found)["evidence"].get<std::string>().find(c.evidence), std::string::npos)
        << report.dump(2);
    EXPECT_EQ(exitCode, std::string(c.verdict) == "problem" ? 9 : 0) << err;
    // Only the cause built into the namespace is a problem.
    for (const auto& check : report["checks"]) {
        if (check["check"] != c.check && check["check"] != "rights") {
            EXPECT_NE(check["verdict"], "problem") << check.dump();
        }
    }
}

const char* const kDropRule =
    "add table inet vdtest\n"
    "add chain inet vdtest input { type filter hook input priority 0; policy accept; }\n"
    "add rule inet vdtest input ct state established,related accept\n"
    "add rule inet vdtest input udp dport 10669 drop\n";

INSTANTIATE_TEST_SUITE_P(
    Namespaces, DoctorE2e,
    testing::Values(
        DoctorCase{"Healthy", 1, [](NetNs&, Process&) { return true; }, {}, false, "", "ok", ""},
        DoctorCase{"NftDropRuleReadFromTheRules",
                   1,
                   [](NetNs& n, Process&) { return Nft(n, kDropRule); },
                   {},
                   false,
                   "firewall",
                   "problem",
                   "udp dport 10669 drop"},
        DoctorCase{"NftDropRuleFoundByTheLoopWithoutRoot",
                   1,
                   [](NetNs& n, Process&) { return Nft(n, kDropRule); },
                   {},
                   true,
                   "firewall",
                   "problem",
                   "did not arrive"},
        DoctorCase{
            "StrictReversePathWithTheRouteElsewhere",
            2,
            [](NetNs& n, Process&) {
                return n.RunInPc({"sysctl", "-qw", "net.ipv4.conf.pc1.rp_filter=1"}).exitCode == 0;
            },
            {"-i", "pc1"},
            false,
            "rp-filter",
            "problem",
            "leaves through pc0"},
        DoctorCase{"SecondProcessBoundToThePort",
                   1,
                   [](NetNs& n, Process& keep) {
                       keep = n.Spawn(n.PcNs(), {kCli, "search", "--watch"});
                       return keep.Running();
                   },
                   {},
                   false,
                   "port",
                   "problem",
                   "valdrune-cli (pid"},
        DoctorCase{"TunnelHoldsTheDefaultRoute",
                   1,
                   [](NetNs& n, Process&) {
                       return Ip(n, {"tuntap", "add", "mode", "tun", "name", "tun0"}) &&
                              Ip(n, {"link", "set", "tun0", "up"}) &&
                              Ip(n, {"route", "replace", "default", "dev", "tun0"});
                   },
                   {"-i", "pc0"},
                   false,
                   "tunnel",
                   "warning",
                   "tun0"},
        DoctorCase{"AdapterDown",
                   2,
                   [](NetNs& n, Process&) {
                       return Ip(n, {"link", "set", "pc1", "down"});
                   },
                   {"-i", "pc1"},
                   false,
                   "adapter",
                   "problem",
                   "pc1 is down"}),
    valdrune::test::ByName{});

}  // namespace
