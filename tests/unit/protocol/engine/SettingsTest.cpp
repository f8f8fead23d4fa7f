// The settings transaction: three requests, the 30 s window, confirmation and its sequence.
#include <gmock/gmock.h>

#include "EngineTest.h"

namespace valdrune::test {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using std::chrono::milliseconds;

const MacAddress kTarget = Mac(0x42);

struct KindCase {
    const char* name;
    std::uint8_t kind;
    std::uint16_t command;
    std::uint16_t acceptance;
    std::uint16_t confirmation;
};
void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

class Transaction : public EngineTest, public ::testing::WithParamInterface<KindCase> {
protected:
    _CommandDataTable Target() const {
        auto r = Device(kTarget, "192.168.0.42", GetParam().kind);
        r.capabilityFlag = 1;
        r.sequence = 7;
        return r;
    }
    int Send(const _CommandDataTable& r) {
        std::uint16_t command = 0, mask = 0;
        EXPECT_TRUE(CProtocol::CommandForKind(r.kind, command, mask));
        return engine().SendSettings(r, command, mask);
    }
    void Accept() { rig.Deliver(AnswerBuilder(GetParam().acceptance, kTarget)); }
};

TEST_P(Transaction, SendsTheRequestThreeTimesHundredMillisecondsApartWithoutBlocking) {
    const auto r = Target();
    EXPECT_EQ(Send(r), PROTO_OK);
    // The first send is immediate and the call returns before the others.
    ASSERT_EQ(rig.transport.Sent().size(), 1u);
    EXPECT_TRUE(engine().SettingsTimeoutRunning());
    rig.clock.Advance(milliseconds(1000));

    const auto sent = rig.transport.SentWithCommand(GetParam().command);
    EXPECT_THAT(Times(sent), ElementsAre(0, 100, 200));
    EXPECT_EQ(sent[1].bytes, sent[0].bytes);
    EXPECT_EQ(sent[2].bytes, sent[0].bytes);
    EXPECT_TRUE(std::equal(kTarget.begin(), kTarget.end(), sent[0].bytes.begin() + 6));
    EXPECT_EQ(engine().TargetMac(), kTarget);
    EXPECT_EQ(engine().TargetCapability(), 1);
    EXPECT_EQ(engine().PendingCommand(), GetParam().command);
}

TEST_P(Transaction, AcceptanceAtTwentyNineSecondsIsConfirmedThreeTimesThenReported) {
    Send(Target());
    rig.clock.Advance(milliseconds(29000));
    Accept();
    EXPECT_THAT(rig.owner.ProcessResults(), ElementsAre(PROTO_OK));
    EXPECT_FALSE(engine().SettingsTimeoutRunning());
    EXPECT_EQ(engine().PendingCommand(), GetParam().confirmation);
    rig.clock.Advance(milliseconds(40000));

    const auto confirms = rig.transport.SentWithCommand(GetParam().confirmation);
    EXPECT_THAT(Times(confirms), ElementsAre(29100, 29200, 29300));
    for (const auto& c : confirms) {
        EXPECT_EQ(c.bytes.size(), 52u);
        EXPECT_TRUE(std::equal(kTarget.begin(), kTarget.end(), c.bytes.begin() + 6));
        EXPECT_EQ(c.bytes[36], 1) << "target capability";
    }
    const auto accepted = rig.owner.Of(WM_SETUP_ACCEPTED);
    ASSERT_EQ(accepted.size(), 1u);
    EXPECT_EQ(accepted[0].wParam, GetParam().confirmation);
    EXPECT_GE(accepted[0].time.count(), 29300) << "reported only once all confirmations are out";
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FAILED), 0u);
    EXPECT_EQ(engine().TargetMac(), MacAddress{});
    EXPECT_EQ(engine().TargetCapability(), 255);
    EXPECT_EQ(engine().PendingCommand(), 0u);
}

TEST_P(Transaction, AcceptanceAfterThirtySecondsIsLateAndTheFailureIsAlreadyPosted) {
    Send(Target());
    rig.clock.Advance(milliseconds(30000));
    ASSERT_EQ(rig.owner.Count(WM_SETUP_FAILED), 1u);
    EXPECT_EQ(rig.owner.Of(WM_SETUP_FAILED)[0].wParam, 1u);
    EXPECT_EQ(rig.owner.Of(WM_SETUP_FAILED)[0].time.count(), 30000);
    rig.clock.Advance(milliseconds(1000));
    Accept();
    EXPECT_THAT(rig.owner.ProcessResults(), ElementsAre(PROTO_LATE_ACCEPTANCE));
    rig.clock.Advance(milliseconds(5000));
    EXPECT_TRUE(rig.transport.SentWithCommand(GetParam().confirmation).empty());
    EXPECT_EQ(rig.owner.Count(WM_SETUP_ACCEPTED), 0u);
}

TEST_P(Transaction, AcceptanceFromAnotherDeviceChangesNothing) {
    Send(Target());
    rig.clock.Advance(milliseconds(500));
    rig.Deliver(AnswerBuilder(GetParam().acceptance, Mac(0x43)));
    EXPECT_THAT(rig.owner.ProcessResults(), ElementsAre(PROTO_FOREIGN_ACCEPTANCE));
    EXPECT_TRUE(engine().SettingsTimeoutRunning());
    EXPECT_EQ(engine().PendingCommand(), GetParam().command);
    rig.clock.Advance(milliseconds(1000));
    EXPECT_TRUE(rig.transport.SentWithCommand(GetParam().confirmation).empty());
    // The real target can still accept.
    Accept();
    rig.clock.Advance(milliseconds(1000));
    EXPECT_EQ(rig.transport.SentWithCommand(GetParam().confirmation).size(), 3u);
}

TEST_P(Transaction, AcceptanceThatOvertakesTheRepeatsIsConfirmedAfterAllRequestsAreOut) {
    Send(Target());
    rig.clock.Advance(milliseconds(50));
    Accept();
    rig.clock.Advance(milliseconds(2000));
    EXPECT_THAT(Times(rig.transport.SentWithCommand(GetParam().command)), ElementsAre(0, 100, 200));
    EXPECT_THAT(Times(rig.transport.SentWithCommand(GetParam().confirmation)),
                ElementsAre(400, 500, 600));
}

TEST_P(Transaction, FailedFirstSendReturnsAtOnceAndTheTimeoutReportsIt) {
    rig.transport.FailNextSend();
    EXPECT_EQ(Send(Target()), PROTO_SETTINGS_SEND_FAILED);
    EXPECT_TRUE(engine().SettingsTimeoutRunning());
    rig.clock.Advance(milliseconds(30000));
    EXPECT_TRUE(rig.transport.Sent().empty()) << "no repetition after a failed send";
    ASSERT_EQ(rig.owner.Count(WM_SETUP_FAILED), 1u);
    EXPECT_EQ(rig.owner.Of(WM_SETUP_FAILED)[0].wParam, 1u);
}

TEST_P(Transaction, FailedRepeatStopsTheRemainingRepeats) {
    Send(Target());
    rig.transport.FailNextSend();
    rig.clock.Advance(milliseconds(1000));
    EXPECT_THAT(Times(rig.transport.Sent()), ElementsAre(0));
    EXPECT_TRUE(engine().SettingsTimeoutRunning());
}

TEST_P(Transaction, FailedConfirmationStillReportsAcceptance) {
    Send(Target());
    rig.clock.Advance(milliseconds(1000));
    Accept();
    rig.transport.FailNextSend();
    rig.clock.Advance(milliseconds(1000));
    EXPECT_TRUE(rig.transport.SentWithCommand(GetParam().confirmation).empty());
    ASSERT_EQ(rig.owner.Count(WM_SETUP_ACCEPTED), 1u);
    EXPECT_EQ(rig.owner.Of(WM_SETUP_ACCEPTED)[0].wParam, GetParam().confirmation);
    EXPECT_EQ(engine().PendingCommand(), 0u);
}

TEST_P(Transaction, SecondTransactionReplacesTheFirstsTimeout) {
    Send(Target());
    rig.clock.Advance(milliseconds(1000));
    Send(Target());
    rig.clock.Advance(milliseconds(60000));
    ASSERT_EQ(rig.owner.Count(WM_SETUP_FAILED), 1u);
    EXPECT_EQ(rig.owner.Of(WM_SETUP_FAILED)[0].time.count(), 31000);
}

INSTANTIATE_TEST_SUITE_P(Engine, Transaction,
                         ::testing::Values(KindCase{"Legacy", DEVICE_KIND_LEGACY, 15, 16, 17},
                                           KindCase{"TwoPort", DEVICE_KIND_TWO_PORT, 15, 16, 17},
                                           KindCase{"Standard", DEVICE_KIND_STANDARD, 2, 3, 4}),
                         ByName());

using Sequence = EngineTest;

TEST_F(Sequence, CurrentDeviceGetsSequencePlusOneThenConfirmationPlusTwo) {
    auto r = Device(kTarget, "192.168.0.42", DEVICE_KIND_STANDARD);
    r.sequence = 7;
    engine().SendSettings(r, CMD_SETUP_V2, MASK_STANDARD);
    EXPECT_EQ(engine().RememberedSequence(), 8);
    rig.clock.Advance(milliseconds(300));
    rig.Deliver(AnswerBuilder(CMD_SETUP_V2_REPLY, kTarget).Sequence(1234));
    rig.clock.Advance(milliseconds(100));
    EXPECT_EQ(engine().RememberedSequence(), 0) << "reset after the first confirmation";
    rig.clock.Advance(milliseconds(1000));

    std::vector<int> requestSeq, confirmSeq;
    for (const auto& d : rig.transport.SentWithCommand(CMD_SETUP_V2)) requestSeq.push_back(d.Sequence());
    for (const auto& d : rig.transport.SentWithCommand(CMD_SETUP_V2_CONFIRM)) {
        confirmSeq.push_back(d.Sequence());
        EXPECT_EQ(d.Mode(), 2);
    }
    EXPECT_THAT(requestSeq, ElementsAre(8, 8, 8));
    EXPECT_THAT(confirmSeq, ElementsAre(9, 9, 9));
}

TEST_F(Sequence, LegacyAndTwoPortConfirmationsCarrySequenceZero) {
    auto r = Device(kTarget, "192.168.0.42", DEVICE_KIND_LEGACY);
    r.sequence = 7;
    engine().SendSettings(r, CMD_SETUP, MASK_LEGACY);
    rig.clock.Advance(milliseconds(300));
    rig.Deliver(AnswerBuilder(CMD_SETUP_REPLY, kTarget));
    rig.clock.Advance(milliseconds(1000));
    std::vector<int> seq;
    for (const auto& d : rig.transport.Sent()) seq.push_back(d.Sequence());
    EXPECT_THAT(seq, Each(0));
    EXPECT_EQ(rig.transport.SentWithCommand(CMD_SETUP_CONFIRM).at(0).Mode(), 0);
}

}  // namespace
}  // namespace valdrune::test
