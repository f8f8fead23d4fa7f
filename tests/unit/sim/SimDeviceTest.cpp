// The simulator's answers must be what the PC side accepts and decodes into the record the
// device description intended; its settings application must take back what the PC sends.
#include <gtest/gtest.h>

#include "protocol/Datagram.h"
#include "protocol/Decoder.h"
#include "sim/Scenario.h"
#include "sim/SimDevice.h"
#include "tests/support/AnswerBuilder.h"
#include "tests/support/CaseNames.h"

namespace valdrune::sim {
namespace {

const Requester kPc{{0x02, 0x76, 0x05, 0x00, 0x00, 0x01}, 0x0A4D0501};  // 10.77.5.1

ScenarioOptions Net() {
    ScenarioOptions o;
    o.network = 0x0A4D0500;
    return o;
}

struct Decoded {
    AnswerHeader header;
    DecodeResult result;
};

std::optional<Decoded> Decode(const std::vector<std::uint8_t>& answer) {
    auto header = ValidateAnswer(answer, kPc.mac);
    if (!header) return std::nullopt;
    AnswerContext ctx{header->deviceMac, header->protocolMode, header->capability,
                      header->sequence};
    return Decoded{*header, DecodeDeviceAnswer(answer, header->payloadLength, ctx)};
}

std::uint8_t ExpectedKind(Kind k) {
    switch (k) {
        case Kind::Standard: return DEVICE_KIND_STANDARD;
        case Kind::Legacy: return DEVICE_KIND_LEGACY;
        case Kind::TwoPort: return DEVICE_KIND_TWO_PORT;
    }
    return 0;
}

class DemoDeviceAnswer : public ::testing::TestWithParam<std::size_t> {};

TEST_P(DemoDeviceAnswer, ValidatesAndDecodesIntoTheDescribedRecord) {
    const auto devices = *BuiltInScenario("demo", Net());
    const DeviceSpec& d = devices.at(GetParam());
    const _CommandDataTable& want = d.record;

    const auto answer = BuildAnswer(d, kPc);
    const auto got = Decode(answer);
    ASSERT_TRUE(got) << d.label << ": answer rejected";
    EXPECT_EQ(got->header.command, CMD_SEARCH_REPLY);
    EXPECT_EQ(got->header.requesterMac, kPc.mac);
    EXPECT_EQ(got->header.requesterIp, kPc.ipAddress);
    EXPECT_EQ(answer.size(), got->header.payloadLength + 52u);

    ASSERT_TRUE(got->result.hadAddress);
    const _CommandDataTable& r = got->result.record;
    EXPECT_EQ(r.kind, ExpectedKind(d.kind)) << d.label;
    EXPECT_EQ(r.primary.mac, want.primary.mac);
    EXPECT_EQ(r.primary.ipAddress, want.primary.ipAddress);
    EXPECT_EQ(r.primary.subnetMask, want.primary.subnetMask);
    EXPECT_EQ(r.primary.gateway, want.primary.gateway);
    EXPECT_EQ(r.primary.port, want.primary.port);
    EXPECT_EQ(r.sequence, want.sequence);
    EXPECT_EQ(r.capabilityFlag, want.capabilityFlag);
    EXPECT_EQ(r.statusBits, want.statusBits);
    EXPECT_EQ(r.https, want.https) << d.label;
    EXPECT_EQ(FieldText(r.deviceName), FieldText(want.deviceName)) << d.label;
    EXPECT_EQ(r.hasBrowserBits, want.hasBrowserBits);
    EXPECT_EQ(r.browserBits, want.browserBits);

    if (d.kind == Kind::Legacy) {
        Text16 model{};
        LookupLegacyModel(d.modelCode, model);
        EXPECT_EQ(FieldText(r.model), FieldText(model)) << d.label;
        EXPECT_FALSE(FieldText(r.model).empty()) << "the scenario's model code is unknown";
        EXPECT_EQ(r.legacyAddressing, want.legacyAddressing);
        EXPECT_EQ(r.legacyWord, want.legacyWord);
    } else {
        EXPECT_EQ(FieldText(r.model), FieldText(want.model));
        EXPECT_EQ(FieldText(r.serialNumber), FieldText(want.serialNumber));
        EXPECT_EQ(r.hasIpv6, 1);
        EXPECT_EQ(r.ipv6Address, want.ipv6Address);
        EXPECT_EQ(r.ipv6Address2, want.ipv6Address2);
        EXPECT_EQ(r.ipv6Port, want.ipv6Port);
        EXPECT_EQ(r.hasIpv6Mode, 1);
    }
    if (d.kind == Kind::TwoPort) {
        EXPECT_EQ(r.portKind, want.portKind);
        EXPECT_EQ(r.primary.ipAddress2, want.primary.ipAddress2);
        EXPECT_EQ(r.primary.subnetMask2, want.primary.subnetMask2);
        if (want.portOptionA != 255) {
            EXPECT_EQ(r.portOptionA, want.portOptionA);
        }
        if (want.portOptionB != 255) {
            EXPECT_EQ(r.portOptionB, want.portOptionB);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sim, DemoDeviceAnswer,
                         ::testing::Range<std::size_t>(0, BuiltInScenario("demo", Net())->size()),
    [](const ::testing::TestParamInfo<std::size_t>& p) {
                             const auto devices = *BuiltInScenario("demo", Net());
                             return valdrune::test::CaseName("Device", p.param, "_",
                                 Ipv4Text(devices.at(p.param).record.primary.ipAddress));
                         });

TEST(SimScenario, DemoHasTheMixTheWindowShows) {
    const auto devices = *BuiltInScenario("demo", Net());
    int kinds[3] = {};
    int locked = 0;
    bool japanese = false;
    std::map<std::uint32_t, int> byAddress;
    for (const auto& d : devices) {
        ++kinds[static_cast<int>(d.kind)];
        locked += d.RestartLocked();
        japanese |= static_cast<unsigned char>(d.record.deviceName[0]) >= 0xE3;
        ++byAddress[d.record.primary.ipAddress];
    }
    EXPECT_GE(kinds[0], 3);
    EXPECT_GE(kinds[1], 1);
    EXPECT_GE(kinds[2], 1);
    EXPECT_EQ(locked, 1);
    EXPECT_TRUE(japanese);
    int shared = 0;
    for (const auto& [address, n] : byAddress) shared += n > 1;
    EXPECT_EQ(shared, 1);
}

TEST(SimScenario, ManyHasDistinctMacsAndAddresses) {
    ScenarioOptions o = Net();
    o.count = 450;
    const auto devices = *BuiltInScenario("many", o);
    ASSERT_EQ(devices.size(), 450u);
    std::set<MacAddress> macs;
    std::set<std::uint32_t> addresses;
    for (const auto& d : devices) {
        macs.insert(d.record.primary.mac);
        addresses.insert(d.record.primary.ipAddress);
    }
    EXPECT_EQ(macs.size(), 450u);
    EXPECT_EQ(addresses.size(), 450u);
}

TEST(SimAnswer, ModelSourceTwoKeepsTheModelText) {
    DeviceSpec d = MakeDevice(Kind::Legacy, 1, Net());
    d.modelCode = 19;
    d.modelSource = 2;
    SetFieldText(d.record.model, "ZM-OWN-TEXT");
    const auto got = Decode(BuildAnswer(d, kPc));
    ASSERT_TRUE(got);
    EXPECT_EQ(FieldText(got->result.record.model), "ZM-OWN-TEXT");
}

TEST(SimAnswer, SecondModelCodeIsUsedWhenTheFirstIsNotSent) {
    DeviceSpec d = MakeDevice(Kind::Legacy, 1, Net());
    d.modelCode = 255;
    d.modelCode2 = 36;
    const auto got = Decode(BuildAnswer(d, kPc));
    ASSERT_TRUE(got);
    EXPECT_EQ(FieldText(got->result.record.model), "RT-WNT528CN");
}

TEST(SimAnswer, InfoAnswersUseCommandOne) {
    DeviceSpec d = MakeDevice(Kind::Standard, 1, Net());
    d.behaviour.answersInfo = true;
    const auto got = Decode(BuildAnswer(d, kPc));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->header.command, CMD_INFO);
}

TEST(SimAnswer, ExplicitTagListIsSentInItsOrder) {
    DeviceSpec d = MakeDevice(Kind::Standard, 1, Net());
    d.tags = {167, 32, 0};
    const auto answer = BuildAnswer(d, kPc);
    auto header = ValidateAnswer(answer, kPc.mac);
    ASSERT_TRUE(header);
    std::vector<std::uint16_t> seen;
    EXPECT_TRUE(WalkItems(answer, header->payloadLength,
                          [&](const TlvItem& item) { seen.push_back(item.tag); }));
    EXPECT_EQ(seen, (std::vector<std::uint16_t>{167, 32, 0}));
}

TEST(SimAnswer, AnswerWithoutAddressItemIsNotListed) {
    DeviceSpec d = MakeDevice(Kind::Standard, 1, Net());
    d.tags = {0, 1, 167, 168};
    const auto got = Decode(BuildAnswer(d, kPc));
    ASSERT_TRUE(got);
    EXPECT_FALSE(got->result.hadAddress);
}

struct FaultCase {
    const char* name;
    Faults faults;
    bool validates;
};

class SimFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SimFault, BreaksOnlyWhatItNames) {
    DeviceSpec d = MakeDevice(Kind::Standard, 1, Net());
    d.faults = GetParam().faults;
    const auto answer = BuildAnswer(d, kPc);
    const auto got = Decode(answer);
    EXPECT_EQ(got.has_value(), GetParam().validates);
    if (got) {
        // Truncated: the walk stops before the last item (the serial number).
        EXPECT_TRUE(got->result.hadAddress);
        EXPECT_EQ(FieldText(got->result.record.serialNumber), "");
        EXPECT_EQ(FieldText(got->result.record.deviceName), FieldText(d.record.deviceName));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimFault,
    ::testing::Values(FaultCase{"BadChecksum", Faults{.badChecksum = true}, false},
                      FaultCase{"ForeignMac", Faults{.foreignRequesterMac = true}, false},
                      FaultCase{"Oversized", Faults{.oversizedLength = true}, false},
                      FaultCase{"Truncated", Faults{.truncatedItems = true}, true}),
    test::ByName{});

TEST(SimFaultShape, OversizedAnswerIsConsistentApartFromItsLength) {
    DeviceSpec d = MakeDevice(Kind::Standard, 1, Net());
    d.faults.oversizedLength = true;
    const auto answer = BuildAnswer(d, kPc);
    const std::size_t length = (answer[2] << 8) | answer[3];
    EXPECT_EQ(length, MAX_PAYLOAD + 1);
    ASSERT_EQ(answer.size(), length + 52);
    const std::uint16_t sum = static_cast<std::uint16_t>((answer[length + 50] << 8) | answer[length + 51]);
    EXPECT_EQ(sum, Checksum(std::span(answer).first(length + 50)));
}

// What the PC sends for each kind is taken back by the device field for field.
struct SettingsCase {
    const char* name;
    Kind kind;
    std::uint16_t command;
    std::uint16_t mask;
};

class SimSettings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SimSettings, ApplyTakesEverySentValue) {
    const SettingsCase& c = GetParam();
    DeviceSpec device = MakeDevice(c.kind, 1, Net());
    _CommandDataTable wanted = test::RecordBuilder(device.record)
                                   .Address("10.77.5.99", "255.255.0.0", "10.77.5.254")
                                   .Dns("8.8.8.8", "1.1.1.1").Port(8080).Flags(0x04).Ipv4Mode(1)
                                   .PcAddress("192.168.254.2", "255.255.255.128").Addressing(0x13);
    wanted.secondary.ipAddress = 0xAC100001;
    wanted.legacyWord = 0x0F01;
    wanted.hasIpv6Mode = 1;

    const auto request = BuildSettingsRequest(wanted, c.command, c.mask, kPc);
    const auto header = ValidateRequest(request);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->command, device.SettingsCommand());

    _CommandDataTable applied = device.record;
    EXPECT_GT(ApplySettings(applied, request, header->payloadLength), 5);
    EXPECT_EQ(test::Ipv4Settings(applied.primary), test::Ipv4Settings(wanted.primary));
    EXPECT_EQ(applied.primary.port, 8080);
    EXPECT_EQ(applied.flags, 0x04);
    EXPECT_EQ(applied.https, 1);
    if (c.kind != Kind::Legacy) {
        EXPECT_EQ(applied.ipv4Mode, 1);
    }
    if (c.kind == Kind::TwoPort) {
        EXPECT_EQ(applied.primary.ipAddress2, wanted.primary.ipAddress2);
        EXPECT_EQ(applied.primary.subnetMask2, wanted.primary.subnetMask2);
    }
    if (c.kind == Kind::Standard) {
        EXPECT_EQ(applied.secondary.ipAddress, wanted.secondary.ipAddress);
    }
    if (c.kind == Kind::Legacy) {
        EXPECT_EQ(applied.legacyWord, 0x0F01);
        EXPECT_EQ(applied.legacyAddressing, 0x13);
    }
    // The device keeps what a settings request does not carry.
    EXPECT_EQ(applied.primary.mac, device.record.primary.mac);
    EXPECT_EQ(FieldText(applied.deviceName), FieldText(device.record.deviceName));
}

INSTANTIATE_TEST_SUITE_P(
    Sim, SimSettings,
    ::testing::Values(SettingsCase{"Legacy", Kind::Legacy, CMD_SETUP, MASK_LEGACY},
                      SettingsCase{"TwoPort", Kind::TwoPort, CMD_SETUP, MASK_TWO_PORT},
                      SettingsCase{"Standard", Kind::Standard, CMD_SETUP_V2, MASK_STANDARD}),
    test::ByName{});

TEST(SimSettingsApply, ItemsOfWrongLengthAreIgnored) {
    // A hand-made request: tag 32 with 3 bytes, then a good tag 37.
    std::vector<std::uint8_t> d = BuildConfirmation(CMD_SETUP_CONFIRM, MacAddress{}, 0, 0, kPc);
    d.resize(HEADER_SIZE);
    const std::uint8_t items[] = {0, 32, 0, 3, 1, 2, 3, 0, 37, 0, 2, 0x1F, 0x90};
    d.insert(d.end(), std::begin(items), std::end(items));
    d[2] = 0;
    d[3] = sizeof items;
    d.push_back(0xFF);
    d.push_back(0xFF);
    const std::uint16_t sum = Checksum(d);
    d.push_back(static_cast<std::uint8_t>(sum >> 8));
    d.push_back(static_cast<std::uint8_t>(sum));
    const auto header = ValidateRequest(d);
    ASSERT_TRUE(header);
    _CommandDataTable r;
    r.primary.ipAddress = 0x01020304;
    EXPECT_EQ(ApplySettings(r, d, header->payloadLength), 1);
    EXPECT_EQ(r.primary.ipAddress, 0x01020304u);
    EXPECT_EQ(r.primary.port, 8080);
}

TEST(SimValidate, DropsWhatThePcWouldDrop) {
    auto good = BuildSearchRequest(2, kPc);
    ASSERT_TRUE(ValidateRequest(good));
    auto bad = good;
    bad.back() ^= 1;
    EXPECT_FALSE(ValidateRequest(bad));
    EXPECT_FALSE(ValidateRequest(std::span(good).first(47)));
    EXPECT_FALSE(ValidateRequest(std::span(good).first(good.size() - 1)));
    bad = good;
    bad[24] = 0;
    EXPECT_FALSE(ValidateRequest(bad));
}

TEST(SimJson, ReadsEveryKindAndBehaviour) {
    const std::string text = R"({"devices": [
        {"kind": "standard", "mac": "02-11-22-33-44-55", "ip": ".20", "name": "Gate",
         "https": true, "port": 443, "acceptDelayMs": 1500, "restartMs": 9000,
         "faults": ["badChecksum"], "ipv6": "2001:db8::1"},
        {"kind": "legacy", "ip": "192.168.1.9", "modelCode": 36, "neverAccepts": true},
        {"kind": "two-port", "portKind": 20, "browserBits": 3, "restartLocked": true,
         "tags": [0, 32, 192]}
    ]})";
    std::string error;
    const auto devices = LoadDevicesJson(text, Net(), error);
    ASSERT_TRUE(devices) << error;
    ASSERT_EQ(devices->size(), 3u);
    const DeviceSpec& a = (*devices)[0];
    EXPECT_EQ(MacText(a.record.primary.mac), "02-11-22-33-44-55");
    EXPECT_EQ(Ipv4Text(a.record.primary.ipAddress), "10.77.5.20");
    EXPECT_EQ(a.record.https, 1);
    EXPECT_EQ(a.record.flags & 4, 4);
    EXPECT_EQ(a.behaviour.acceptDelayMs, 1500);
    EXPECT_EQ(a.behaviour.restartMs, 9000);
    EXPECT_TRUE(a.faults.badChecksum);
    EXPECT_EQ(a.record.ipv6Address[0], 0x20);
    EXPECT_EQ(a.record.ipv6Address[15], 0x01);
    const DeviceSpec& b = (*devices)[1];
    EXPECT_EQ(b.kind, Kind::Legacy);
    EXPECT_EQ(b.modelCode, 36);
    EXPECT_TRUE(b.behaviour.neverAccepts);
    const DeviceSpec& c = (*devices)[2];
    EXPECT_TRUE(c.RestartLocked());
    EXPECT_EQ(c.record.hasBrowserBits, 1);
    EXPECT_EQ(c.tags, (std::vector<std::uint16_t>{0, 32, 192}));
    EXPECT_NE(a.record.primary.mac, b.record.primary.mac);
}

TEST(SimJson, RejectsMalformedDescriptionsWithAReason) {
    const char* bad[] = {
        "{", R"({"devices": 3})", R"([{"kind": "fridge"}])", R"([{"ip": "300.1.1.1"}])",
        R"([{"port": 70000}])", R"([{"colour": "red"}])", R"([{"faults": ["gremlins"]}])",
        R"([{"mac": "02-11"}])", R"([{"ip": ".999"}])",
    };
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(LoadDevicesJson(text, Net(), error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

}  // namespace
}  // namespace valdrune::sim
