// The simulated devices' behaviour over a whole exchange, on a virtual clock.
#include <gtest/gtest.h>

#include "protocol/Datagram.h"
#include "protocol/Decoder.h"
#include "sim/DevicePeer.h"
#include "sim/Scenario.h"
#include "tests/support/VirtualScheduler.h"

namespace valdrune::sim {
namespace {

using namespace std::chrono_literals;

const Requester kPc{{0x02, 0x76, 0x05, 0x00, 0x00, 0x01}, 0x0A4D0501};

struct Sent {
    std::vector<std::uint8_t> bytes;
    std::uint32_t source;
    std::uint32_t to;
    Milliseconds at;
    std::uint16_t Command() const { return static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]); }
    MacAddress Mac() const {
        MacAddress m{};
        std::copy_n(bytes.begin() + 6, 6, m.begin());
        return m;
    }
    std::uint32_t Address() const {
        auto h = ValidateAnswer(bytes, kPc.mac);
        if (!h) return 0xFFFFFFFF;
        return DecodeDeviceAnswer(bytes, h->payloadLength,
                                  {h->deviceMac, h->protocolMode, h->capability, h->sequence})
            .address;
    }
};

class FakeLink : public IPeerLink {
public:
    explicit FakeLink(test::VirtualScheduler& clock) : clock_(clock) {}
    void Send(const std::vector<std::uint8_t>& d, std::uint32_t source, std::uint32_t to) override {
        sent.push_back({d, source, to, clock_.Now()});
    }
    void AddAddress(std::uint32_t a) override { held.insert(a), events.push_back("+" + Ipv4Text(a)); }
    void RemoveAddress(std::uint32_t a) override { held.erase(a), events.push_back("-" + Ipv4Text(a)); }
    void Log(const std::string&) override {}
    std::vector<Sent> sent;
    std::set<std::uint32_t> held;
    std::vector<std::string> events;

private:
    test::VirtualScheduler& clock_;
};

ScenarioOptions Net() {
    ScenarioOptions o;
    o.network = 0x0A4D0500;
    return o;
}

class PeerTest : public ::testing::Test {
protected:
    void Make(std::vector<DeviceSpec> devices, int scale = 1) {
        peer = std::make_unique<CDevicePeer>(std::move(devices), clock, link, scale, true);
        peer->Start();
    }
    void Search() { peer->OnDatagram(BuildSearchRequest(2, kPc), kPc.ipAddress); }
    // A settings request for device i with a new address, as the PC builds it for its kind.
    std::vector<std::uint8_t> Settings(std::size_t i, std::uint32_t newAddress,
                                       std::uint16_t* sequence = nullptr) {
        const DeviceSpec& d = peer->Device(i);
        _CommandDataTable r = d.record;
        r.primary.ipAddress = newAddress;
        r.hasIpv6Mode = 1;
        const std::uint16_t mask = d.kind == Kind::Standard ? MASK_STANDARD
                                   : d.kind == Kind::Legacy ? MASK_LEGACY
                                                            : MASK_TWO_PORT;
        return BuildSettingsRequest(r, d.SettingsCommand(), mask, kPc, sequence);
    }
    void Send(const std::vector<std::uint8_t>& d) { peer->OnDatagram(d, kPc.ipAddress); }
    void Confirm(std::size_t i, std::uint16_t writtenSequence) {
        const DeviceSpec& d = peer->Device(i);
        Send(BuildConfirmation(d.ConfirmCommand(), d.record.primary.mac, d.record.capabilityFlag,
                               writtenSequence, kPc));
    }
    std::vector<Sent> SentWith(std::uint16_t command) const {
        std::vector<Sent> out;
        for (const auto& s : link.sent)
            if (s.Command() == command) out.push_back(s);
        return out;
    }

    test::VirtualScheduler clock;
    FakeLink link{clock};
    std::unique_ptr<CDevicePeer> peer;
};

TEST_F(PeerTest, EveryDeviceAnswersASearchFromItsOwnAddress) {
    Make(*BuiltInScenario("kinds", Net()));
    EXPECT_EQ(link.held.size(), 3u);
    Search();
    ASSERT_EQ(link.sent.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(link.sent[i].Command(), CMD_SEARCH_REPLY);
        EXPECT_EQ(link.sent[i].Mac(), peer->Device(i).record.primary.mac);
        EXPECT_EQ(link.sent[i].source, peer->Device(i).record.primary.ipAddress);
        EXPECT_EQ(link.sent[i].to, 0u) << "answers are broadcast by default";
    }
}

TEST_F(PeerTest, UnicastDeviceAnswersTheRequesterAndDelayedOneWaits) {
    auto devices = *BuiltInScenario("kinds", Net());
    devices[0].behaviour.unicast = true;
    devices[1].behaviour.answerDelayMs = 400;
    Make(devices, 2);
    Search();
    ASSERT_EQ(link.sent.size(), 2u);
    EXPECT_EQ(link.sent[0].to, kPc.ipAddress);
    clock.Advance(199ms);
    EXPECT_EQ(link.sent.size(), 2u);
    clock.Advance(1ms);
    ASSERT_EQ(link.sent.size(), 3u);
    EXPECT_EQ(link.sent[2].Mac(), peer->Device(1).record.primary.mac);
}

TEST_F(PeerTest, MalformedRequestsAreDroppedWithoutAnswer) {
    Make(*BuiltInScenario("kinds", Net()));
    auto bad = BuildSearchRequest(2, kPc);
    bad.back() ^= 1;
    Send(bad);
    Send(std::vector<std::uint8_t>(10, 0));
    Send({});
    EXPECT_TRUE(link.sent.empty());
    EXPECT_EQ(peer->Dropped(), 3u);
}

class PeerKindTest : public PeerTest, public ::testing::WithParamInterface<std::size_t> {};

// Request (three times), acceptance once, confirmation (three times) applied once, silence
// during the restart, then answers with the new address, which has moved on the link.
TEST_P(PeerKindTest, SettingsTransactionMovesTheAddressAfterTheRestart) {
    auto devices = *BuiltInScenario("kinds", Net());
    for (auto& d : devices) d.behaviour.restartMs = 20000;
    Make(devices, 4);
    const std::size_t i = GetParam();
    const std::uint32_t oldAddress = peer->Device(i).record.primary.ipAddress;
    const std::uint32_t newAddress = 0x0A4D0563;
    std::uint16_t seq = 0;
    const auto request = Settings(i, newAddress, &seq);
    for (int k = 0; k < 3; ++k) Send(request);

    const std::uint16_t accept = peer->Device(i).SettingsCommand() == CMD_SETUP_V2
                                     ? CMD_SETUP_V2_REPLY
                                     : CMD_SETUP_REPLY;
    auto acceptances = SentWith(accept);
    ASSERT_EQ(acceptances.size(), 1u);
    EXPECT_EQ(acceptances[0].Mac(), peer->Device(i).record.primary.mac);
    EXPECT_TRUE(ValidateAnswer(acceptances[0].bytes, kPc.mac));
    const std::uint16_t acceptSeq =
        static_cast<std::uint16_t>((acceptances[0].bytes[22] << 8) | acceptances[0].bytes[23]);
    EXPECT_EQ(acceptSeq, seq);

    for (int k = 0; k < 3; ++k) Confirm(i, seq);
    EXPECT_EQ(peer->StateOf(i), CDevicePeer::State::Restarting);
    EXPECT_FALSE(link.held.count(oldAddress));
    EXPECT_FALSE(link.held.count(newAddress));

    link.sent.clear();
    clock.Advance(4999ms);  // 20 s at a quarter of the time
    Search();
    EXPECT_EQ(link.sent.size(), 2u) << "the restarting device is silent";
    clock.Advance(1ms);
    EXPECT_EQ(peer->StateOf(i), CDevicePeer::State::Running);
    EXPECT_TRUE(link.held.count(newAddress));

    link.sent.clear();
    Search();
    ASSERT_EQ(link.sent.size(), 3u);
    EXPECT_EQ(link.sent[i].Address(), newAddress);
    EXPECT_EQ(link.sent[i].source, newAddress);
}

std::string KindCaseName(const ::testing::TestParamInfo<std::size_t>& p) {
    static const char* const kNames[] = {"Standard", "Legacy", "TwoPort"};
    return kNames[p.param];
}

INSTANTIATE_TEST_SUITE_P(Sim, PeerKindTest, ::testing::Values(0, 1, 2), KindCaseName);

TEST_F(PeerTest, SettingsForAnotherMacOrTheWrongCommandAreNotAccepted) {
    Make(*BuiltInScenario("kinds", Net()));
    auto request = Settings(0, 0x0A4D0563);
    request[11] ^= 0x55;  // another MAC; fix the checksum
    const std::size_t at = request.size() - 2;
    const std::uint16_t sum = Checksum(std::span(request).first(at));
    request[at] = static_cast<std::uint8_t>(sum >> 8);
    request[at + 1] = static_cast<std::uint8_t>(sum);
    Send(request);
    // Command 15 to the current device, command 2 to the legacy one.
    _CommandDataTable r = peer->Device(0).record;
    Send(BuildSettingsRequest(r, CMD_SETUP, MASK_TWO_PORT, kPc));
    r = peer->Device(1).record;
    Send(BuildSettingsRequest(r, CMD_SETUP_V2, MASK_STANDARD, kPc));
    EXPECT_TRUE(link.sent.empty());
}

TEST_F(PeerTest, RestartLockedAndNeverAcceptingDevicesStaySilent) {
    auto devices = *BuiltInScenario("kinds", Net());
    devices[0].record.statusBits = 1;
    devices[1].behaviour.neverAccepts = true;
    Make(devices);
    Send(Settings(0, 0x0A4D0563));
    Send(Settings(1, 0x0A4D0564));
    clock.Advance(60s);
    EXPECT_TRUE(link.sent.empty());
}

TEST_F(PeerTest, AcceptanceDelayIsDividedByTheTimeScale) {
    auto devices = *BuiltInScenario("kinds", Net());
    devices[0].behaviour.acceptDelayMs = 31000;
    Make(devices, 10);
    Send(Settings(0, 0x0A4D0563));
    clock.Advance(3099ms);
    EXPECT_TRUE(link.sent.empty());
    clock.Advance(1ms);
    ASSERT_EQ(link.sent.size(), 1u);
    EXPECT_EQ(link.sent[0].Command(), CMD_SETUP_V2_REPLY);
    EXPECT_EQ(link.sent[0].at, 3100ms);
}

TEST_F(PeerTest, ConfirmationWithWrongSequenceOrBeforeAcceptanceChangesNothing) {
    auto devices = *BuiltInScenario("kinds", Net());
    devices[0].behaviour.acceptDelayMs = 1000;
    Make(devices);
    std::uint16_t seq = 0;
    Send(Settings(0, 0x0A4D0563, &seq));
    Confirm(0, seq);  // not accepted yet
    EXPECT_EQ(peer->StateOf(0), CDevicePeer::State::Running);
    clock.Advance(1s);
    Confirm(0, static_cast<std::uint16_t>(seq + 1));  // sequence + 2 on the wire
    EXPECT_EQ(peer->StateOf(0), CDevicePeer::State::Running);
    Confirm(0, seq);
    EXPECT_EQ(peer->StateOf(0), CDevicePeer::State::Restarting);
}

TEST_F(PeerTest, NeverReturningDeviceStaysSilentAndZeroDeviceReportsNoAddress) {
    auto devices = *BuiltInScenario("kinds", Net());
    devices[0].behaviour.neverReturns = true;
    devices[2].behaviour.zeroAfterRestart = true;
    devices[2].behaviour.restartMs = 1000;
    Make(devices);
    std::uint16_t seq = 0;
    Send(Settings(0, 0x0A4D0563, &seq));
    Confirm(0, seq);
    Send(Settings(2, 0x0A4D0565, &seq));
    Confirm(2, seq);
    clock.Advance(10min);
    EXPECT_EQ(peer->StateOf(0), CDevicePeer::State::Gone);
    link.sent.clear();
    Search();
    ASSERT_EQ(link.sent.size(), 2u);
    EXPECT_EQ(link.sent[1].Mac(), peer->Device(2).record.primary.mac);
    EXPECT_EQ(link.sent[1].Address(), 0u);
    EXPECT_FALSE(link.held.count(0x0A4D0565));
}

TEST_F(PeerTest, SharedAddressStaysUntilItsLastHolderLeaves) {
    auto devices = *BuiltInScenario("kinds", Net());
    devices[1].record.primary.ipAddress = devices[0].record.primary.ipAddress;
    const std::uint32_t shared = devices[0].record.primary.ipAddress;
    Make(devices);
    EXPECT_EQ(std::count(link.events.begin(), link.events.end(), "+" + Ipv4Text(shared)), 1);
    std::uint16_t seq = 0;
    Send(Settings(0, 0x0A4D0563, &seq));
    Confirm(0, seq);
    EXPECT_TRUE(link.held.count(shared)) << "the other device still holds it";
    peer->Stop();
    EXPECT_TRUE(link.held.empty());
}

TEST_F(PeerTest, NoTimerRunsAfterThePeerIsGone) {
    auto devices = *BuiltInScenario("kinds", Net());
    devices[0].behaviour.acceptDelayMs = 500;
    Make(devices);
    Send(Settings(0, 0x0A4D0563));
    peer.reset();
    EXPECT_EQ(clock.LiveTimers(), 0u);
    clock.Advance(1s);
    EXPECT_TRUE(link.sent.empty());
}

}  // namespace
}  // namespace valdrune::sim
