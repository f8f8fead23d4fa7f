// The single-port settings dialog driven by control id: what it shows for each kind and
// capability, how its radios steer the other controls, what Save refuses and in which order.
#include <QCheckBox>
#include <QClipboard>

#include <functional>

#include "dialogkit/ControlText.h"
#include "res/StringTable.h"
#include "settings/dialogs/CSetNetwork.h"
#include "settings/rules/SaveRules.h"
#include "tests/gui/settings/GuiSupport.h"
#include "tests/support/CaseNames.h"

namespace valdrune::test {
namespace {

using namespace ctl::single;

_CommandDataTable Device(std::uint8_t kind, std::uint8_t capability, std::uint8_t ipv4Mode,
                         std::uint8_t legacyAddressing) {
    return RecordBuilder(kind)
        .Address("192.168.0.10", "255.255.255.0", "192.168.0.1").Port(80).Capability(capability)
        .Ipv4Mode(ipv4Mode).Flags(legacyAddressing).Addressing(legacyAddressing);
}

struct Opening {
    const char* name;
    std::uint8_t kind, capability, ipv4Mode, legacyAddressing;
    int checkedMode;
    int checkedDns;  // 0: neither DNS radio
    bool autoIpVisible, autoAdvancedVisible;
    bool addressEnabled, dnsFieldsEnabled, portEnabled, dnsAutoEnabled;
};

class SetNetworkOpening : public ::testing::TestWithParam<Opening> {};

TEST_P(SetNetworkOpening, ShowsTheRecordUnderTheEnableRules) {
    const Opening& p = GetParam();
    CSetNetwork d;
    d.SetRecord(Device(p.kind, p.capability, p.ipv4Mode, p.legacyAddressing));
    d.show();
    for (int id : {kAutoAdvanced, kAutoIp, kDhcp, kStatic})
        EXPECT_EQ(d.IsChecked(id), id == p.checkedMode) << id;
    EXPECT_EQ(d.IsChecked(kDnsAuto), p.checkedDns == kDnsAuto);
    EXPECT_EQ(d.IsChecked(kDnsManual), p.checkedDns == kDnsManual);
    EXPECT_EQ(d.Control(kAutoIp)->isVisible(), p.autoIpVisible);
    EXPECT_EQ(d.Control(kAutoAdvanced)->isVisible(), p.autoAdvancedVisible);
    for (int id : {kAddress, kMask, kGateway}) EXPECT_EQ(d.IsControlEnabled(id), p.addressEnabled) << id;
    for (int id : {kDns1, kDns2}) EXPECT_EQ(d.IsControlEnabled(id), p.dnsFieldsEnabled) << id;
    EXPECT_EQ(d.IsControlEnabled(kPort), p.portEnabled);
    EXPECT_EQ(d.IsControlEnabled(kDnsAuto), p.dnsAutoEnabled);
    EXPECT_EQ(Ip(d, kAddress)->Address(), Ip4("192.168.0.10"));
    EXPECT_EQ(Ip(d, kDns1)->FieldText(0), "0");  // 0 shows as 0.0.0.0
}

INSTANTIATE_TEST_SUITE_P(
    KindsAndCapabilities, SetNetworkOpening,
    ::testing::Values(
        Opening{"StandardDhcpWithoutAutoModes", 48, 0, 0, 0x92, kDhcp, kDnsManual, false, false,
                false, true, true, true},
        Opening{"StandardAutoIpChecksTheHiddenRadio", 48, 0, 4, 0x92, kAutoIp, kDnsManual, false,
                false, false, true, true, true},
        Opening{"StandardStaticWithAutoDnsKeepsAutoDisabled", 48, 1, 3, 0x90, kStatic, kDnsAuto,
                true, false, true, false, true, false},
        Opening{"StandardAutoAdvancedDisablesThePort", 48, 2, 5, 0x92, kAutoAdvanced, kDnsManual,
                true, true, false, true, false, true},
        Opening{"LegacyAutoDisablesEverything", 3, 0, 0, 0xFF, kAutoAdvanced, 0, false, true,
                false, false, false, false},
        Opening{"LegacyDhcpKeepsThePort", 3, 0, 0, 1, kDhcp, 0, false, true, false, false, true,
                false},
        Opening{"LegacyStaticEnablesAddresses", 3, 0, 0, 0x12, kStatic, 0, false, true, true,
                true, true, false}),
    ByName{});

TEST(SetNetworkLayout, PlacesTheAutoRowsByCapabilityAndDropsAnEmptyRow) {
    CSetNetwork none, one, two, legacy;
    none.SetRecord(Device(48, 0, 3, 0x92));
    one.SetRecord(Device(48, 1, 3, 0x92));
    two.SetRecord(Device(48, 2, 3, 0x92));
    legacy.SetRecord(Device(3, 0, 0, 0x12));
    for (CSetNetwork* d : {&none, &one, &two, &legacy}) d->OnInitDialog();
    // Without Auto modes the dialog loses one radio row; the rows below move up with it.
    EXPECT_LT(none.height(), one.height());
    EXPECT_LT(none.Placement(kPort).top(), one.Placement(kPort).top());
    EXPECT_EQ(one.Placement(kAutoIp).left(), one.Placement(kStatic).left());
    EXPECT_GT(one.Placement(kAutoIp).top(), one.Placement(kStatic).top());
    EXPECT_EQ(two.Placement(kAutoAdvanced).left(), two.Placement(kDhcp).left());
    EXPECT_EQ(two.Placement(kAutoAdvanced).top(), two.Placement(kAutoIp).top());
    EXPECT_EQ(legacy.Placement(kAutoAdvanced).left(), legacy.Placement(kStatic).left());
    for (CSetNetwork* d : {&none, &one, &two, &legacy}) {
        // Label column and value column never overlap, radio columns keep apart, and the
        // dialog holds its widest row.
        EXPECT_LT(d->Placement(1007).right(), d->Placement(kAddress).left());
        EXPECT_LT(d->Placement(kStatic).right(), d->Placement(kDhcp).left());
        EXPECT_LT(d->Placement(kDnsAuto).right(), d->Placement(kDnsManual).left());
        EXPECT_LE(d->Placement(kDnsManual).right(), d->width());
        EXPECT_LE(d->Placement(2).right(), d->width());
    }
}

// Every row, the check box's included, fits the dialog in every language (the Portuguese
// check box text is wider than any radio row of a legacy or capability-0 device).
class SetNetworkLayoutByLanguage : public ::testing::TestWithParam<Language> {};

TEST_P(SetNetworkLayoutByLanguage, HoldsTheCheckBoxTextInsideTheDialog) {
    SetCurrentLanguage(GetParam());
    for (const _CommandDataTable& record :
         {Device(48, 0, 3, 0x92), Device(48, 1, 3, 0x92), Device(48, 2, 3, 0x92),
          Device(3, 0, 0, 0x12)}) {
        CSetNetwork d;
        d.SetRecord(record);
        d.OnInitDialog();
        auto* box = d.ControlAs<QCheckBox>(kWaitForRestart);
        ASSERT_NE(box, nullptr);
        EXPECT_GE(d.Placement(kWaitForRestart).width(),
                  CalcControlTextWidth(box, DialogText(444)));
        EXPECT_LE(d.Placement(kWaitForRestart).right(), d.Placement(2).right());
        EXPECT_LE(d.Placement(2).right(), d.width());
    }
    SetCurrentLanguage(Language::English);
}

std::string LanguageName(const testing::TestParamInfo<Language>& info) {
    const char* const names[] = {"English", "Japanese", "ChineseSimplified", "Portuguese"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Languages, SetNetworkLayoutByLanguage,
                         ::testing::Values(Language::English, Language::Japanese,
                                           Language::ChineseSimplified, Language::Portuguese),
    LanguageName);

TEST(SetNetworkRadios, StaticForcesManualDnsAndDhcpReleasesIt) {
    CSetNetwork d;
    d.SetRecord(Device(48, 2, 0, 0x90));
    d.show();
    ASSERT_TRUE(d.IsChecked(kDnsAuto));
    EXPECT_FALSE(d.IsControlEnabled(kDns1));

    Click(d, kStatic);
    ExpectChecked(d, {kStatic, kDnsManual}, {kDhcp, kDnsAuto});
    ExpectEnabled(d, {kAddress, kDns1}, {kDnsAuto});

    Click(d, kDhcp);
    EXPECT_TRUE(d.IsChecked(kDnsManual));
    ExpectEnabled(d, {kDnsAuto}, {kGateway});

    Click(d, kDnsAuto);
    EXPECT_FALSE(d.IsChecked(kDnsManual));
    EXPECT_FALSE(d.IsControlEnabled(kDns2));

    Click(d, kAutoAdvanced);
    EXPECT_FALSE(d.IsControlEnabled(kPort));
    Click(d, kAutoIp);
    EXPECT_TRUE(d.IsControlEnabled(kPort));
    // A second click on a checked radio keeps it checked.
    Click(d, kAutoIp);
    EXPECT_TRUE(d.IsChecked(kAutoIp));
}

// ---- Save ----

struct Refusal {
    const char* name;
    _CommandDataTable record;
    std::function<void(CSetNetwork&)> edit;
    int messageId;
    int focus;         // -1: a disabled control is named, which cannot take the focus
    const char* text;  // expected formatted text, empty: not checked
};

class SetNetworkSave : public ::testing::TestWithParam<Refusal> {};

TEST_P(SetNetworkSave, RefusesWithMessageAndFocusAndKeepsTheRecord) {
    const Refusal& p = GetParam();
    MessageBoxLog boxes;
    CSetNetwork d;
    d.SetRecord(p.record);
    ShowActive(d);
    p.edit(d);
    Click(d, 1);
    ASSERT_EQ(boxes.Ids(), std::vector<int>{p.messageId});
    EXPECT_EQ(boxes.boxes[0].boxType, 0x30);
    EXPECT_EQ(boxes.boxes[0].owner, &d);
    if (*p.text != 0) {
        EXPECT_EQ(boxes.boxes[0].extraText, p.text);
    }
    if (p.focus >= 0) {
        EXPECT_EQ(FocusedControl(d), p.focus);
    }
    EXPECT_EQ(d.result(), 0);
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(d.Record().primary.ipAddress, p.record.primary.ipAddress);
    EXPECT_EQ(d.Record().primary.port, p.record.primary.port);
}

void SetPort(CSetNetwork& d, const char* text) { Edit(d, kPort)->setText(text); }
void SetIp(CSetNetwork& d, int id, const char* dotted) { Ip(d, id)->SetAddress(Ip4(dotted)); }

INSTANTIATE_TEST_SUITE_P(
    RefusalOrder, SetNetworkSave,
    ::testing::Values(
        Refusal{"StaticWithAutoDnsComesBeforeThePort", Device(48, 1, 3, 0x90),
                [](CSetNetwork& d) { SetPort(d, ""); }, 437, -1, ""},
        Refusal{"EmptyPort", Device(48, 1, 3, 0x92), [](CSetNetwork& d) { SetPort(d, ""); },
                429, kPort, ""},
        Refusal{"PortOfAnotherService", Device(48, 1, 3, 0x92),
                [](CSetNetwork& d) { SetPort(d, "21"); }, 428, kPort,
                "Port no. 21 cannot be set."},
        Refusal{"LegacyPortZero", Device(3, 0, 0, 0x12), [](CSetNetwork& d) { SetPort(d, "0"); },
                428, kPort, "Port no. 0 cannot be set."},
        Refusal{"ZeroAddressBeforeMask", Device(48, 1, 3, 0x92),
                [](CSetNetwork& d) {
                    SetIp(d, kAddress, "0.0.0.0");
                    SetIp(d, kMask, "255.0.255.0");
                },
                422, kAddress, "IPv4 address (0.0.0.0) cannot be set."},
        Refusal{"MaskWithAGap", Device(48, 1, 3, 0x92),
                [](CSetNetwork& d) { SetIp(d, kMask, "255.0.255.0"); }, 423, kMask,
                "Subnet mask (255.0.255.0) cannot be set."},
        Refusal{"ZeroGatewayWithoutCapability", Device(48, 0, 3, 0x92),
                [](CSetNetwork& d) { SetIp(d, kGateway, "0.0.0.0"); }, 424, kGateway, ""},
        Refusal{"GatewayInAnotherSubnet", Device(48, 1, 3, 0x92),
                [](CSetNetwork& d) { SetIp(d, kGateway, "192.168.1.1"); }, 427, kAddress, ""},
        Refusal{"LoopbackDns", Device(48, 1, 3, 0x92),
                [](CSetNetwork& d) { SetIp(d, kDns1, "127.0.0.1"); }, 425, kDns1,
                "Primary DNS address (127.0.0.1) cannot be set"},
        Refusal{"DnsOnTheSubnetBroadcast", Device(48, 1, 3, 0x92),
                [](CSetNetwork& d) { SetIp(d, kDns2, "192.168.0.255"); }, 427, kAddress, ""}),
    ByName{});

TEST(SetNetworkSaveAccepted, StandardStaticWritesBothBlocksAndTheWaitChoice) {
    MessageBoxLog boxes;
    CSetNetwork d;
    d.SetRecord(Device(48, 1, 3, 0x92));
    d.SetWaitForRestart(true);
    d.show();
    EXPECT_TRUE(d.IsChecked(kWaitForRestart));
    SetIp(d, kAddress, "10.1.2.3");
    SetIp(d, kMask, "255.255.0.0");
    SetIp(d, kGateway, "0.0.0.0");  // allowed with capability 1
    SetIp(d, kDns1, "8.8.8.8");
    SetPort(d, "8080");
    Click(d, kWaitForRestart);
    Click(d, 1);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(d.result(), CTemplateDialog::kResultOk);
    const _CommandDataTable& r = d.Record();
    EXPECT_EQ(r.primary.ipAddress, Ip4("10.1.2.3"));
    EXPECT_EQ(r.secondary.ipAddress, Ip4("10.1.2.3"));
    EXPECT_EQ(r.secondary.dns1, Ip4("8.8.8.8"));
    EXPECT_EQ(r.primary.gateway, 0u);
    EXPECT_EQ(r.primary.port, 8080);
    EXPECT_EQ(r.ipv4Mode, 3);
    EXPECT_EQ(r.flags, 0x92);
    EXPECT_FALSE(d.WaitForRestart());
}

TEST(SetNetworkSaveAccepted, LegacyDhcpClearsDnsWhateverTheFieldsShow) {
    CSetNetwork d;
    _CommandDataTable record = Device(3, 0, 0, 1);
    record.primary.dns1 = Ip4("8.8.8.8");
    d.SetRecord(record);
    d.show();
    Click(d, 1);
    ASSERT_EQ(d.result(), CTemplateDialog::kResultOk);
    EXPECT_EQ(d.Record().primary.dns1, 0u);
    EXPECT_EQ(d.Record().legacyWord, 0x0F00);
    EXPECT_EQ(d.Record().legacyAddressing, 0x11);
    EXPECT_EQ(d.Record().flags, 0x11);
}

TEST(SetNetworkBack, EndsWithCancelAndLeavesTheRecord) {
    CSetNetwork d;
    const _CommandDataTable record = Device(48, 1, 3, 0x92);
    d.SetRecord(record);
    d.show();
    SetIp(d, kAddress, "10.9.9.9");
    Click(d, 2);
    EXPECT_EQ(d.result(), CTemplateDialog::kResultCancel);
    EXPECT_EQ(d.Record().primary.ipAddress, record.primary.ipAddress);
}

TEST(SetNetworkKeys, ReturnSavesThroughTheDefaultButtonAndEscapeGoesBack) {
    MessageBoxLog boxes;
    CSetNetwork saved, left;
    saved.SetRecord(Device(48, 1, 3, 0x92));
    left.SetRecord(Device(48, 1, 3, 0x92));
    ShowActive(saved);
    Edit(saved, kPort)->setFocus();
    Edit(saved, kPort)->setText("8080");
    QTest::keyClick(Edit(saved, kPort), Qt::Key_Return);
    EXPECT_EQ(saved.result(), CTemplateDialog::kResultOk);
    EXPECT_EQ(saved.Record().primary.port, 8080);
    ShowActive(left);
    QTest::keyClick(Edit(left, kPort), Qt::Key_Escape);
    EXPECT_EQ(left.result(), CTemplateDialog::kResultCancel);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST(SetNetworkPort, ShowsEightyForAPortTheRuleRefuses) {
    CSetNetwork d;
    _CommandDataTable record = Device(48, 1, 3, 0x92);
    record.primary.port = 21;
    d.SetRecord(record);
    d.OnInitDialog();
    EXPECT_EQ(Edit(d, kPort)->text(), "80");
    EXPECT_EQ(Edit(d, kPort)->maxLength(), 5);
}

}  // namespace
}  // namespace valdrune::test
