#include <gtest/gtest.h>

#include "platform/linux/NetworkSurvey.h"
#include "platform/linux/NftRules.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

std::string Ruleset(const std::string& policy, const std::string& rules,
                    const std::string& extraChains = "") {
    return R"({"nftables":[{"table":{"family":"inet","name":"f","handle":1}},)"
           R"({"chain":{"family":"inet","table":"f","name":"input","handle":1,"type":"filter",)"
           R"("hook":"input","prio":0,"policy":")" +
           policy + R"("}},)" + extraChains + rules + R"({"metainfo":{}}]})";
}

std::string Rule(const std::string& exprs, const std::string& chain = "input") {
    return R"({"rule":{"family":"inet","table":"f","chain":")" + chain +
           R"(","handle":7,"expr":[)" + exprs + "]}},";
}

const std::string kDport =
    R"({"match":{"op":"==","left":{"payload":{"protocol":"udp","field":"dport"}},"right":10669}})";
const std::string kEstablished =
    R"({"match":{"op":"in","left":{"ct":{"key":"state"}},"right":["established","related"]}})";
const std::string kDrop = R"({"drop":null})";
const std::string kAccept = R"({"accept":null})";

struct NftCase {
    const char* name;
    std::string ruleset;
    RuleOutcome outcome;
};

class NftJudge : public testing::TestWithParam<NftCase> {};

TEST_P(NftJudge, JudgesAnAnswerArrivingOnPc0) {
    EXPECT_EQ(JudgeNftRuleset(GetParam().ruleset, "pc0").outcome, GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Rulesets, NftJudge,
    testing::Values(
        NftCase{"Empty", R"({"nftables":[{"metainfo":{}}]})", RuleOutcome::Admits},
        NftCase{"Malformed", "{\"nftables\":", RuleOutcome::Unread},
        NftCase{"DportDrop", Ruleset("accept", Rule(kDport + "," + kDrop)), RuleOutcome::Drops},
        NftCase{
            "DportInASetOrRange",
            Ruleset(
                "accept",
                Rule(
                    R"({"match":{"op":"==","left":{"payload":{"protocol":"udp","field":"dport"}},"right":{"set":[80,{"range":[10000,11000]}]}}},)" +
                    kDrop)),
            RuleOutcome::Drops},
        NftCase{
            "OtherPortDropped",
            Ruleset(
                "accept",
                Rule(
                    R"({"match":{"op":"==","left":{"payload":{"protocol":"udp","field":"dport"}},"right":53}},)" +
                    kDrop)),
            RuleOutcome::Admits},
        NftCase{
            "TcpRuleDoesNotApply",
            Ruleset(
                "accept",
                Rule(
                    R"({"match":{"op":"==","left":{"payload":{"protocol":"tcp","field":"dport"}},"right":10669}},)" +
                    kDrop)),
            RuleOutcome::Admits},
        NftCase{
            "AnotherAdaptersWildcard",
            Ruleset(
                "accept",
                Rule(R"({"match":{"op":"==","left":{"meta":{"key":"iifname"}},"right":"wl*"}},)" +
                     kDrop)),
            RuleOutcome::Admits},
        NftCase{"AcceptBeforeDrop", Ruleset("accept", Rule(kDport + "," + kAccept) + Rule(kDrop)),
                RuleOutcome::Admits},
        // The answer is new to conntrack, so the usual accept of established traffic does not let
        // it in.
        NftCase{"PolicyDropAfterEstablished", Ruleset("drop", Rule(kEstablished + "," + kAccept)),
                RuleOutcome::Drops},
        NftCase{
            "UnknownMatchMayDrop",
            Ruleset(
                "accept",
                Rule(
                    R"({"match":{"op":"==","left":{"payload":{"protocol":"ip","field":"saddr"}},"right":{"prefix":{"addr":"10.0.0.0","len":8}}}},)" +
                    kDrop)),
            RuleOutcome::MayDrop},
        NftCase{"DropInAJumpedChain",
                Ruleset("accept",
                        Rule(R"({"jump":{"target":"lan"}})") + Rule(kDport + "," + kDrop, "lan"),
                        R"({"chain":{"family":"inet","table":"f","name":"lan","handle":2}},)"),
                RuleOutcome::Drops}),
    test::ByName{});

TEST(NftJudge, NamesTheRuleItsPlaceAndTheFix) {
    const auto j = JudgeNftRuleset(Ruleset("accept", Rule(kDport + "," + kDrop)), "pc0");
    EXPECT_EQ(j.ruleText, "udp dport 10669 drop");
    EXPECT_EQ(j.place, "inet f input handle 7");
    EXPECT_EQ(j.fixCommand, "nft insert rule inet f input iifname \"pc0\" udp dport 10669 accept");
}

TEST(UdpTable, ReadsIpv4AndMappedAddressesAndSkipsOthers) {
    const auto v4 = ParseUdpTable(
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode ref pointer drops\n"
        "  1: 01014D0A:29AD 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
        "4242 2 0 0\n"
        "  2: garbage\n",
        false);
    ASSERT_EQ(v4.size(), 1u);
    EXPECT_EQ(v4[0].address, 0x0A4D0101u);
    EXPECT_EQ(v4[0].port, 10669);
    EXPECT_EQ(v4[0].inode, 4242u);
    // A udp6 row of a socket on port 10669 (29AD) with this local address.
    const auto row6 = [](int slot, const char* local) {
        return "  " + std::to_string(slot) + ": " + local + ":29AD " + std::string(32, '0') +
               ":0000 07 0:0 00:0 0 0 0 " + std::to_string(11 + slot) + " 2 0 0\n";
    };
    const auto v6 = ParseUdpTable("header\n" + row6(0, "00000000000000000000000000000000") +
                                      row6(1, "0000000000000000FFFF00000101A8C0") +
                                      row6(2, "00000000000000000000000001000000"),
                                  true);
    ASSERT_EQ(v6.size(), 2u);
    EXPECT_EQ(v6[0].address, 0u);
    EXPECT_EQ(v6[1].address, 0xC0A80101u);
}

}  // namespace
}  // namespace valdrune
