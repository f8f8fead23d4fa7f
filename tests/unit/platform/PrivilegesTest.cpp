#include <gtest/gtest.h>

#include "platform/linux/Privileges.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

struct PrivilegeCase {
    bool ping, raw, admin;
    const char* missing;
    const char* setcap;
    bool pingAdvice;
};

class PrivilegeReportTest : public testing::TestWithParam<PrivilegeCase> {};

TEST_P(PrivilegeReportTest, NamesExactlyWhatIsMissing) {
    const auto c = GetParam();
    const auto r = BuildPrivilegeReport(c.ping, c.raw, c.admin,
                                        "/usr/libexec/valdrune/valdrune-netprobe", 1000);
    EXPECT_EQ(r.canProbe, c.ping || c.raw);
    EXPECT_EQ(r.usesPingSocket, c.ping);
    EXPECT_EQ(r.canFlush, c.admin);
    EXPECT_EQ(r.missingCapabilities, c.missing);
    EXPECT_EQ(r.setcapCommand, c.setcap);
    EXPECT_EQ(r.pingGroupCommand.empty(), !c.pingAdvice);
    if (c.pingAdvice) {
        EXPECT_EQ(r.pingGroupCommand, "sysctl -w net.ipv4.ping_group_range=\"1000 1000\"");
    }
    EXPECT_EQ(r.Complete(), *c.missing == '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, PrivilegeReportTest,
    testing::Values(
        PrivilegeCase{true, false, true, "", "", false},
        PrivilegeCase{false, true, true, "", "", false},
        // setcap replaces the whole set: the advice keeps what is already there.
        PrivilegeCase{true, false, false, "cap_net_admin",
                      "setcap cap_net_raw,cap_net_admin+p /usr/libexec/valdrune/valdrune-netprobe",
                      false},
        PrivilegeCase{false, false, true, "cap_net_raw",
                      "setcap cap_net_raw,cap_net_admin+p /usr/libexec/valdrune/valdrune-netprobe",
                      true},
        PrivilegeCase{false, false, false, "cap_net_raw,cap_net_admin",
                      "setcap cap_net_raw,cap_net_admin+p /usr/libexec/valdrune/valdrune-netprobe",
                      true}),
    test::NamedBy([](const PrivilegeCase& c) {
        return test::CaseName(c.ping ? "Ping" : "NoPing", c.raw ? "Raw" : "NoRaw",
                              c.admin ? "Admin" : "NoAdmin");
    }));

}  // namespace
}  // namespace valdrune
