// Concurrent transactions: interleavings on one virtual clock, the shared return poll, the
// limit and the queue.
#include <gmock/gmock.h>

#include "EngineTest.h"

namespace valdrune::test {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using S = TransactionState;

const MacAddress kA = Mac(0x61);
const MacAddress kB = Mac(0x62);
const MacAddress kC = Mac(0x63);

class Transactions : public EngineTest {
  protected:
    TransactionRequest Request(const MacAddress& mac, const char* newIp,
                               ReturnCheck check = ReturnCheck::Restart) {
        TransactionRequest r;
        r.settings = Device(mac, newIp);
        r.settings.sequence = mac[5];
        r.settings.ipv4Mode = 3;  // static
        CProtocol::CommandForKind(r.settings.kind, r.command, r.mask);
        r.probeFirst = false;
        r.afterAcceptance = check;
        if (check == ReturnCheck::Search) r.expectedAddress = Ip(newIp);
        return r;
    }
    void Accept(const MacAddress& mac) { rig.Deliver(AnswerBuilder(CMD_SETUP_V2_REPLY, mac)); }
    void Answer(const MacAddress& mac, const char* ip) { rig.Deliver(SearchAnswer(mac, ip)); }
    std::vector<SentDatagram> ConfirmationsTo(const MacAddress& mac) const {
        std::vector<SentDatagram> out;
        for (const auto& d : rig.transport.SentWithCommand(CMD_SETUP_V2_CONFIRM))
            if (std::equal(mac.begin(), mac.end(), d.bytes.begin() + 6)) out.push_back(d);
        return out;
    }
    TransactionFailure FailureOf(const MacAddress& mac) const {
        const auto* f = rig.owner.FinalOf(mac);
        return f ? f->event.failure : TransactionFailure::None;
    }
};

TEST_F(Transactions, CrossingAcceptancesAreEachConfirmedWithTheirOwnDeviceAndSequence) {
    ASSERT_TRUE(engine().StartTransaction(Request(kA, "192.168.0.71")));
    ASSERT_TRUE(engine().StartTransaction(Request(kB, "192.168.0.72")));
    EXPECT_FALSE(engine().StartTransaction(Request(kA, "192.168.0.73"))) << "one per device";
    rig.clock.Advance(milliseconds(1000));
    EXPECT_EQ(rig.transport.SentWithCommand(CMD_SETUP_V2).size(), 6u);

    Accept(kB);
    rig.clock.Advance(milliseconds(50));
    Accept(kA);
    Accept(kA);  // a repeated acceptance is late, not a second confirmation
    EXPECT_THAT(rig.owner.ProcessResults(), ElementsAre(PROTO_OK, PROTO_OK, PROTO_LATE_ACCEPTANCE));
    rig.clock.Advance(milliseconds(1000));

    const auto a = ConfirmationsTo(kA), b = ConfirmationsTo(kB);
    EXPECT_THAT(Times(b), ElementsAre(1100, 1200, 1300));
    EXPECT_THAT(Times(a), ElementsAre(1150, 1250, 1350));
    EXPECT_EQ(a[0].Sequence(), kA[5] + 2) << "request sequence + 1, then + 1 again";
    EXPECT_EQ(b[0].Sequence(), kB[5] + 2);
    EXPECT_THAT(rig.owner.StatesOf(kA),
                ElementsAre(S::Waiting, S::Sent, S::Accepted, S::Restarting));

    rig.clock.Advance(milliseconds(30000));
    Answer(kB, "192.168.0.72");
    rig.clock.RunPosted();
    EXPECT_EQ(engine().TransactionStateOf(kB), std::nullopt);
    ASSERT_NE(rig.owner.FinalOf(kB), nullptr);
    EXPECT_EQ(rig.owner.FinalOf(kB)->event.state, S::Done);
    EXPECT_TRUE(rig.owner.FinalOf(kB)->event.returnSeen);
    EXPECT_EQ(engine().TransactionStateOf(kA), S::Restarting) << "the other still waits";
}

TEST_F(Transactions, OneTimesOutWhileAnotherRestartsAndComesBack) {
    engine().StartTransaction(Request(kA, "192.168.0.71"));
    engine().StartTransaction(Request(kB, "192.168.0.72"));
    rig.clock.Advance(milliseconds(500));
    Accept(kA);
    rig.clock.Advance(milliseconds(29600));  // 30.1 s: B's time-out has passed

    EXPECT_EQ(FailureOf(kB), TransactionFailure::NoAcceptance);
    EXPECT_EQ(rig.owner.FinalOf(kB)->time.count(), 30000);
    EXPECT_EQ(engine().TransactionStateOf(kA), S::Restarting);
    Accept(kB);
    EXPECT_EQ(rig.owner.ProcessResults().back(), PROTO_FOREIGN_ACCEPTANCE)
        << "an ended transaction accepts nothing";

    rig.clock.Advance(milliseconds(20000));
    Answer(kA, "192.168.0.71");
    rig.clock.RunPosted();
    EXPECT_EQ(rig.owner.FinalOf(kA)->event.state, S::Done);
    EXPECT_EQ(engine().TransactionsRunning(), 0);
    EXPECT_FALSE(engine().ReturnPollRunning());
}

TEST_F(Transactions, OnePollSearchesForEveryRestartingDeviceAndEachHasItsOwnDeadline) {
    engine().StartTransaction(Request(kA, "192.168.0.71"));
    engine().StartTransaction(Request(kB, "192.168.0.72"));
    Accept(kA);  // confirmed after the third request: restarting from 600 ms
    rig.clock.Advance(milliseconds(10000));
    Accept(kB);  // restarting from 10.3 s
    rig.transport.ClearSent();
    rig.clock.Advance(milliseconds(200000));

    const auto searches = rig.transport.SentWithCommand(CMD_SEARCH);
    ASSERT_FALSE(searches.empty());
    EXPECT_EQ(searches.front().time.count(), 30600) << "quiet for A's first 30 s";
    for (std::size_t i = 1; i < searches.size(); ++i)
        EXPECT_EQ(searches[i].time - searches[i - 1].time, milliseconds(2000)) << "one poll";
    EXPECT_LT(searches.back().time.count(), 130300);
    EXPECT_GT(searches.back().time.count(), 126000) << "B is still looked for after A's end";

    EXPECT_EQ(FailureOf(kA), TransactionFailure::NotSeenAfterRestart);
    EXPECT_EQ(FailureOf(kB), TransactionFailure::NotSeenAfterRestart);
    EXPECT_EQ(rig.owner.FinalOf(kA)->time.count(), 120600);
    EXPECT_EQ(rig.owner.FinalOf(kB)->time.count(), 130300);
    EXPECT_FALSE(engine().ReturnPollRunning());
}

TEST_F(Transactions, AnAnswerBeforeTheDeviceWentDownDoesNotCountAsItsReturn) {
    engine().StartTransaction(Request(kA, "192.168.0.71"));
    Accept(kA);
    rig.clock.Advance(milliseconds(40000));  // the poll searches for A
    engine().StartTransaction(Request(kB, "192.168.0.72"));
    Accept(kB);
    rig.clock.Advance(milliseconds(2000));
    Answer(kB, "192.168.0.62");  // still up, answering the poll meant for A
    rig.clock.Advance(milliseconds(0));
    EXPECT_EQ(engine().TransactionStateOf(kB), S::Restarting);
    rig.clock.Advance(milliseconds(30000));
    Answer(kB, "192.168.0.72");
    rig.clock.RunPosted();
    EXPECT_EQ(rig.owner.FinalOf(kB)->event.state, S::Done);
}

TEST_F(Transactions, SearchReturnNeedsTheNewAddressAndStartsAtOnce) {
    engine().StartTransaction(Request(kA, "192.168.0.71", ReturnCheck::Search));
    Accept(kA);
    rig.clock.Advance(milliseconds(1000));
    ASSERT_EQ(rig.transport.SentWithCommand(CMD_SEARCH).size(), 1u);

    Answer(kA, "192.168.0.61");  // an answer from before the change
    rig.clock.Advance(milliseconds(2000));
    EXPECT_EQ(engine().TransactionStateOf(kA), S::Restarting);
    Answer(kA, "192.168.0.71");
    rig.clock.RunPosted();
    EXPECT_EQ(rig.owner.FinalOf(kA)->event.state, S::Done);
}

TEST_F(Transactions, TheLimitQueuesTheRestAndCancelTakesOutOnlyQueuedOnes) {
    engine().SetTransactionLimit(1);
    for (const auto& mac : {kA, kB, kC})
        engine().StartTransaction(Request(mac, "192.168.0.70", ReturnCheck::None));
    rig.clock.RunPosted();
    EXPECT_EQ(engine().TransactionsRunning(), 1);
    EXPECT_EQ(engine().TransactionsWaiting(), 2);
    EXPECT_EQ(rig.transport.SentWithCommand(CMD_SETUP_V2).size(), 1u);

    Accept(kA);
    rig.clock.Advance(milliseconds(1000));
    EXPECT_EQ(rig.owner.FinalOf(kA)->event.state, S::Done);
    EXPECT_FALSE(rig.owner.FinalOf(kA)->event.returnSeen);
    EXPECT_EQ(engine().TransactionStateOf(kB), S::Sent) << "the next starts when one ends";

    EXPECT_EQ(engine().CancelWaitingTransactions(), 1);
    EXPECT_FALSE(engine().CancelWaitingTransaction(kB)) << "already sent";
    rig.clock.RunPosted();
    EXPECT_THAT(rig.owner.StatesOf(kC), ElementsAre(S::Waiting, S::Cancelled));
    EXPECT_EQ(engine().TransactionStateOf(kB), S::Sent);
}

// One device talked to at a time: without a larger away bound each waits for the one before it
// to come back; with one, a device that went away leaves its place to the next.
TEST_F(Transactions, AnAwayBoundLetsRestartsOverlapUpToItsCount) {
    const auto run = [this](int away) {
        rig.transport.ClearSent();
        engine().SetTransactionLimit(1);
        engine().SetAwayLimit(away);
        for (const auto& mac : {kA, kB, kC}) {
            engine().StartTransaction(Request(mac, "192.168.0.70"));
            rig.clock.RunPosted();
            Accept(mac);
            rig.clock.Advance(milliseconds(1000));
        }
        std::vector<S> states;
        for (const auto& mac : {kA, kB, kC})
            states.push_back(engine().TransactionStateOf(mac).value_or(S::Done));
        engine().CancelWaitingTransactions();
        for (const auto& mac : {kA, kB, kC}) Answer(mac, "192.168.0.70");
        rig.clock.Advance(milliseconds(31000));
        for (const auto& mac : {kA, kB, kC}) Answer(mac, "192.168.0.70");
        rig.clock.RunPosted();
        return states;
    };
    EXPECT_THAT(run(0), ElementsAre(S::Restarting, S::Waiting, S::Waiting));
    EXPECT_THAT(run(2), ElementsAre(S::Restarting, S::Restarting, S::Waiting));
    EXPECT_EQ(engine().TransactionsRunning(), 0);
}

TEST_F(Transactions, DestroyingTheEngineLeavesNoTimerOfAnyPhaseBehind) {
    engine().SetTransactionLimit(3);
    for (const auto& mac : {kA, kB, kC, Mac(0x64)})
        engine().StartTransaction(Request(mac, "192.168.0.70"));
    Accept(kA);
    rig.clock.Advance(milliseconds(1000));  // A restarting, B and C awaiting acceptance
    Accept(kB);                             // B's confirmation pending
    rig.engine.reset();
    EXPECT_EQ(rig.clock.LiveTimers(), 0u);
    const auto sent = rig.transport.Sent().size();
    rig.clock.Advance(milliseconds(200000));
    EXPECT_EQ(rig.transport.Sent().size(), sent);
}

struct ProbeCase {
    const char* name;
    int echo;  // what the new address answers
    bool permitted;
    TransactionFailure failure;
};

class TransactionProbe : public Transactions, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(TransactionProbe, RunsBeforeSendingAndSendsNothingWhenItFails) {
    rig.prober.SetDefault(GetParam().echo);
    rig.prober.SetPermitted(GetParam().permitted);
    auto r = Request(kA, "192.168.0.71");
    r.probeFirst = true;
    engine().StartTransaction(r);
    EXPECT_TRUE(rig.transport.SentWithCommand(CMD_SETUP_V2).empty()) << "not before the probe";
    rig.clock.Advance(milliseconds(10000));
    const bool sent = !rig.transport.SentWithCommand(CMD_SETUP_V2).empty();
    EXPECT_EQ(sent, GetParam().failure == TransactionFailure::None);
    EXPECT_EQ(FailureOf(kA), GetParam().failure);
}

INSTANTIATE_TEST_SUITE_P(Transactions, TransactionProbe,
                         ::testing::Values(ProbeCase{"FreeAddress", ECHO_TIMED_OUT, true,
                                                     TransactionFailure::None},
                                           ProbeCase{"AddressInUse", ECHO_ANSWERED, true,
                                                     TransactionFailure::AddressInUse},
                                           ProbeCase{"NoPermission", ECHO_TIMED_OUT, false,
                                                     TransactionFailure::CannotProbe}),
                         ByName{});

}  // namespace
}  // namespace valdrune::test
