// The session's own part of a settings change: what it sends on, what it keeps to itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "EngineTest.h"
#include "protocol/Session.h"

namespace valdrune::test {
namespace {

using std::chrono::milliseconds;

const MacAddress kTarget = Mac(0x42);

struct SessionRig {
    EngineRig rig;
    std::unique_ptr<DeviceSession> session;
    std::vector<ChangeResult> results;
    int sends = 0;

    SessionRig() {
        rig.host.Add("192.168.0.10", 2, "eth0", {kPcMac.begin(), kPcMac.end()}, "192.168.0.1");
        session = std::make_unique<DeviceSession>(rig.Env());
        EXPECT_EQ(session->OpenInterface(""), OpenResult::Ok);
        session->Engine().StoreDevice(Device(kTarget, "192.168.0.42"));
    }
    ~SessionRig() { session.reset(); }

    ChangeSteps Steps(std::optional<bool> sendUnproven = std::nullopt) {
        ChangeSteps steps;
        if (sendUnproven) steps.sendUnproven = [v = *sendUnproven](int) { return v; };
        steps.sending = [this] { ++sends; };
        steps.done = [this](ChangeResult r) { results.push_back(r); };
        return steps;
    }
    // A fixed new address, which the session probes before sending.
    ChangeRequest Moved(const char* ip) {
        _CommandDataTable r = Device(kTarget, ip);
        r.ipv4Mode = 3;
        return {r, 0, 0, false, false};
    }
    void Accept() {
        rig.clock.Advance(milliseconds(500));
        rig.Deliver(AnswerBuilder(CMD_SETUP_V2_REPLY, kTarget));
        rig.clock.Advance(milliseconds(1000));
    }
};

TEST(SessionChange, AbandonedChangeReportsNothingWhenTheDeviceAcceptsLater) {
    SessionRig s;
    s.session->StartChange(s.Moved("192.168.0.43"), s.Steps());
    s.rig.clock.Advance(milliseconds(5000));
    ASSERT_EQ(s.sends, 1);
    s.session->AbandonChange(kTarget);
    s.Accept();
    EXPECT_TRUE(s.results.empty());
    EXPECT_FALSE(s.session->ChangeRunning(kTarget));
}

TEST(SessionChange, SecondChangeForTheDeviceReplacesTheFirst) {
    SessionRig s;
    s.session->StartChange(s.Moved("192.168.0.43"), s.Steps());
    s.session->StartChange(s.Moved("192.168.0.44"), s.Steps());
    s.rig.clock.Advance(milliseconds(5000));
    s.Accept();
    EXPECT_EQ(s.sends, 1) << "the first change's probe result is dropped";
    EXPECT_EQ(s.results, std::vector<ChangeResult>{ChangeResult::SentRestarting});
    const auto sent = s.rig.transport.SentWithCommand(CMD_SETUP_V2);
    ASSERT_FALSE(sent.empty());
    const std::vector<std::uint8_t> second = {192, 168, 0, 44};
    EXPECT_NE(std::search(sent[0].bytes.begin(), sent[0].bytes.end(), second.begin(), second.end()),
              sent[0].bytes.end());
}

struct UnprovenCase {
    const char* name;
    std::optional<bool> ownerSends;
    int sends;
    std::vector<ChangeResult> results;
};
void PrintTo(const UnprovenCase& c, std::ostream* os) { *os << c.name; }

class UnprovenAddress : public ::testing::TestWithParam<UnprovenCase> {};

TEST_P(UnprovenAddress, IsSentOnlyWhenTheOwnerSaysSo) {
    SessionRig s;
    s.rig.prober.SetPermitted(false);
    s.session->StartChange(s.Moved("192.168.0.43"), s.Steps(GetParam().ownerSends));
    s.rig.clock.Advance(milliseconds(5000));
    EXPECT_EQ(s.sends, GetParam().sends);
    EXPECT_EQ(s.rig.transport.SentWithCommand(CMD_SETUP_V2).size(),
              GetParam().sends == 0 ? 0u : 3u);
    if (GetParam().sends != 0) s.Accept();
    EXPECT_EQ(s.results, GetParam().results);
}

INSTANTIATE_TEST_SUITE_P(
    Owner, UnprovenAddress,
    ::testing::Values(UnprovenCase{"NotAsked", std::nullopt, 0, {ChangeResult::NotProbed}},
                      UnprovenCase{"Declines", false, 0, {ChangeResult::NotProbed}},
                      UnprovenCase{"Agrees", true, 1, {ChangeResult::SentRestarting}}),
    ByName{});

}  // namespace
}  // namespace valdrune::test
