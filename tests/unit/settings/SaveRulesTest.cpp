#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "RulesTest.h"
#include "settings/rules/SaveRules.h"
#include "tests/support/AnswerBuilder.h"
#include "tests/support/CaseNames.h"

namespace valdrune {
namespace {

using test::ByName;
using test::CaseName;
using test::NamedBy;

const char* ModeName(AddressMode mode) {
    switch (mode) {
    case AddressMode::AutoAdvanced: return "AutoAdvanced";
    case AddressMode::AutoIp: return "AutoIp";
    case AddressMode::Dhcp: return "Dhcp";
    case AddressMode::Static: return "Static";
    }
    return "Other";
}

_CommandDataTable Device(std::uint8_t kind) {
    _CommandDataTable r = test::RecordBuilder(kind)
                              .Address("192.168.0.10", "255.255.255.0", "192.168.0.1")
                              .Dns("8.8.8.8", "8.8.4.4").Port(80).Ipv4Mode(3).Flags(0x92)
                              .Addressing(0x92).Capability(0).PortOptions(6, 1, 2);
    r.secondary = r.primary;
    return r;
}

SinglePortEntry StaticEntry() {
    SinglePortEntry e;
    e.mode = AddressMode::Static;
    e.dns = DnsMode::Manual;
    e.portText = "8080";
    e.address = Ip("192.168.0.20");
    e.mask = Ip("255.255.255.0");
    e.gateway = Ip("192.168.0.1");
    e.dns1 = Ip("8.8.8.8");
    e.dns2 = 0;
    return e;
}

TwoPortEntry ManualTwoPort() {
    TwoPortEntry e;
    e.mode = TwoPortMode::BothManual;
    e.portText = "8080";
    e.lanAddress = Ip("192.168.0.20");
    e.lanMask = Ip("255.255.255.0");
    e.gateway = Ip("192.168.0.1");
    e.pcAddress = Ip("10.0.0.5");
    e.pcMask = Ip("255.255.255.0");
    e.dns1 = Ip("8.8.8.8");
    return e;
}

// ---- refusals: message, argument, focus ---------------------------------------------------

struct RefusalCase {
    const char* name;
    std::uint8_t kind;
    std::function<void(SinglePortEntry&, _CommandDataTable&)> change;
    int messageId;
    int focus;
    EntryField field;
    ArgumentKind argumentKind;
    std::uint32_t argument;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class SinglePortRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(SinglePortRefusal, NamesMessageArgumentAndFocus) {
    const RefusalCase& c = GetParam();
    _CommandDataTable record = Device(c.kind);
    SinglePortEntry e = StaticEntry();
    c.change(e, record);
    const SaveResult r = ValidateSinglePortSave(e, record);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.messageId, c.messageId);
    EXPECT_EQ(r.focusControl, c.focus);
    EXPECT_EQ(r.field, c.field);
    EXPECT_EQ(r.argumentKind, c.argumentKind);
    EXPECT_EQ(r.argument, c.argument);
}

using E = SinglePortEntry;
using R = _CommandDataTable;

INSTANTIATE_TEST_SUITE_P(
    Table, SinglePortRefusal,
    ::testing::Values(
        // 437 comes before the port and address checks, however bad they are
        RefusalCase{"StaticWithDnsAutoFirst", 48,
                    [](E& e, R&) {
                        e.dns = DnsMode::Auto;
                        e.portText = "";
                        e.address = 0;
                    },
                    437, 1020, EntryField::DnsMode, ArgumentKind::None, 0},
        RefusalCase{"EmptyPort", 48, [](E& e, R&) { e.portText = ""; }, 429, 1014, EntryField::Port,
                    ArgumentKind::None, 0},
        RefusalCase{"RefusedPortComesBeforeAddress", 48,
                    [](E& e, R&) {
                        e.portText = "554";
                        e.address = 0;
                    },
                    428, 1014, EntryField::Port, ArgumentKind::Number, 554},
        RefusalCase{"HugePortDoesNotWrap", 48, [](E& e, R&) { e.portText = "4294967376"; }, 428,
                    1014, EntryField::Port, ArgumentKind::Number, 0xFFFFFFFFu},
        RefusalCase{"LegacyPortZero", 3, [](E& e, R&) { e.portText = "0"; }, 428, 1014,
                    EntryField::Port, ArgumentKind::Number, 0},
        RefusalCase{"UnknownKindNeverSaves", 7, [](E& e, R&) { e.portText = "80"; }, 428, 1014,
                    EntryField::Port, ArgumentKind::Number, 80},
        RefusalCase{"ZeroAddress", 48, [](E& e, R&) { e.address = 0; }, 422, 1015,
                    EntryField::Address, ArgumentKind::Address, 0},
        RefusalCase{"LoopbackAddress", 48, [](E& e, R&) { e.address = 0x7F000001; }, 422, 1015,
                    EntryField::Address, ArgumentKind::Address, 0x7F000001},
        RefusalCase{"MaskWithGap", 48, [](E& e, R&) { e.mask = Ip("255.0.255.0"); }, 423, 1016,
                    EntryField::Mask, ArgumentKind::Address, 0xFF00FF00},
        RefusalCase{"MaskAllOnes", 48, [](E& e, R&) { e.mask = 0xFFFFFFFF; }, 423, 1016,
                    EntryField::Mask, ArgumentKind::Address, 0xFFFFFFFF},
        RefusalCase{"ZeroGatewayWithoutCapability", 48, [](E& e, R&) { e.gateway = 0; }, 424, 1017,
                    EntryField::Gateway, ArgumentKind::Address, 0},
        RefusalCase{"Dns1Broadcast", 48, [](E& e, R&) { e.dns1 = 0xFFFFFFFF; }, 425, 1018,
                    EntryField::Dns1, ArgumentKind::Address, 0xFFFFFFFF},
        RefusalCase{"Dns2Loopback", 48, [](E& e, R&) { e.dns2 = 0x7F000001; }, 426, 1019,
                    EntryField::Dns2, ArgumentKind::Address, 0x7F000001},
        RefusalCase{"GatewayOtherSubnet", 48, [](E& e, R&) { e.gateway = Ip("192.168.1.1"); }, 427,
                    1015, EntryField::Combination, ArgumentKind::None, 0},
        RefusalCase{"DnsHostPartUnderDeviceMask", 48, [](E& e, R&) { e.dns1 = Ip("10.0.0.255"); },
                    427, 1015, EntryField::Combination, ArgumentKind::None, 0},
        // DHCP with manual DNS still checks the combination, on the record's address
        RefusalCase{"DhcpManualDnsUsesRecordAddress", 48,
                    [](E& e, R&) {
                        e.mode = AddressMode::Dhcp;
                        e.address = Ip("10.1.1.1");
                        e.dns1 = Ip("192.168.0.10");
                    },
                    427, 1015, EntryField::Combination, ArgumentKind::None, 0},
        RefusalCase{"LegacyStaticChecksDns", 3, [](E& e, R&) { e.dns1 = 0xFFFFFFFF; }, 425, 1018,
                    EntryField::Dns1, ArgumentKind::Address, 0xFFFFFFFF}),
    ByName{});

// ---- accepted saves: what each kind writes -------------------------------------------------

TEST(SinglePortSave, StandardStaticWritesPrimarySecondaryModeAndFlags) {
    const _CommandDataTable record = Device(48);
    const SaveResult r = ValidateSinglePortSave(StaticEntry(), record);
    ASSERT_TRUE(r.ok) << r.messageId;
    EXPECT_EQ(r.record.primary.ipAddress, Ip("192.168.0.20"));
    EXPECT_EQ(r.record.primary.port, 8080);
    EXPECT_EQ(r.record.primary.dns2, 0u);
    EXPECT_EQ(r.record.ipv4Mode, 3);
    EXPECT_EQ(r.record.flags, 0x92);
    EXPECT_EQ(r.record.secondary.ipAddress, Ip("192.168.0.20"));
    EXPECT_EQ(r.record.secondary.gateway, Ip("192.168.0.1"));
    EXPECT_EQ(r.record.secondary.dns2, 0u);
    EXPECT_EQ(r.record.secondary.port, 80);  // not among the secondary fields written
    EXPECT_EQ(r.record.legacyWord, record.legacyWord);
}

struct ModeCase {
    AddressMode mode;
    DnsMode dns;
    int ipv4Mode;
    int flags;
};

class StandardModeEncoding : public ::testing::TestWithParam<ModeCase> {};

TEST_P(StandardModeEncoding, WritesModeAndFlags) {
    const ModeCase& c = GetParam();
    SinglePortEntry e = StaticEntry();
    e.mode = c.mode;
    e.dns = c.dns;
    const SaveResult r = ValidateSinglePortSave(e, Device(48));
    ASSERT_TRUE(r.ok) << r.messageId;
    EXPECT_EQ(r.record.ipv4Mode, c.ipv4Mode);
    EXPECT_EQ(r.record.flags, c.flags);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StandardModeEncoding,
    ::testing::Values(ModeCase{AddressMode::AutoAdvanced, DnsMode::Auto, 5, 0x90},
                      ModeCase{AddressMode::AutoIp, DnsMode::Manual, 4, 0x92},
                      ModeCase{AddressMode::Dhcp, DnsMode::Auto, 0, 0x90},
                      ModeCase{AddressMode::Static, DnsMode::Manual, 3, 0x92}),
    NamedBy([](const ModeCase& c) {
        return CaseName(ModeName(c.mode), c.dns == DnsMode::Auto ? "DnsAuto" : "DnsManual");
    }));

TEST(SinglePortSave, NonStaticModesKeepTheRecordsAddresses) {
    SinglePortEntry e = StaticEntry();
    e.mode = AddressMode::Dhcp;
    e.dns = DnsMode::Auto;
    e.address = 0;  // not read, so not refused either
    e.dns1 = 0xFFFFFFFF;
    const _CommandDataTable record = Device(48);
    const SaveResult r = ValidateSinglePortSave(e, record);
    ASSERT_TRUE(r.ok) << r.messageId;
    EXPECT_EQ(r.record.primary.ipAddress, record.primary.ipAddress);
    EXPECT_EQ(r.record.primary.dns1, record.primary.dns1);
    EXPECT_EQ(r.record.primary.port, 8080);
}

TEST(SinglePortSave, ZeroGatewayAllowedWithCapabilityAndForLegacy) {
    SinglePortEntry e = StaticEntry();
    e.gateway = 0;
    _CommandDataTable standard = Device(48);
    standard.capabilityFlag = 1;
    EXPECT_TRUE(ValidateSinglePortSave(e, standard).ok);
    EXPECT_TRUE(ValidateSinglePortSave(e, Device(3)).ok);
}

struct LegacyCase {
    AddressMode mode;
    int addressing;
    int flags;
    bool dnsCleared;
};

class LegacyEncoding : public ::testing::TestWithParam<LegacyCase> {};

TEST_P(LegacyEncoding, WritesWordAddressingFlagsAndDns) {
    const LegacyCase& c = GetParam();
    SinglePortEntry e = StaticEntry();
    e.mode = c.mode;
    e.dns1 = Ip("1.1.1.1");
    const SaveResult r = ValidateSinglePortSave(e, Device(3));
    ASSERT_TRUE(r.ok) << r.messageId;
    EXPECT_EQ(r.record.legacyWord, 0x0F00);
    EXPECT_EQ(r.record.legacyAddressing, c.addressing);
    EXPECT_EQ(r.record.flags, c.flags);
    EXPECT_EQ(r.record.primary.dns1, c.dnsCleared ? 0u : Ip("1.1.1.1"));
    EXPECT_EQ(r.record.primary.dns2, 0u);
    EXPECT_EQ(r.record.ipv4Mode, 3);  // unchanged for legacy devices
    EXPECT_EQ(r.record.secondary.dns1, Ip("8.8.8.8"));
}

INSTANTIATE_TEST_SUITE_P(Table, LegacyEncoding,
                         ::testing::Values(LegacyCase{AddressMode::AutoAdvanced, 0x10, 0xFF, true},
                                           LegacyCase{AddressMode::Dhcp, 0x11, 0x11, true},
                                           LegacyCase{AddressMode::Static, 0x12, 0x12, false}),
    NamedBy([](const LegacyCase& c) { return CaseName(ModeName(c.mode)); }));

TEST(SinglePortSave, WaitChoiceComesFromTheCheckBox) {
    SinglePortEntry e = StaticEntry();
    e.waitForRestart = false;
    const SaveResult r = ValidateSinglePortSave(e, Device(48));
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.waitForRestart);
}

// ---- two-port ------------------------------------------------------------------------------

struct TwoPortRefusalCase {
    const char* name;
    std::function<void(TwoPortEntry&, _CommandDataTable&)> change;
    int messageId;
    int focus;
    EntryField field;
};

void PrintTo(const TwoPortRefusalCase& c, std::ostream* os) { *os << c.name; }

class TwoPortRefusal : public ::testing::TestWithParam<TwoPortRefusalCase> {};

TEST_P(TwoPortRefusal, NamesMessageAndFocus) {
    const TwoPortRefusalCase& c = GetParam();
    _CommandDataTable record = Device(12);
    TwoPortEntry e = ManualTwoPort();
    c.change(e, record);
    const SaveResult r = ValidateTwoPortSave(e, record);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.messageId, c.messageId);
    EXPECT_EQ(r.focusControl, c.focus);
    EXPECT_EQ(r.field, c.field);
}

using TE = TwoPortEntry;

INSTANTIATE_TEST_SUITE_P(
    Table, TwoPortRefusal,
    ::testing::Values(
        TwoPortRefusalCase{"EmptyPort", [](TE& e, R&) { e.portText = ""; }, 429, 1074,
                           EntryField::Port},
        TwoPortRefusalCase{"HttpPortWhenHttps",
                           [](TE& e, R& r) {
                               e.portText = "80";
                               r.https = 1;
                           },
                           428, 1074, EntryField::Port},
        TwoPortRefusalCase{"LanMaskZero", [](TE& e, R&) { e.lanMask = 0; }, 423, 1057,
                           EntryField::Mask},
        TwoPortRefusalCase{"GatewayAllOnes", [](TE& e, R&) { e.gateway = 0xFFFFFFFF; }, 424, 1072,
                           EntryField::Gateway},
        TwoPortRefusalCase{"PcAddressLoopback", [](TE& e, R&) { e.pcAddress = 0x7F000001; }, 422,
                           1065, EntryField::PcAddress},
        TwoPortRefusalCase{"PcMaskWithGap", [](TE& e, R&) { e.pcMask = Ip("255.0.255.0"); }, 423,
                           1067, EntryField::PcMask},
        // PC-port values are checked in the DHCP modes too
        TwoPortRefusalCase{"PcMaskCheckedInLanDhcp",
                           [](TE& e, R&) {
                               e.mode = TwoPortMode::LanDhcp;
                               e.pcMask = Ip("255.0.255.0");
                           },
                           423, 1067, EntryField::PcMask},
        TwoPortRefusalCase{"Dns2AllOnes", [](TE& e, R&) { e.dns2 = 0xFFFFFFFF; }, 426, 1081,
                           EntryField::Dns2},
        TwoPortRefusalCase{"PcAddressEqualsLan", [](TE& e, R&) { e.pcAddress = e.lanAddress; }, 427,
                           1065, EntryField::Combination},
        TwoPortRefusalCase{"GatewayOutsideBothSubnets",
                           [](TE& e, R&) { e.gateway = Ip("172.16.0.1"); }, 427, 1055,
                           EntryField::Combination}),
    ByName{});

TEST(TwoPortSave, ManualWritesBothPortsIntoPrimaryAndSecondary) {
    const SaveResult r = ValidateTwoPortSave(ManualTwoPort(), Device(12), false);
    ASSERT_TRUE(r.ok) << r.messageId;
    EXPECT_EQ(r.record.ipv4Mode, 3);
    EXPECT_EQ(r.record.flags, 0x92);
    EXPECT_EQ(r.record.primary.ipAddress, Ip("192.168.0.20"));
    EXPECT_EQ(r.record.primary.ipAddress2, Ip("10.0.0.5"));
    EXPECT_EQ(r.record.secondary.ipAddress2, Ip("10.0.0.5"));
    EXPECT_EQ(r.record.secondary.subnetMask2, Ip("255.255.255.0"));
    EXPECT_EQ(r.record.secondary.ipAddress, Ip("192.168.0.20"));
    EXPECT_EQ(r.record.secondary.dns2, 0u);
    EXPECT_EQ(r.record.primary.port, 8080);
    EXPECT_FALSE(r.waitForRestart);  // passes through
}

TEST(TwoPortSave, PcDhcpIgnoresAnEditedLanAddressAndSends19) {
    TwoPortEntry e = ManualTwoPort();
    e.mode = TwoPortMode::PcDhcp;
    e.lanAddress = Ip("192.168.0.99");
    e.pcAddress = 0;
    e.pcMask = 0;
    const _CommandDataTable record = Device(12);
    const SaveResult r = ValidateTwoPortSave(e, record);
    ASSERT_TRUE(r.ok) << r.messageId;
    EXPECT_EQ(r.record.ipv4Mode, 19);
    EXPECT_EQ(r.record.primary.ipAddress, record.primary.ipAddress);
    EXPECT_EQ(r.record.primary.ipAddress2, 0u);
}

struct TwoPortFlagsCase {
    int portOptionA;
    bool dnsAuto;
    int flags;
};

class TwoPortFlags : public ::testing::TestWithParam<TwoPortFlagsCase> {};

TEST_P(TwoPortFlags, DnsAutoOnlyWhenTheDeviceOffersIt) {
    const TwoPortFlagsCase& c = GetParam();
    _CommandDataTable record = Device(12);
    record.portOptionA = static_cast<std::uint16_t>(c.portOptionA);
    TwoPortEntry e = ManualTwoPort();
    e.dnsAutoChecked = c.dnsAuto;
    const SaveResult r = ValidateTwoPortSave(e, record);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.record.flags, c.flags);
}

INSTANTIATE_TEST_SUITE_P(Table, TwoPortFlags,
                         ::testing::Values(TwoPortFlagsCase{1, true, 0x90},
                                           TwoPortFlagsCase{1, false, 0x92},
                                           TwoPortFlagsCase{0, true, 0x92}),
    NamedBy([](const TwoPortFlagsCase& c) {
        return CaseName("OptionA", c.portOptionA, c.dnsAuto ? "DnsAuto" : "DnsManual");
    }));

// ---- dialog opening state ------------------------------------------------------------------

TEST(DialogRecord, FlagsReplaceAddressingByKind) {
    _CommandDataTable r = Device(48);
    r.flags = 0x90;
    r.legacyAddressing = 0x12;
    EXPECT_EQ(PrepareRecordForDialog(r).legacyAddressing, 0x90);
    r.kind = 3;
    EXPECT_EQ(PrepareRecordForDialog(r).legacyAddressing, 0x12);
    r.legacyAddressing = 0x7F;
    EXPECT_EQ(PrepareRecordForDialog(r).legacyAddressing, 0x90);
}

TEST(InitialEntry, StaticWithAutoDnsRecordOpensWithDnsAutoAndIsRefusedUnchanged) {
    _CommandDataTable r = Device(48);
    r.ipv4Mode = 3;
    r.flags = 0x90;
    const _CommandDataTable p = PrepareRecordForDialog(r);
    const SinglePortEntry e = InitialSinglePortEntry(p, true);
    EXPECT_EQ(e.mode, AddressMode::Static);
    EXPECT_EQ(e.dns, DnsMode::Auto);
    EXPECT_EQ(ValidateSinglePortSave(e, p).messageId, 437);
}

TEST(InitialEntry, UnchangedSaveOfAnAutoIpRecordSendsAutoIpAgain) {
    _CommandDataTable r = Device(48);
    r.ipv4Mode = 4;
    r.primary.port = 21;  // refused: opens with 80
    const _CommandDataTable p = PrepareRecordForDialog(r);
    const SaveResult s = ValidateSinglePortSave(InitialSinglePortEntry(p, true), p);
    ASSERT_TRUE(s.ok) << s.messageId;
    EXPECT_EQ(s.record.ipv4Mode, 4);
    EXPECT_EQ(s.record.primary.port, 80);
}

TEST(InitialEntry, LegacyAddressingChoosesTheLegacyMode) {
    _CommandDataTable r = Device(3);
    r.legacyAddressing = 0xFF;
    EXPECT_EQ(InitialSinglePortEntry(r, true).mode, AddressMode::AutoAdvanced);
    r.legacyAddressing = 1;
    EXPECT_EQ(InitialSinglePortEntry(r, true).mode, AddressMode::Dhcp);
    r.legacyAddressing = 0x12;
    EXPECT_EQ(InitialSinglePortEntry(r, true).mode, AddressMode::Static);
}

TEST(InitialEntry, TwoPortRecordWith18OpensInPcDhcpAndSaves19) {
    _CommandDataTable r = Device(12);
    r.ipv4Mode = 18;
    r.primary.ipAddress2 = 0;
    r.primary.subnetMask2 = 0;
    const _CommandDataTable p = PrepareRecordForDialog(r);
    const TwoPortEntry e = InitialTwoPortEntry(p);
    EXPECT_EQ(e.mode, TwoPortMode::PcDhcp);
    const SaveResult s = ValidateTwoPortSave(e, p);
    ASSERT_TRUE(s.ok) << s.messageId;
    EXPECT_EQ(s.record.ipv4Mode, 19);
}

TEST(InitialEntry, TwoPortWithoutOptionAIsAlwaysManual) {
    _CommandDataTable r = Device(12);
    r.portOptionA = 0;
    r.ipv4Mode = 0;
    r.flags = 0x90;
    const TwoPortEntry e = InitialTwoPortEntry(PrepareRecordForDialog(r));
    EXPECT_EQ(e.mode, TwoPortMode::BothManual);
    EXPECT_FALSE(e.dnsAutoChecked);
}

TEST(Radios, AreTestedInTheDialogsOrder) {
    EXPECT_EQ(AddressModeFromRadios(true, true, true, true), AddressMode::AutoAdvanced);
    EXPECT_EQ(AddressModeFromRadios(false, false, true, true), AddressMode::Dhcp);
    EXPECT_EQ(AddressModeFromRadios(false, false, false, false), AddressMode::Static);
    EXPECT_EQ(DnsModeFromRadios(true, true), DnsMode::Auto);
    EXPECT_EQ(TwoPortModeFromRadios(false, true, true), TwoPortMode::PcDhcp);
}

TEST(FormatRefusal, FillsAddressOrNumber) {
    SaveResult r;
    r.argumentKind = ArgumentKind::Address;
    r.argument = Ip("255.0.255.0");
    EXPECT_EQ(FormatRefusal("Subnet mask (%s) cannot be set.", r),
              "Subnet mask (255.0.255.0) cannot be set.");
    r.argumentKind = ArgumentKind::Number;
    r.argument = 554;
    EXPECT_EQ(FormatRefusal("Port no. %d cannot be set.", r), "Port no. 554 cannot be set.");
    EXPECT_EQ(FormatRefusal("Enter the Port no.", r), "Enter the Port no.");
}

}  // namespace
}  // namespace valdrune
