// Without CAP_NET_RAW and CAP_NET_ADMIN (dropped, also from the bounding set, in a forked child
// inside a namespace of its own) and without a usable helper, the prober and the neighbour
// cache must say so instead of failing silently.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <vector>

#include "platform/linux/EchoProber.h"
#include "platform/linux/NeighbourCache.h"
#include "platform/linux/Privileges.h"
#include "platform/qt/QtScheduler.h"
#include "tests/e2e/lib/NetNs.h"
#include "tests/unit/platform/QtTestApp.h"

namespace valdrune {
namespace {

using e2e::NetNs;

// Runs posted calls when asked; the child has no event loop.
class ManualScheduler final : public IScheduler {
  public:
    TimerId StartTimer(Milliseconds, bool, std::function<void()>) override { return ++next_; }
    void CancelTimer(TimerId) override {}
    void Post(std::function<void()> fn) override { posted_.push_back(std::move(fn)); }
    Milliseconds Now() const override { return Milliseconds{0}; }
    void RunPosted() {
        auto posted = std::move(posted_);
        for (auto& fn : posted) fn();
    }

  private:
    TimerId next_ = 0;
    std::vector<std::function<void()>> posted_;
};

bool DropNetworkCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    for (const int cap : {CAP_NET_RAW, CAP_NET_ADMIN}) {
        // Out of the bounding set too, or the helper would get them back as root's.
        if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return false;
        data[CAP_TO_INDEX(cap)].effective &= ~CAP_TO_MASK(cap);
        data[CAP_TO_INDEX(cap)].permitted &= ~CAP_TO_MASK(cap);
    }
    return ::syscall(SYS_capset, &header, data) == 0;
}

void SetPingGroupRange(const char* range) {
    std::ofstream("/proc/sys/net/ipv4/ping_group_range") << range;
}

// The child's checks; returns the number of the first one that fails, 0 when all hold.
int CheckWithoutCapabilities() {
    SetPingGroupRange("1 0");
    if (!DropNetworkCapabilities()) return 1;
    const std::string helper = VALDRUNE_NETPROBE_BINARY;
    if (AvailableEchoSocket(helper) != EchoSocketKind::None) return 2;

    ManualScheduler scheduler;
    LinuxEchoProber prober(scheduler, helper);
    if (prober.CanProbe()) return 4;
    int code = 0, calls = 0;
    prober.Probe(0x7F000001, "ICMP SEND DATA", Milliseconds{1000}, [&](int c) {
        code = c;
        ++calls;
    });
    if (calls != 0) return 5;
    scheduler.RunPosted();
    if (calls != 1 || code != ECHO_NOT_PERMITTED) return 6;

    LinuxNeighbourCache cache(scheduler, helper);
    if (cache.CanFlush()) return 7;
    cache.Flush(0x7F000001);  // nothing is started; must not hang or crash
    if (cache.Running() != 0) return 3;

    const PrivilegeReport report = CheckPrivileges(helper);
    if (report.canProbe || report.canFlush) return 8;
    if (report.setcapCommand != "setcap cap_net_raw,cap_net_admin+p " + helper) return 9;

    // The unprivileged way for echo: the namespace lets group 0 open ping sockets.
    SetPingGroupRange("0 0");
    if (AvailableEchoSocket(helper) != EchoSocketKind::Ping) return 10;
    if (!CheckPrivileges(helper).usesPingSocket || CheckPrivileges(helper).canFlush) return 11;
    return 0;
}

TEST(PrivilegeNetns, MissingCapabilitiesAreReportedNotIgnored) {
    NetNs net("pl-priv", 1);
    VALDRUNE_REQUIRE_NETNS(net);
    NetNs::Entered inPc(net.PcNs());
    ASSERT_TRUE(inPc.Ok());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child starts in this thread's namespace; only this process loses capabilities.
        const int failed = CheckWithoutCapabilities();
        ::_exit(failed);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "check " << WEXITSTATUS(status) << " failed";
}

// A helper that is missing or does not answer in its format means "cannot probe", never a
// verdict about the address.
TEST(PrivilegeNetns, MissingOrFailingHelperCannotProbe) {
    test::App();
    NetNs net("pl-nohelper", 1);
    VALDRUNE_REQUIRE_NETNS(net);
    NetNs::Entered inPc(net.PcNs());
    ASSERT_TRUE(inPc.Ok());
    SetPingGroupRange("1 0");
    QtScheduler scheduler(1);
    for (const char* helper : {"/nonexistent/valdrune-netprobe", "/bin/true", "/bin/echo"}) {
        LinuxEchoProber prober(scheduler, helper);
        int code = 1, calls = 0;
        prober.Probe(0x7F000001, "ICMP SEND DATA", Milliseconds{1000}, [&](int c) {
            code = c;
            ++calls;
        });
        ASSERT_TRUE(test::RunUntil([&] { return calls == 1; })) << helper;
        EXPECT_EQ(code, ECHO_NOT_PERMITTED) << helper;
        EXPECT_EQ(prober.Outstanding(), 0u) << helper;
    }
}

}  // namespace
}  // namespace valdrune
