// From the socket's read to the device table: the receive path and ProcessDatagram's checks.
#include <gmock/gmock.h>

#include "EngineTest.h"

namespace valdrune::test {
namespace {

using ::testing::ElementsAre;

using Answers = EngineTest;

TEST_F(Answers, ReadDatagramIsDecodedAndReportedBeforeTheReadReturns) {
    const auto bytes = SearchAnswer(Mac(0x20), "192.168.0.20").Build();
    ASSERT_TRUE(rig.transport.Deliver(bytes));

    const auto& m = rig.owner.Messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].message, EV_DEVICE_FOUND);
    EXPECT_EQ(m[1].message, EV_DATAGRAM);
    EXPECT_EQ(m[1].wParam, bytes.size());
    EXPECT_THAT(rig.owner.ProcessResults(), ElementsAre(PROTO_OK));
    ASSERT_EQ(rig.owner.Found().size(), 1u);
    EXPECT_EQ(rig.owner.Found()[0].primary.ipAddress, Ip("192.168.0.20"));
    EXPECT_TRUE(engine().FindDevice("02-00-00-00-00-20").has_value());
}

TEST_F(Answers, WithoutListenerDatagramsAreReadAndDropped) {
    engine().SetListener(nullptr);
    rig.Deliver(SearchAnswer(Mac(0x20), "192.168.0.20"));
    EXPECT_TRUE(rig.owner.Messages().empty());
    EXPECT_TRUE(engine().Devices().Empty());
}

TEST_F(Answers, DatagramLongerThanTheBufferIsCutToAThousandBytesAndRejected) {
    AnswerBuilder big(14, Mac(0x21));
    big.Ipv4(32, "192.168.0.21").Item(300, std::vector<std::uint8_t>(1100, 0x41));
    const auto bytes = big.Build();
    ASSERT_GT(bytes.size(), 1000u);
    rig.transport.Deliver(bytes);
    ASSERT_EQ(rig.owner.Of(EV_DATAGRAM).size(), 1u);
    EXPECT_EQ(rig.owner.Of(EV_DATAGRAM)[0].wParam, 1000u);
    EXPECT_THAT(rig.owner.ProcessResults(), ElementsAre(PROTO_INVALID_DATAGRAM));
    EXPECT_TRUE(engine().Devices().Empty());
}

struct Rejection {
    const char* name;
    AnswerBuilder answer;
};
void PrintTo(const Rejection& c, std::ostream* os) { *os << c.name; }

class AnswerRejection : public EngineTest, public ::testing::WithParamInterface<Rejection> {};

TEST_P(AnswerRejection, InvalidAnswerGivesMinusSixteenAndChangesNothing) {
    engine().StartRestartWait(Mac(0x30));
    rig.Deliver(GetParam().answer);
    EXPECT_THAT(rig.owner.ProcessResults(), ElementsAre(PROTO_INVALID_DATAGRAM));
    EXPECT_TRUE(engine().Devices().Empty());
    EXPECT_EQ(rig.owner.Count(EV_DEVICE_FOUND), 0u);
    EXPECT_TRUE(engine().RestartWaitRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Engine, AnswerRejection,
    ::testing::Values(
        Rejection{"ChecksumOffByOne", SearchAnswer(Mac(0x30), "10.0.0.3").ChecksumDelta(1)},
        Rejection{"ForeignRequester",
                  SearchAnswer(Mac(0x30), "10.0.0.3").Requester(Mac(0x77), Ip("192.168.0.99"))},
        Rejection{"LengthAboveLimit", SearchAnswer(Mac(0x30), "10.0.0.3").LengthField(1471)},
        Rejection{"BadMagic", SearchAnswer(Mac(0x30), "10.0.0.3").BadMagic()},
        Rejection{"AcceptanceWithBadChecksum", AnswerBuilder(16, Mac(0x30)).ChecksumDelta(-1)}),
    ByName());

TEST_F(Answers, AnswerForThisPcIsAcceptedAndSoIsOneWithoutRequesterAddress) {
    rig.Deliver(SearchAnswer(Mac(0x31), "10.0.0.31").Requester(kPcMac, Ip("192.168.0.10")));
    rig.Deliver(SearchAnswer(Mac(0x32), "10.0.0.32").Requester(Mac(0x77), 0));
    EXPECT_THAT(rig.owner.ProcessResults(), ElementsAre(PROTO_OK, PROTO_OK));
    EXPECT_EQ(engine().Devices().Size(), 2u);
}

TEST_F(Answers, DeviceInformationIsStoredLikeASearchAnswer) {
    rig.Deliver(AnswerBuilder(1, Mac(0x33)).U8(0, 0).Ipv4(32, "10.0.0.33"));
    EXPECT_THAT(rig.owner.ProcessResults(), ElementsAre(PROTO_OK));
    EXPECT_TRUE(engine().FindDevice("02-00-00-00-00-33").has_value());
}

TEST_F(Answers, OtherCommandsAreIgnored) {
    rig.Deliver(AnswerBuilder(13, Mac(0x34)).Ipv4(32, "10.0.0.34"));
    rig.Deliver(AnswerBuilder(99, Mac(0x34)).Ipv4(32, "10.0.0.34"));
    EXPECT_THAT(rig.owner.ProcessResults(), ElementsAre(PROTO_OK, PROTO_OK));
    EXPECT_TRUE(engine().Devices().Empty());
    EXPECT_EQ(rig.owner.Count(EV_DEVICE_FOUND), 0u);
}

TEST_F(Answers, AnswersAfterTheCycleAreStillProcessed) {
    engine().StartSearch();
    rig.clock.Advance(std::chrono::milliseconds(60000));
    rig.Deliver(SearchAnswer(Mac(0x35), "10.0.0.35"));
    EXPECT_EQ(engine().Devices().Size(), 1u);
}

}  // namespace
}  // namespace valdrune::test
