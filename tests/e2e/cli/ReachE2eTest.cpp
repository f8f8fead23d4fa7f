// valdrune-cli reach against a simulated device outside the PC adapter's subnet: reachable
// while it runs, nothing left once it is stopped, and a killed run cleaned up by the next.
#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/lib/NetNs.h"

namespace {

using valdrune::e2e::NetNs;
using valdrune::e2e::Process;

const std::string kCli = VALDRUNE_CLI_BINARY;
const char* const kOutside = "02-00-00-03-00-09";  // 192.168.1.254 in the demo scenario
const char* const kDevice = "192.168.1.254";

class ReachE2e : public testing::Test {
  protected:
    void SetUp() override {
        if (!net_.Ok()) GTEST_SKIP() << "SKIP (no network namespaces): " << net_.Error();
        net_.StartSim({"--scenario", "demo"}, 0);
        // Only broadcasts reach the device: no default route on the PC, and the device knows
        // its own subnet as on-link, as a real one does.
        ASSERT_TRUE(
            valdrune::e2e::detail::Quiet({"ip", "-n", net_.PcNs(), "route", "del", "default"}));
        ASSERT_TRUE(valdrune::e2e::detail::Quiet(
            {"ip", "-n", net_.DevNs(), "route", "add", "192.168.1.0/24", "dev", "dev0"}));
        env_ = {"XDG_RUNTIME_DIR=" + net_.Scratch()};
    }

    bool Answers() const { return net_.RunInPc({kCli, "probe", kDevice}, 10000).exitCode == 0; }
    std::string PcAddresses() const {
        return net_.RunInPc({"ip", "-4", "-o", "addr", "show"}, 5000).out;
    }
    // Starts reach and waits until it has printed the URL (its change is in place then).
    Process Start() const {
        Process p = net_.Spawn(net_.PcNs(), {kCli, "reach", kOutside}, env_);
        for (int i = 0; i < 200 && p.Running() && p.Out().find("http://") == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return p;
    }

    NetNs net_{"reach"};
    std::vector<std::string> env_;
};

TEST_F(ReachE2e, ReachableWhileRunningAndNothingLeftAfterStop) {
    ASSERT_FALSE(Answers());
    Process run = Start();
    ASSERT_NE(run.Out().find(std::string("http://") + kDevice + ":80"), std::string::npos)
        << run.Err();
    EXPECT_TRUE(Answers());
    EXPECT_NE(PcAddresses().find("192.168.1.253/32"), std::string::npos);
    run.Signal(SIGINT);
    EXPECT_EQ(run.Stop(3000), 0) << run.Err();
    EXPECT_EQ(PcAddresses().find("192.168.1."), std::string::npos);
    EXPECT_FALSE(Answers());
}

TEST_F(ReachE2e, TheNextRunRemovesWhatAKilledRunLeft) {
    Process killed = Start();
    ASSERT_NE(killed.Out().find("http://"), std::string::npos) << killed.Err();
    killed.Signal(SIGKILL);
    killed.Stop(1000);
    ASSERT_NE(PcAddresses().find("192.168.1.253/32"), std::string::npos);
    Process next = Start();
    EXPECT_NE(next.Err().find("left by an earlier run"), std::string::npos) << next.Err();
    EXPECT_TRUE(Answers());
    EXPECT_EQ(next.Stop(3000), 0) << next.Err();  // SIGTERM
    EXPECT_EQ(PcAddresses().find("192.168.1."), std::string::npos);
}

TEST_F(ReachE2e, WithoutRootSaysSoAndChangesNothing) {
    auto r = net_.RunInPc(
        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", kCli, "reach", kOutside},
        10000);
    EXPECT_EQ(r.exitCode, 10);
    EXPECT_NE(r.err.find("sudo"), std::string::npos) << r.err;
    EXPECT_EQ(PcAddresses().find("192.168.1."), std::string::npos);
}

}  // namespace
