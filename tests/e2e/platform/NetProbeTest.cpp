// The probe helper as a program: a strict command line, one line of output, and nothing taken
// from the environment it was started with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/lib/NetNs.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

using e2e::NetNs;

const std::string kHelper = VALDRUNE_NETPROBE_BINARY;

// Its own scratch directory: test processes run in parallel.
e2e::RunResult RunHelper(std::vector<std::string> args) {
    args.insert(args.begin(), kHelper);
    const std::string scratch = e2e::detail::TempDir("vd-netprobe");
    auto r = e2e::detail::Run(args, 5000, scratch);
    ::rmdir(scratch.c_str());
    return r;
}

class NetProbeRefuses : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(NetProbeRefuses, MalformedArguments) {
    const auto r = RunHelper(GetParam());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "refused\n");
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, NetProbeRefuses,
    testing::Values(std::vector<std::string>{}, std::vector<std::string>{"echo"},
                    std::vector<std::string>{"echo", "10.1.2.3"},
                    std::vector<std::string>{"echo", "10.1.2.3", "1", "2"},
                    std::vector<std::string>{"ECHO", "10.1.2.3", "1"},
                    std::vector<std::string>{"probe", "10.1.2.3", "1"},
                    std::vector<std::string>{"--help", "10.1.2.3", "1"},
                    std::vector<std::string>{"echo", "10.1.2", "1"},
                    std::vector<std::string>{"echo", "10.1.2.3.4", "1"},
                    std::vector<std::string>{"echo", "10.1.2.256", "1"},
                    std::vector<std::string>{"echo", "10.01.2.3", "1"},
                    std::vector<std::string>{"echo", "10.1.2.3 ", "1"},
                    std::vector<std::string>{"echo", "+10.1.2.3", "1"},
                    std::vector<std::string>{"echo", "0x0a.1.2.3", "1"},
                    std::vector<std::string>{"echo", "10..2.3", "1"},
                    std::vector<std::string>{"echo", "", "1"},
                    std::vector<std::string>{"echo", "0.0.0.0", "1"},
                    std::vector<std::string>{"echo", "0.1.2.3", "1"},
                    std::vector<std::string>{"echo", "224.0.0.1", "1"},
                    std::vector<std::string>{"echo", "240.1.2.3", "1"},
                    std::vector<std::string>{"echo", "255.255.255.255", "1"},
                    std::vector<std::string>{"echo", "example.org", "1"},
                    std::vector<std::string>{"echo", "10.1.2.3", "-1"},
                    std::vector<std::string>{"echo", "10.1.2.3", "+1"},
                    std::vector<std::string>{"echo", "10.1.2.3", "01"},
                    std::vector<std::string>{"echo", "10.1.2.3", "1x"},
                    std::vector<std::string>{"echo", "10.1.2.3", ""},
                    std::vector<std::string>{"echo", "10.1.2.3", "2147483648"},
                    std::vector<std::string>{"echo", "10.1.2.3", "99999999999"},
                    std::vector<std::string>{"flush", "10.1.2.3", "0"}),
    [](const testing::TestParamInfo<std::vector<std::string>>& args) {
        std::string name = "Args";
        for (const std::string& a : args.param) name += "_" + (a.empty() ? "Empty" : test::CaseName(a));
        return name;
    });

// Inside a namespace of its own: an echo to loopback, and a flush of an entry that is not
// there, give the same line and status whatever the environment says.
TEST(NetProbe, IgnoresItsEnvironment) {
    NetNs net("pl-helper", 1);
    VALDRUNE_REQUIRE_NETNS(net);
    const std::vector<std::string> hostile = {"LD_LIBRARY_PATH=/nonexistent",
                                              "LANG=ja_JP.UTF-8",
                                              "LC_ALL=pt_BR.UTF-8",
                                              "TZ=:/etc/passwd",
                                              "MALLOC_PERTURB_=165",
                                              "PATH=/nonexistent",
                                              "LOCPATH=/nonexistent",
                                              "GCONV_PATH=/nonexistent",
                                              "POSIXLY_CORRECT=1"};
    const std::string index = std::to_string(1);  // lo
    for (const auto& args : {std::vector<std::string>{"echo", "127.0.0.1", "0"},
                             std::vector<std::string>{"flush", "127.0.0.9", index}}) {
        std::vector<std::string> argv = args;
        argv.insert(argv.begin(), kHelper);
        const auto plain = net.RunInPc(argv, 5000);
        std::vector<std::string> withEnv = {"env"};
        withEnv.insert(withEnv.end(), hostile.begin(), hostile.end());
        withEnv.insert(withEnv.end(), argv.begin(), argv.end());
        const auto hostileRun = net.RunInPc(withEnv, 5000);
        EXPECT_EQ(plain.exitCode, 0) << plain.err;
        EXPECT_EQ(plain.out, args[0] == "echo" ? "answered\n" : "not-cached\n");
        EXPECT_EQ(hostileRun.exitCode, plain.exitCode);
        EXPECT_EQ(hostileRun.out, plain.out);
        EXPECT_EQ(hostileRun.err, "");
    }
}

}  // namespace
}  // namespace valdrune
