#include <gtest/gtest.h>

#include "protocol/EchoStatus.h"
#include "protocol/Seams.h"

namespace valdrune {
namespace {

constexpr std::uint32_t kTarget = 0x0A4D0505;
constexpr std::uint32_t kRouter = 0x0A4D05FE;

// The Linux packet reader and the Windows status both end here, so these are the answers
// both count.
TEST(EchoStatus, OnlyUnreachableNetworksAndHostsFromOthersAreNoAnswer) {
    int errors = 0;
    for (int status = 11000; status <= 11255; ++status) {
        if (!IsIcmpErrorStatus(status)) continue;
        ++errors;
        SCOPED_TRACE(status);
        EXPECT_EQ(EchoCodeForIcmpError(status, kTarget, kTarget), ECHO_ANSWERED);
        const int expected = status == ICMP_STATUS_NET_UNREACHABLE    ? ECHO_NET_UNREACHABLE
                             : status == ICMP_STATUS_HOST_UNREACHABLE ? ECHO_HOST_UNREACHABLE
                                                                      : ECHO_ANSWERED;
        EXPECT_EQ(EchoCodeForIcmpError(status, kRouter, kTarget), expected);
        EXPECT_EQ(EchoCodeForIcmpError(status, 0, kTarget), expected);
    }
    EXPECT_EQ(errors, 12);
    // Statuses of the local stack or of time-outs are no ICMP error.
    for (int status : {0, 11001, 11006, 11010, 11011, 11018, 11050})
        EXPECT_FALSE(IsIcmpErrorStatus(status)) << status;
    EXPECT_EQ(IcmpErrorStatus(11, 0), ICMP_STATUS_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(IcmpErrorStatus(3, 3), ICMP_STATUS_PORT_UNREACHABLE);
    EXPECT_EQ(IcmpErrorStatus(5, 0), 0);
}

}  // namespace
}  // namespace valdrune
