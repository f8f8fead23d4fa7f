#include <gtest/gtest.h>

#include "protocol/Reach.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

struct BorrowCase {
    const char* name;
    std::uint32_t device, mask;
    std::vector<std::uint32_t> expected;
};

class Borrowing : public testing::TestWithParam<BorrowCase> {};

TEST_P(Borrowing, TakesTheHighestFreeHostsOfTheDevicesSubnet) {
    EXPECT_EQ(BorrowCandidates(GetParam().device, GetParam().mask, 2), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, Borrowing,
    testing::Values(
        BorrowCase{"SkipsTheDevicesOwn", 0xC0A801FE, 0xFFFFFF00, {0xC0A801FD, 0xC0A801FC}},
        BorrowCase{"OtherwiseTheTop", 0xC0A80164, 0xFFFFFF00, {0xC0A801FE, 0xC0A801FD}},
        BorrowCase{"WiderMask", 0x0A000005, 0xFFFF0000, {0x0A00FFFE, 0x0A00FFFD}},
        BorrowCase{"NarrowSubnetHasOneOtherHost", 0xC0A80101, 0xFFFFFFFC, {0xC0A80102}},
        BorrowCase{"NoMaskMeansA24", 0xC0A80001, 0, {0xC0A800FE, 0xC0A800FD}},
        BorrowCase{"NoRoomMeansA24", 0xC0A80001, 0xFFFFFFFF, {0xC0A800FE, 0xC0A800FD}},
        BorrowCase{"GappedMaskMeansA24", 0xC0A80001, 0xFF00FF00, {0xC0A800FE, 0xC0A800FD}}),
    test::ByName{});

TEST(Reach, InsideAnyUsesEachNetworksOwnPrefix) {
    const std::vector<Ipv4Network> nets = {{0x0A4D0101, 24}, {0xAC100001, 12}};
    EXPECT_TRUE(InsideAny(0x0A4D01FE, nets));
    EXPECT_TRUE(InsideAny(0xAC1F0001, nets));
    EXPECT_FALSE(InsideAny(0xC0A801FE, nets));
}

TEST(Reach, StateSurvivesARoundTripAndDropsDamagedLines) {
    const std::vector<ReachEntry> entries = {{4026531840u, 3, 0xC0A801FD, 0xC0A801FE, 77},
                                             {1, 9, 0x0A000001, 0x0A000002, 5}};
    const std::string text = FormatReachEntries(entries) +
                             "netns=1 if=2 source=1.2.3 device=1.2.3.4 pid=3\n"
                             "netns=1 if=0 source=1.2.3.4 device=1.2.3.5 pid=3\n"
                             "garbage\n";
    const auto back = ParseReachEntries(text);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].netns, entries[0].netns);
    EXPECT_EQ(back[0].source, entries[0].source);
    EXPECT_EQ(back[1].device, entries[1].device);
    EXPECT_EQ(back[1].pid, 5);
}

}  // namespace
}  // namespace valdrune
