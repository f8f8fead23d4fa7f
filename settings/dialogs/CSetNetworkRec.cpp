#include "settings/dialogs/CSetNetworkRec.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <initializer_list>

#include "dialogkit/ControlText.h"
#include "settings/dialogs/CEditCtrlEx.h"
#include "settings/dialogs/CIpAddressCtrl.h"
#include "settings/rules/SaveRules.h"

namespace valdrune {

namespace {

enum Group { kLanGroup = 1, kPcGroup = 2, kDnsGroup = 3 };

constexpr int kNote = 1040;
constexpr int kLanModeLabel = 1051;
constexpr int kCommonHeading = 1070;
constexpr int kPortLabel = 1073;
constexpr int kDnsLabel = 1075;
constexpr int kSave = 1;
constexpr int kBack = 2;

// Labels of the value rows, which share the label column's width.
constexpr int kValueLabels[] = {1051, 1073, 1054, 1056, 1071, 1064, 1066, 1075, 1078, 1080};

}  // namespace

// A port's block, laid out and titled alike for both ports: the heading, the mode row with its
// manual and DHCP radios, then the address and mask rows. The template spaces the two blocks'
// rows a little differently, so each row keeps its own y.
struct CSetNetworkRec::PortBlock {
    struct Row {
        int label, labelY, field, fieldY;
    };
    int group;
    int heading, headingY;
    int modeLabel, manual, dhcp, modeY;
    Row address, mask;
};

const CSetNetworkRec::PortBlock CSetNetworkRec::kLanBlock{
    kLanGroup, 1050, 28, kLanModeLabel, ctl::two::kLanManual, ctl::two::kLanDhcp, 44,
    {1054, 62, ctl::two::kLanAddress, 59}, {1056, 84, ctl::two::kLanMask, 81}};
const CSetNetworkRec::PortBlock CSetNetworkRec::kPcBlock{
    kPcGroup, 1060, 104, 1061, ctl::two::kPcManual, ctl::two::kPcDhcp, 120,
    {1064, 137, ctl::two::kPcAddress, 134}, {1066, 158, ctl::two::kPcMask, 156}};

CSetNetworkRec::CSetNetworkRec(QWidget* parent)
    : CSettingsDialog(parent, {kDnsLabel, ctl::two::kDnsAuto, ctl::two::kDnsManual,
                               ctl::two::kDns1, ctl::two::kDns2}) {
    using namespace ctl::two;
    SetTemplateSize(239, 319);
    auto* note = AddLabel(kNote, 10, 6, 222, 20, false);
    note->setWordWrap(true);
    AddPortBlock(kLanBlock);
    AddPortBlock(kPcBlock);
    AddLabel(kCommonHeading, 10, 179, 90, 10);
    AddAddressRow(1071, 22, 195, kGateway, 193);
    AddPortRow(kPortLabel, 22, 215, kPort, 213);
    AddLabel(kDnsLabel, 22, 235, 90, 10);
    AddRadio(kDnsAuto, kDnsGroup, 115, 235, 55, 10);
    AddRadio(kDnsManual, kDnsGroup, 177, 235, 55, 10);
    AddAddressRow(1078, 22, 255, kDns1, 252);
    AddAddressRow(1080, 22, 276, kDns2, 274);
    AddSaveAndBack(298);
}

void CSetNetworkRec::AddPortBlock(const PortBlock& b) {
    AddLabel(b.heading, 10, b.headingY, 90, 10);
    AddLabel(b.modeLabel, 22, b.modeY, 90, 10);
    AddRadio(b.manual, b.group, 115, b.modeY, 55, 10);
    AddRadio(b.dhcp, b.group, 177, b.modeY, 55, 10);
    for (const PortBlock::Row& r : {b.address, b.mask})
        AddAddressRow(r.label, 22, r.labelY, r.field, r.fieldY);
}

void CSetNetworkRec::SetPortTexts(const PortBlock& b, int headingText) {
    SetControlTextId(b.heading, headingText);
    SetControlTextId(b.modeLabel, 402);
    SetControlTextId(b.manual, 412);
    SetControlTextId(b.dhcp, 411);
    SetControlTextId(b.address.label, 405);
    SetControlTextId(b.mask.label, 406);
}

void CSetNetworkRec::InitControls() {
    SetTexts();
    FitLayout();
    SetValues();
    ChooseInitialRadios();
}

void CSetNetworkRec::SetTexts() {
    using namespace ctl::two;
    setWindowTitle(DialogText(401));
    SetControlTextId(kNote, 448);
    SetPortTexts(kLanBlock, record_.portOptionB >= 2 ? 449 : 451);
    SetPortTexts(kPcBlock, 450);
    SetControlTextId(kCommonHeading, 452);
    SetControlTextId(1071, 407);
    SetControlTextId(kPortLabel, 404);
    SetControlTextId(kDnsLabel, 408);
    SetControlTextId(kDnsAuto, 418);
    SetControlTextId(kDnsManual, 419);
    SetControlTextId(1078, 409);
    SetControlTextId(1080, 410);
    SetControlTextId(kSave, 420);
    SetControlTextId(kBack, 421);
}

void CSetNetworkRec::FitLayout() {
    using namespace ctl::two;
    int labelWidth = 0;
    for (int textId : {402, 404, 405, 406, 407, 408, 409, 410})
        labelWidth = std::max(labelWidth,
                              CalcControlTextWidth(Control(kLanModeLabel), DialogText(textId)));
    const int s = Placement(kPortLabel).width() - labelWidth;
    for (int id : kValueLabels) SetControlWidth(id, labelWidth);

    int d = CalcControlTextWidth(Control(kLanDhcp), DialogText(412));
    if (record_.portOptionA != 0)
        d = std::max(d, CalcControlTextWidth(Control(kLanDhcp),
                                             DialogText(record_.portOptionB >= 2 ? 449 : 411)));
    const int modeDistance = Placement(kLanDhcp).left() - Placement(kLanManual).left();
    if (modeDistance < d) {
        MoveControlBy(kLanDhcp, d - modeDistance + 5, 0);
        MoveControlBy(kPcDhcp, d - modeDistance + 5, 0);
    }
    for (int id : {kLanManual, kLanDhcp, kPcManual, kPcDhcp}) SetControlWidth(id, d);

    FitDnsRadios();

    const int rightmost = std::max(Placement(kPcDhcp).right(), Placement(kDnsManual).right());
    const int g = std::max(0, rightmost - Placement(kBack).right());
    for (int id : {kLanManual, kLanDhcp, kPcManual, kPcDhcp, kDnsAuto, kDnsManual, kPort,
                   kLanAddress, kLanMask, kGateway, kPcAddress, kPcMask, kDns1, kDns2})
        MoveControlBy(id, -s, 0);
    MoveControlBy(kSave, -(s - g), 0);
    MoveControlBy(kBack, -(s - g), 0);
    SetControlWidth(kNote, Placement(kNote).width() + g - s);
    WidenBy(g - s);
}

void CSetNetworkRec::SetValues() {
    using namespace ctl::two;
    const bool viewOnly = record_.portKind < 6;
    port_->setMaxLength(5);
    port_->setText(QString::number(static_cast<int>(InitialPort(record_))));
    if (viewOnly) EnableControl(kPort, false);
    Address(kLanAddress)->SetAddress(record_.primary.ipAddress);
    Address(kLanMask)->SetAddress(record_.primary.subnetMask);
    Address(kGateway)->SetAddress(record_.primary.gateway);
    Address(kPcAddress)->SetAddress(record_.primary.ipAddress2);
    Address(kPcMask)->SetAddress(record_.primary.subnetMask2);
    if (viewOnly) {
        for (int id : {kLanAddress, kLanMask, kGateway, kPcAddress, kPcMask})
            EnableControl(id, false);
    } else if (record_.portOptionB == 1) {
        EnableControl(kPcAddress, false);
        EnableControl(kPcMask, false);
    }
    Control(kNote)->setVisible(record_.portOptionA != 0 && record_.portOptionB >= 2);
    Address(kDns1)->SetAddress(record_.primary.dns1);
    Address(kDns2)->SetAddress(record_.primary.dns2);
    if (viewOnly) {
        EnableControl(kDns1, false);
        EnableControl(kDns2, false);
        EnableControl(kSave, false);
    }
}

void CSetNetworkRec::SelectRadio(int id, int otherOfPair) {
    CheckControl(id, true);
    CheckControl(otherOfPair, false);
}

void CSetNetworkRec::ChooseInitialRadios() {
    using namespace ctl::two;
    const bool modesOffered = record_.portOptionA != 0;
    if (modesOffered && record_.ipv4Mode == 0) {
        SelectRadio(kPcManual, kPcDhcp);
        SelectRadio(kLanDhcp, kLanManual);
        OnRadioClicked(kLanDhcp);
    } else if (modesOffered && record_.ipv4Mode == 18) {
        SelectRadio(kLanManual, kLanDhcp);
        SelectRadio(kPcDhcp, kPcManual);
        OnRadioClicked(kPcDhcp);
    } else {
        SelectRadio(kPcManual, kPcDhcp);
        SelectRadio(kLanManual, kLanDhcp);
        OnRadioClicked(kLanManual);
    }
    EnableControl(kLanManual, modesOffered);
    EnableControl(kLanDhcp, modesOffered);
    EnableControl(kPcManual, modesOffered && record_.portOptionB >= 2);
    EnableControl(kPcDhcp, modesOffered && record_.portOptionB >= 2);
    if (modesOffered) ChooseInitialDns();
    else DisableDnsMode();
}

void CSetNetworkRec::OnRadioClicked(int id) {
    using namespace ctl::two;
    switch (id) {
    case kLanManual:
    case kPcManual:
        EnableControl(id == kLanManual ? kLanAddress : kPcAddress, true);
        EnableControl(id == kLanManual ? kLanMask : kPcMask, true);
        EnableControl(kGateway, true);
        EnableControl(kPort, true);
        RequireManualDns();
        break;
    case kLanDhcp:
    case kPcDhcp:
        DhcpClicked(id == kLanDhcp);
        break;
    case kDnsAuto:
    case kDnsManual:
        DnsRule(id);
        break;
    default:
        break;
    }
}

// DHCP on one port: its address and mask come from the server and the other port takes fixed
// addressing, since at most one port may use DHCP. The PC port's side follows only when the
// device has that port.
void CSetNetworkRec::DhcpClicked(bool onLan) {
    using namespace ctl::two;
    EnableControl(kLanAddress, !onLan);
    EnableControl(kLanMask, !onLan);
    if (record_.portOptionB > 1) {
        EnableControl(kPcAddress, onLan);
        EnableControl(kPcMask, onLan);
        const PortBlock& other = onLan ? kPcBlock : kLanBlock;
        SelectRadio(other.manual, other.dhcp);
    }
    EnableControl(kGateway, false);
    OfferBothDns();
}

void CSetNetworkRec::OnSave() {
    using namespace ctl::two;
    TwoPortEntry entry;
    entry.mode = TwoPortModeFromRadios(IsChecked(kLanDhcp), IsChecked(kPcDhcp),
                                       IsChecked(kLanManual));
    entry.dnsAutoChecked = IsChecked(kDnsAuto);
    entry.portText = port_->text().toStdString();
    entry.lanAddress = Address(kLanAddress)->Address();
    entry.lanMask = Address(kLanMask)->Address();
    entry.pcAddress = Address(kPcAddress)->Address();
    entry.pcMask = Address(kPcMask)->Address();
    entry.gateway = Address(kGateway)->Address();
    entry.dns1 = Address(kDns1)->Address();
    entry.dns2 = Address(kDns2)->Address();
    EndSave(ValidateTwoPortSave(entry, record_, waitForRestart_));
}

}  // namespace valdrune
