// The engine on the production services (real sockets, ICMP, Qt timers) against valdrune-sim
// in a devices namespace: settings transactions of every kind, their failures, and address
// checks. VALDRUNE_TIME_SCALE shortens both sides' timers so the 30 s and 120 s waits take
// seconds; the simulator's log shows what reached the devices, byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "protocol/Messages.h"
#include "tests/e2e/lib/NetNs.h"
#include "tests/support/CaseNames.h"
#include "tests/unit/platform/QtTestApp.h"

namespace valdrune {
namespace {

using e2e::NetNs;
using Outcome = std::pair<std::uint32_t, std::uintptr_t>;  // posted message, wParam

constexpr int kSimScale = 20;

// Hosts of the devices namespace's subnet; MACs follow the simulator's numbering by position.
constexpr const char* kDevices = R"([
  {"kind": "standard", "ip": ".21"},
  {"kind": "legacy",   "ip": ".22"},
  {"kind": "two-port", "ip": ".23"},
  {"kind": "standard", "ip": ".24", "label": "late", "acceptDelayMs": 45000},
  {"kind": "standard", "ip": ".25", "label": "gone", "neverReturns": true},
  {"kind": "standard", "ip": ".26", "label": "bystander"}
])";
constexpr const char* kLateMac = "02-00-00-30-00-04";
constexpr const char* kGoneMac = "02-00-00-30-00-05";
constexpr int kBystanderHost = 26;

class Owner final : public IProtocolEvents {
  public:
    CProtocol* protocol = nullptr;
    std::vector<Outcome> outcomes;
    std::vector<std::pair<int, int>> processed;  // command of each datagram, its result

    void OnDatagramHandled(std::size_t size, int result) override {
        const std::uint8_t* b = protocol->ReceiveBuffer();
        const int command = size >= 6 ? (b[4] << 8 | b[5]) : -1;
        processed.emplace_back(command, result);
    }
    // Settings events as the window's messages and parameters.
    void OnSettingsAccepted(std::uint16_t confirmation) override {
        outcomes.emplace_back(WM_SETUP_ACCEPTED, confirmation);
    }
    void OnSettingsFailed(SetupFailure reason) override {
        outcomes.emplace_back(WM_SETUP_FAILED, static_cast<std::uintptr_t>(reason));
    }
    void OnRestartSeen() override { outcomes.emplace_back(WM_SETUP_FINISHED, 0); }
    int Processed(int command) const {
        int n = 0;
        for (const auto& [c, result] : processed) n += c == command;
        return n;
    }
};

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

// What the simulator logged about one device, in order: "rx <command> <hex>" for every
// datagram addressed to it, "accepted" for every acceptance it sent.
std::vector<std::string> SimEvents(const std::string& log, const std::string& mac) {
    std::vector<std::string> events;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        const auto rx = line.find(" rx command ");
        if (rx != std::string::npos && line.find(" for " + mac + " ") != std::string::npos) {
            std::string hex;
            std::getline(in, hex);
            hex.erase(0, hex.find_first_not_of(' '));
            events.push_back("rx " + std::to_string(std::atoi(line.c_str() + rx + 12)) + " " + hex);
        } else if (line.find(" tx acceptance ") != std::string::npos &&
                   line.find(mac) != std::string::npos) {
            events.emplace_back("accepted");
        }
    }
    return events;
}

std::vector<std::string> WithPrefix(const std::vector<std::string>& events,
                                    const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
}

using e2e::Address;

class EngineE2e : public e2e::PcNamespaceTest<> {
  protected:
    EngineE2e() : PcNamespaceTest("eng") { test::App(); }
    void SetUpInPc() override {
        sim_ = &net_.StartSimOn(kDevices, {"-v"}, 0, kSimScale);
        ASSERT_TRUE(sim_->Running());
    }
    void TearDown() override {
        if (protocol_) protocol_->SetListener(nullptr);
        protocol_.reset();
        services_.reset();
        PcNamespaceTest::TearDown();
    }

    // The production services at this time scale, the engine on the pc0 adapter.
    void Start(int scale) {
        services_ = CreatePlatformServices(scale, VALDRUNE_NETPROBE_BINARY);
        ASSERT_EQ(services_->scheduler.Scale(), scale);
        protocol_ = std::make_unique<CProtocol>(services_->Environment());
        owner_.protocol = protocol_.get();
        protocol_->SetListener(&owner_);
        ASSERT_GE(protocol_->EnumerateInterfaces(MacAddress{}), 2);
        int position = -1;
        for (int i = 0; i < protocol_->InterfaceCount(); ++i)
            if (protocol_->InterfaceDisplayText(i).rfind(net_.PcIp() + " / ", 0) == 0) position = i;
        ASSERT_TRUE(protocol_->SelectInterface(position));
        ASSERT_TRUE(protocol_->SocketReady());
    }

    // One whole search cycle; every simulated device must be in the table afterwards.
    void Search() {
        protocol_->StartSearch();
        ASSERT_TRUE(test::RunUntil([&] { return !protocol_->SearchRunning(); }, 5000));
        test::RunFor(50);
        ASSERT_EQ(protocol_->Devices().Size(), 6u);
    }

    // The stored record of mac with a new address, and the request the builder makes of it.
    _CommandDataTable Moved(const std::string& mac, int host) {
        auto record = protocol_->FindDevice(mac);
        EXPECT_TRUE(record.has_value()) << mac;
        _CommandDataTable r = record.value_or(_CommandDataTable{});
        r.primary.ipAddress = Address(net_.Subnet() + "." + std::to_string(host));
        return r;
    }
    Requester Pc() const {
        return Requester{protocol_->LocalInterface().mac, protocol_->LocalInterface().ipAddress};
    }
    bool AwaitOutcomes(std::size_t n, int limitMs) {
        return test::RunUntil([&] { return owner_.outcomes.size() >= n; }, limitMs);
    }

    e2e::Process* sim_ = nullptr;
    std::unique_ptr<PlatformServices> services_;
    std::unique_ptr<CProtocol> protocol_;
    Owner owner_;
};

struct KindRow {
    const char* name;
    const char* mac;
    std::uint8_t kind;
    std::uint16_t command, mask, confirm;
    int newHost;
    bool restartWait;  // single-port devices are awaited until they answer again
};

void PrintTo(const KindRow& row, std::ostream* os) { *os << row.name; }

class EngineTransaction : public EngineE2e, public ::testing::WithParamInterface<KindRow> {};

TEST_P(EngineTransaction, CompletesWithTheBuiltBytesAndThreeConfirmations) {
    const KindRow& k = GetParam();
    ASSERT_NO_FATAL_FAILURE(Start(kSimScale));
    ASSERT_NO_FATAL_FAILURE(Search());
    const _CommandDataTable record = Moved(k.mac, k.newHost);
    ASSERT_EQ(record.kind, k.kind);
    std::uint16_t command = 0, mask = 0;
    ASSERT_TRUE(CProtocol::CommandForKind(record.kind, command, mask));
    EXPECT_EQ(command, k.command);
    EXPECT_EQ(mask, k.mask);
    std::uint16_t written = 0;
    const std::string request = Hex(BuildSettingsRequest(record, command, mask, Pc(), &written));
    const std::string confirmation = Hex(BuildConfirmation(
        k.confirm, record.primary.mac, record.capabilityFlag, written, Pc()));

    ASSERT_EQ(protocol_->SendSettings(record, command, mask), PROTO_OK);
    ASSERT_TRUE(AwaitOutcomes(1, 5000)) << sim_->Err();
    std::vector<Outcome> expected = {{WM_SETUP_ACCEPTED, k.confirm}};
    if (k.restartWait) {
        protocol_->StartRestartWait(record.primary.mac);
        // The device restarts for 35 s; the wait searches from 30 s on.
        EXPECT_TRUE(AwaitOutcomes(2, 10000));
        expected.emplace_back(WM_SETUP_FINISHED, 0);
        const auto back = protocol_->FindDevice(k.mac);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(Ipv4Text(back->primary.ipAddress), Ipv4Text(record.primary.ipAddress));
    } else {
        test::RunFor(300);  // room for a stray fourth confirmation
    }
    EXPECT_EQ(owner_.outcomes, expected);

    const auto events = SimEvents(sim_->Err(), k.mac);
    const std::string rxRequest = "rx " + std::to_string(command) + " ";
    const std::string rxConfirm = "rx " + std::to_string(k.confirm) + " ";
    EXPECT_EQ(WithPrefix(events, rxRequest), std::vector<std::string>(3, rxRequest + request));
    EXPECT_EQ(WithPrefix(events, "accepted").size(), 1u);
    EXPECT_EQ(WithPrefix(events, rxConfirm), std::vector<std::string>(3, rxConfirm + confirmation));
    // The device hears every request before the first confirmation.
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(WithPrefix({events.begin() + 4, events.end()}, rxConfirm).size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EngineTransaction,
    ::testing::Values(KindRow{"Standard", "02-00-00-30-00-01", DEVICE_KIND_STANDARD, CMD_SETUP_V2,
                              MASK_STANDARD, CMD_SETUP_V2_CONFIRM, 41, true},
                      KindRow{"Legacy", "02-00-00-03-00-02", DEVICE_KIND_LEGACY, CMD_SETUP,
                              MASK_LEGACY, CMD_SETUP_CONFIRM, 42, true},
                      KindRow{"TwoPort", "02-00-00-0C-00-03", DEVICE_KIND_TWO_PORT, CMD_SETUP,
                              MASK_TWO_PORT, CMD_SETUP_CONFIRM, 43, false}),
    test::ByName{});

TEST_F(EngineE2e, AcceptanceAfterTheTimeOutFailsWithOneAndIsNeverConfirmed) {
    ASSERT_NO_FATAL_FAILURE(Start(kSimScale));
    ASSERT_NO_FATAL_FAILURE(Search());
    const _CommandDataTable record = Moved(kLateMac, 44);
    ASSERT_EQ(protocol_->SendSettings(record, CMD_SETUP_V2, MASK_STANDARD), PROTO_OK);
    ASSERT_TRUE(AwaitOutcomes(1, 5000));
    EXPECT_EQ(owner_.outcomes, (std::vector<Outcome>{{WM_SETUP_FAILED, 1}}));
    // The device accepts at 45 s: the engine hears it and turns it away.
    ASSERT_TRUE(test::RunUntil([&] { return owner_.Processed(CMD_SETUP_V2_REPLY) > 0; }, 5000))
        << sim_->Err();
    test::RunFor(300);
    EXPECT_EQ(owner_.outcomes.size(), 1u);
    for (const auto& [command, result] : owner_.processed) {
        if (command == CMD_SETUP_V2_REPLY) {
            EXPECT_EQ(result, PROTO_LATE_ACCEPTANCE);
        }
    }
    const auto events = SimEvents(sim_->Err(), kLateMac);
    EXPECT_EQ(WithPrefix(events, "rx 2 ").size(), 3u);
    EXPECT_EQ(WithPrefix(events, "accepted").size(), 1u);
    EXPECT_TRUE(WithPrefix(events, "rx 4 ").empty()) << "a late acceptance was confirmed";
}

TEST_F(EngineE2e, DeviceThatNeverReturnsFailsTheWaitWithTwoWhileOthersAnswer) {
    ASSERT_NO_FATAL_FAILURE(Start(40));
    ASSERT_NO_FATAL_FAILURE(Search());
    const _CommandDataTable record = Moved(kGoneMac, 45);
    ASSERT_EQ(protocol_->SendSettings(record, CMD_SETUP_V2, MASK_STANDARD), PROTO_OK);
    ASSERT_TRUE(AwaitOutcomes(1, 5000));
    ASSERT_EQ(owner_.outcomes[0], Outcome(WM_SETUP_ACCEPTED, CMD_SETUP_V2_CONFIRM));
    const std::size_t logStart = sim_->Err().size();
    const int answersBefore = owner_.Processed(CMD_SEARCH_REPLY);
    protocol_->StartRestartWait(record.primary.mac);
    ASSERT_TRUE(AwaitOutcomes(2, 15000));
    EXPECT_EQ(owner_.outcomes[1], Outcome(WM_SETUP_FAILED, 2));
    test::RunFor(100);
    // One search every 2 s from 30 s to 118 s, each answered by the five other devices.
    const std::string log = sim_->Err().substr(logStart);
    int searches = 0;
    for (auto at = log.find(" rx command 13 "); at != std::string::npos;
         at = log.find(" rx command 13 ", at + 1))
        ++searches;
    EXPECT_EQ(searches, 45);
    EXPECT_GE(owner_.Processed(CMD_SEARCH_REPLY) - answersBefore, 5 * 44);
}

TEST_F(EngineE2e, AddressCheckFindsAddressesInUseByEchoAndPassesFreeOnes) {
    ASSERT_NO_FATAL_FAILURE(Start(4));  // echo time-out 250 ms
    const std::uint32_t inUse = Address(net_.Subnet() + "." + std::to_string(kBystanderHost));
    const std::uint32_t nobody = Address(net_.Subnet() + ".200");
    struct Case {
        const char* what;
        std::uint8_t kind;
        std::uint32_t primary, second;
        int expected;
    };
    const Case cases[] = {
        {"a device's address", DEVICE_KIND_STANDARD, inUse, 0, PROTO_ADDRESS_IN_USE},
        {"a free address", DEVICE_KIND_STANDARD, nobody, 0, PROTO_OK},
        {"a device's address as the second port's", DEVICE_KIND_TWO_PORT, nobody, inUse,
         PROTO_ADDRESS_IN_USE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        _CommandDataTable record{};
        ParseMac("02-00-00-0C-7F-01", record.primary.mac);  // not in the table: all is new
        record.kind = c.kind;
        record.ipv4Mode = 3;  // static
        record.primary.ipAddress = c.primary;
        record.primary.ipAddress2 = c.second;
        int result = 1;
        protocol_->CheckAddressInUse(record, true, [&](int r) { result = r; });
        ASSERT_TRUE(test::RunUntil([&] { return result != 1; }, 5000));
        EXPECT_EQ(result, c.expected);
    }
}

}  // namespace
}  // namespace valdrune
