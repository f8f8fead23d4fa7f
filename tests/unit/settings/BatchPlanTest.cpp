#include <gtest/gtest.h>

#include "RulesTest.h"
#include "settings/rules/BatchPlan.h"
#include "tests/support/AnswerBuilder.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

_CommandDataTable Device(std::uint8_t last, const char* ipv4,
                         std::uint8_t kind = DEVICE_KIND_STANDARD) {
    return test::RecordBuilder(kind)
        .DeviceMac(test::Mac(last)).Address(ipv4, "255.255.255.0").Port(80).Capability(1)
        .Flags(0x12).Addressing(0x12);
}

BatchSettings Settings(const char* first, const char* last = nullptr) {
    BatchSettings s;
    s.first = Ip(first);
    s.last = last != nullptr ? Ip(last) : 0;
    s.mask = Ip("255.255.255.0");
    s.gateway = Ip("10.0.0.1");
    return s;
}

BatchSurroundings Around(std::initializer_list<const char*> taken = {}) {
    BatchSurroundings a;
    a.pcAddress = Ip("10.0.0.10");
    a.pcGateway = Ip("10.0.0.1");
    for (const char* t : taken) a.taken.insert(Ip(t));
    return a;
}

struct ProposalCase {
    const char* name;
    BatchSettings settings;
    BatchSurroundings around;
    BatchProblem problem;
    const char* where;  // the refused address, or the third device's proposal when accepted
};

class BatchProposal : public testing::TestWithParam<ProposalCase> {};

TEST_P(BatchProposal, ProposesConsecutiveFreeAddressesOrRefusesTheRange) {
    const ProposalCase& c = GetParam();
    auto rows = MakeBatchRows({Device(1, "10.0.0.201"), Device(2, "10.0.0.202"),
                               Device(3, "10.0.0.203")});
    const BatchCheck check = ProposeAddresses(rows, c.settings, c.around);
    EXPECT_EQ(check.problem, c.problem);
    if (check.ok()) {
        EXPECT_EQ(rows[2].address, Ip(c.where));
    } else {
        EXPECT_EQ(check.address, Ip(c.where));
        for (const auto& row : rows) EXPECT_EQ(row.address, 0u) << "nothing proposed";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, BatchProposal,
    testing::Values(
        ProposalCase{"Consecutive", Settings("10.0.0.50"), Around(), BatchProblem::None,
                     "10.0.0.52"},
        ProposalCase{"SkipsTakenAndAnswering", Settings("10.0.0.50"),
                     Around({"10.0.0.51", "10.0.0.53"}), BatchProblem::None, "10.0.0.54"},
        ProposalCase{"RunsPastTheSubnet", Settings("10.0.0.253"), Around(),
                     BatchProblem::PastSubnet, "10.0.0.255"},
        ProposalCase{"LastOutsideTheSubnet", Settings("10.0.0.50", "10.0.1.5"), Around(),
                     BatchProblem::PastSubnet, "10.0.1.5"},
        ProposalCase{"ShorterThanTheSelection", Settings("10.0.0.50", "10.0.0.52"),
                     Around({"10.0.0.51"}), BatchProblem::TooShort, "10.0.0.52"},
        ProposalCase{"ReachesThePc", Settings("10.0.0.8"), Around(), BatchProblem::HitsPc,
                     "10.0.0.10"},
        ProposalCase{"StartsAtTheGateway", Settings("10.0.0.1"), Around(),
                     BatchProblem::HitsGateway, "10.0.0.1"},
        ProposalCase{"FirstIsTheNetworkAddress", Settings("10.0.0.0"), Around(),
                     BatchProblem::FirstNotHost, "10.0.0.0"}),
    test::ByName{});

TEST(BatchProposal, LeavesOutLockedDevicesAndKindsThatCannotBeSet) {
    _CommandDataTable locked = Device(2, "10.0.0.202");
    locked.statusBits = 1;
    auto rows = MakeBatchRows({Device(1, "10.0.0.201"), locked, Device(3, "10.0.0.203", 99)});
    ASSERT_TRUE(ProposeAddresses(rows, Settings("10.0.0.50"), Around()).ok());
    EXPECT_EQ(rows[0].address, Ip("10.0.0.50"));
    EXPECT_FALSE(rows[1].included);
    EXPECT_EQ(rows[1].reasonId, 443);
    EXPECT_EQ(rows[2].reasonId, kBatchKindRefused);
    EXPECT_EQ(rows[2].address, 0u);
}

TEST(BatchCheck, RefusesEditedAddressesThatCollide) {
    _CommandDataTable twoPort = Device(9, "10.0.0.90", DEVICE_KIND_TWO_PORT);
    twoPort.primary.ipAddress2 = Ip("10.0.0.91");
    const std::vector<_CommandDataTable> listed = {Device(1, "10.0.0.201"),
                                                   Device(2, "10.0.0.202"), twoPort};
    const BatchSettings s = Settings("10.0.0.50");
    auto rows = MakeBatchRows({listed[0], listed[1]});
    const auto check = [&](const char* a0, const char* a1) {
        rows[0].address = Ip(a0);
        rows[1].address = Ip(a1);
        return CheckBatch(rows, s, Around({"10.0.0.201", "10.0.0.202"}), listed).problem;
    };
    EXPECT_EQ(check("10.0.0.50", "10.0.0.51"), BatchProblem::None);
    EXPECT_EQ(check("10.0.0.201", "10.0.0.51"), BatchProblem::None) << "keeps its own address";
    EXPECT_EQ(check("10.0.0.50", "10.0.0.50"), BatchProblem::Duplicate);
    EXPECT_EQ(check("10.0.0.202", "10.0.0.51"), BatchProblem::Taken);
    EXPECT_EQ(check("10.0.0.91", "10.0.0.51"), BatchProblem::Taken) << "another's PC port";
    EXPECT_EQ(check("10.0.0.10", "10.0.0.51"), BatchProblem::HitsPc);
    EXPECT_EQ(check("10.0.0.50", "10.0.1.51"), BatchProblem::PastSubnet);
}

TEST(BatchChange, TwoPortDevicesChangeTheirLanPortOnly) {
    _CommandDataTable d = Device(9, "192.168.5.9", DEVICE_KIND_TWO_PORT);
    d.portOptionA = 1;
    d.ipv4Mode = 0;  // DHCP on the LAN port
    d.primary.ipAddress2 = Ip("192.168.7.1");
    d.primary.subnetMask2 = Ip("255.255.255.0");
    auto rows = MakeBatchRows({d});
    rows[0].address = Ip("10.0.0.60");
    const BatchChange change = PrepareBatchChange(rows[0], Settings("10.0.0.60"));
    ASSERT_TRUE(change.ok) << rows[0].reasonId;
    EXPECT_EQ(change.after.primary.ipAddress, Ip("10.0.0.60"));
    EXPECT_EQ(change.after.primary.gateway, Ip("10.0.0.1"));
    EXPECT_EQ(change.after.primary.ipAddress2, Ip("192.168.7.1"));
    EXPECT_EQ(change.command, 15);
    EXPECT_EQ(change.mask, 8);
}

TEST(BatchChange, ARuleRefusalLeavesTheDeviceOutWithItsReason) {
    auto rows = MakeBatchRows({Device(1, "10.0.0.201")});
    rows[0].address = Ip("10.0.0.60");
    BatchSettings s = Settings("10.0.0.60");
    s.portText = "70000";
    EXPECT_FALSE(PrepareBatchChange(rows[0], s).ok);
    EXPECT_FALSE(rows[0].included);
    EXPECT_EQ(rows[0].reasonId, 428);
    EXPECT_EQ(rows[0].refusal.argument, 70000u);
}

}  // namespace
}  // namespace valdrune
