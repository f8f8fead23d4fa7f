// The two-port settings dialog driven by control id: port options, the view-only state, the
// radio rule that allows DHCP on one port only, and what its Save writes or refuses.
#include <QLabel>
#include <string>

#include "dialogkit/ControlText.h"
#include "settings/dialogs/CSetNetworkRec.h"
#include "settings/rules/SaveRules.h"
#include "tests/gui/settings/GuiSupport.h"
#include "tests/support/CaseNames.h"

namespace valdrune::test {
namespace {

using namespace ctl::two;

_CommandDataTable TwoPort(std::uint16_t portKind, std::uint16_t optionA, std::uint16_t optionB,
                          std::uint8_t ipv4Mode, std::uint8_t dnsFlags) {
    return RecordBuilder(DEVICE_KIND_TWO_PORT)
        .Address("192.168.0.10", "255.255.255.0", "192.168.0.1").PcAddress("10.0.0.1", "255.0.0.0")
        .Port(80).PortOptions(portKind, optionA, optionB).Ipv4Mode(ipv4Mode).Addressing(dnsFlags);
}

struct Opening {
    const char* name;
    _CommandDataTable record;
    std::vector<int> checked;  // of 1052, 1053, 1062, 1063, 1076, 1077
    std::vector<int> enabled;  // of the ids in kSteered
    bool noteShown;
    int headingText;
};

const int kRadios[] = {kLanManual, kLanDhcp, kPcManual, kPcDhcp, kDnsAuto, kDnsManual};
const int kSteered[] = {kLanManual, kLanDhcp, kPcManual, kPcDhcp, kLanAddress, kLanMask,
                        kPcAddress, kPcMask, kGateway, kPort, kDnsAuto, kDnsManual,
                        kDns1, kDns2, 1};

class SetNetworkRecOpening : public ::testing::TestWithParam<Opening> {};

bool Contains(const std::vector<int>& v, int id) {
    return std::find(v.begin(), v.end(), id) != v.end();
}

TEST_P(SetNetworkRecOpening, ShowsTheRecordUnderThePortOptions) {
    const Opening& p = GetParam();
    CSetNetworkRec d;
    d.SetRecord(p.record);
    d.show();
    for (int id : kRadios) EXPECT_EQ(d.IsChecked(id), Contains(p.checked, id)) << "checked " << id;
    for (int id : kSteered)
        EXPECT_EQ(d.IsControlEnabled(id), Contains(p.enabled, id)) << "enabled " << id;
    EXPECT_EQ(d.Control(1040)->isVisible(), p.noteShown);
    EXPECT_EQ(d.ControlAs<QLabel>(1050)->text(), DialogText(p.headingText));
    EXPECT_EQ(Ip(d, kPcAddress)->Address(), Ip4("10.0.0.1"));
}

INSTANTIATE_TEST_SUITE_P(
    PortOptions, SetNetworkRecOpening,
    ::testing::Values(
        // The radio rule enables fields again, but Save stays off: the record is view-only.
        Opening{"PortKindBelowSixIsViewOnly", TwoPort(5, 1, 2, 3, 0x92),
                {kLanManual, kPcManual, kDnsManual},
                {kLanManual, kLanDhcp, kPcManual, kPcDhcp, kLanAddress, kLanMask, kGateway,
                 kPort, kDnsManual, kDns1, kDns2},
                true, 449},
        Opening{"NoModeOptionDisablesAllRadios", TwoPort(6, 0, 2, 0, 0x90),
                {kLanManual, kPcManual, kDnsManual},
                {kLanAddress, kLanMask, kPcAddress, kPcMask, kGateway, kPort, kDns1, kDns2, 1},
                false, 449},
        Opening{"LanDhcp", TwoPort(6, 1, 2, 0, 0x92), {kLanDhcp, kPcManual, kDnsManual},
                {kLanManual, kLanDhcp, kPcManual, kPcDhcp, kPcAddress, kPcMask, kPort, kDnsAuto,
                 kDnsManual, kDns1, kDns2, 1},
                true, 449},
        Opening{"PcDhcp", TwoPort(6, 1, 2, 18, 0x92), {kLanManual, kPcDhcp, kDnsManual},
                {kLanManual, kLanDhcp, kPcManual, kPcDhcp, kLanAddress, kLanMask, kPort,
                 kDnsAuto, kDnsManual, kDns1, kDns2, 1},
                true, 449},
        Opening{"SinglePcOptionHidesTheNote", TwoPort(6, 1, 1, 3, 0x92),
                {kLanManual, kPcManual, kDnsManual},
                {kLanManual, kLanDhcp, kLanAddress, kLanMask, kGateway, kPort, kDnsManual, kDns1,
                 kDns2, 1},
                false, 451},
        Opening{"ManualWithAutoDnsKeepsDnsAutoDisabled", TwoPort(6, 1, 2, 3, 0x90),
                {kLanManual, kPcManual, kDnsAuto},
                {kLanManual, kLanDhcp, kPcManual, kPcDhcp, kLanAddress, kLanMask, kPcAddress,
                 kPcMask, kGateway, kPort, kDnsManual, 1},
                true, 449}),
    ByName{});

TEST(SetNetworkRecRadios, DhcpOnOnePortMakesTheOtherManual) {
    CSetNetworkRec d;
    d.SetRecord(TwoPort(6, 1, 2, 0, 0x92));
    d.show();
    Click(d, kPcDhcp);
    ExpectChecked(d, {kPcDhcp, kLanManual}, {kLanDhcp});
    ExpectEnabled(d, {kLanAddress}, {kPcAddress, kGateway});
    Click(d, kDnsAuto);
    EXPECT_FALSE(d.IsControlEnabled(kDns1));
    // Manual addressing on a port forces manual DNS.
    Click(d, kPcManual);
    EXPECT_TRUE(d.IsChecked(kDnsManual));
    ExpectEnabled(d, {kDns1, kGateway}, {kDnsAuto});
}

TEST(SetNetworkRecSave, ViewOnlyRecordCanOnlyGoBack) {
    CSetNetworkRec d;
    d.SetRecord(TwoPort(5, 1, 2, 3, 0x92));
    d.show();
    Click(d, 1);
    EXPECT_EQ(d.result(), 0);
    Click(d, 2);
    EXPECT_EQ(d.result(), CTemplateDialog::kResultCancel);
}

TEST(SetNetworkRecSave, PcDhcpSavesModeNineteenAndIgnoresAnEditedLanAddress) {
    CSetNetworkRec d;
    d.SetRecord(TwoPort(6, 1, 2, 18, 0x92));
    d.SetWaitForRestart(false);
    d.show();
    Ip(d, kLanAddress)->SetAddress(Ip4("192.168.0.99"));
    Click(d, 1);
    ASSERT_EQ(d.result(), CTemplateDialog::kResultOk);
    EXPECT_EQ(d.Record().ipv4Mode, 19);
    EXPECT_EQ(d.Record().primary.ipAddress, Ip4("192.168.0.10"));
    EXPECT_EQ(d.Record().secondary.ipAddress2, Ip4("10.0.0.1"));
    EXPECT_FALSE(d.WaitForRestart());
}

struct DnsSaveCase {
    const char* name;
    std::uint16_t optionA;
    std::uint8_t ipv4Mode;
    int savedMode;  // -1: not looked at
    std::uint8_t savedFlags;
};

class SetNetworkRecDnsSave : public testing::TestWithParam<DnsSaveCase> {};

TEST_P(SetNetworkRecDnsSave, SavesTheModeAndDnsFlags) {
    CSetNetworkRec d;
    d.SetRecord(TwoPort(6, GetParam().optionA, 2, GetParam().ipv4Mode, 0x90));
    d.show();
    Click(d, 1);
    ASSERT_EQ(d.result(), CTemplateDialog::kResultOk);
    if (GetParam().savedMode >= 0) {
        EXPECT_EQ(d.Record().ipv4Mode, GetParam().savedMode);
    }
    EXPECT_EQ(d.Record().flags, GetParam().savedFlags);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetNetworkRecDnsSave,
    testing::Values(DnsSaveCase{"WithoutModeOptionBothManualAndManualDns", 0, 0, 3, 0x92},
                    DnsSaveCase{"ManualWithAutoDnsAutoDns", 1, 3, -1, 0x90}),
    ByName{});

TEST(SetNetworkRecSave, DisabledPcMaskIsStillCheckedAndTakesTheFocus) {
    MessageBoxLog boxes;
    CSetNetworkRec d;
    d.SetRecord(TwoPort(6, 1, 1, 3, 0x92));
    ShowActive(d);
    Ip(d, kPcMask)->SetAddress(Ip4("255.0.255.0"));
    Click(d, 1);
    ASSERT_EQ(boxes.Ids(), std::vector<int>{423});
    EXPECT_EQ(boxes.boxes[0].extraText, "Subnet mask (255.0.255.0) cannot be set.");
    EXPECT_EQ(d.result(), 0);
}

TEST(SetNetworkRecSave, HttpsDeviceRefusesPortEighty) {
    MessageBoxLog boxes;
    CSetNetworkRec d;
    _CommandDataTable r = TwoPort(6, 1, 2, 3, 0x92);
    r.https = 1;
    r.primary.port = 443;
    d.SetRecord(r);
    ShowActive(d);
    EXPECT_EQ(Edit(d, kPort)->text(), "443");
    Edit(d, kPort)->setText("80");
    Click(d, 1);
    ASSERT_EQ(boxes.Ids(), std::vector<int>{428});
    EXPECT_EQ(FocusedControl(d), kPort);
    EXPECT_EQ(Edit(d, kPort)->selectedText(), "80");
}

}  // namespace
}  // namespace valdrune::test
