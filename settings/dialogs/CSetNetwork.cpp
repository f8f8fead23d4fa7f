#include "settings/dialogs/CSetNetwork.h"

#include <QCheckBox>
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

enum Group { kModeGroup = 1, kDnsGroup = 2 };

constexpr int kModeLabel = 1005;
constexpr int kPortLabel = 1006;
constexpr int kDnsLabel = 1010;
constexpr int kLastLabel = 1012;
constexpr int kSave = 1;
constexpr int kBack = 2;

constexpr std::initializer_list<int> kAddressControls = {1015, 1016, 1017, 1018, 1019};
constexpr std::initializer_list<int> kModeRadios = {1024, 1022, 1013, 1023};

}  // namespace

CSetNetwork::CSetNetwork(QWidget* parent)
    : CSettingsDialog(parent, {kDnsLabel, ctl::single::kDnsAuto, ctl::single::kDnsManual,
                               ctl::single::kDns1, ctl::single::kDns2}) {
    using namespace ctl::single;
    SetTemplateSize(239, 240);
    AddLabel(kModeLabel, 10, 25, 90, 10);
    AddRadio(kAutoAdvanced, kModeGroup, 177, 40, 55, 10)->hide();
    AddRadio(kStatic, kModeGroup, 115, 25, 55, 10);
    AddRadio(kDhcp, kModeGroup, 177, 25, 55, 10);
    AddRadio(kAutoIp, kModeGroup, 115, 40, 55, 10)->hide();
    AddPortRow(kPortLabel, 10, 60, kPort, 57);
    const int labels[] = {1007, 1008, 1009};
    const int addresses[] = {kAddress, kMask, kGateway};
    for (int i = 0; i < 3; ++i)
        AddAddressRow(labels[i], 10, 80 + 20 * i, addresses[i], 77 + 20 * i);
    AddLabel(kDnsLabel, 10, 140, 90, 10);
    AddRadio(kDnsAuto, kDnsGroup, 119, 139, 55, 10);
    AddRadio(kDnsManual, kDnsGroup, 177, 139, 55, 10);
    AddAddressRow(1011, 10, 160, kDns1, 157);
    AddAddressRow(kLastLabel, 10, 180, kDns2, 177);
    Place(kWaitForRestart, new QCheckBox(this), 117, 197, 115, 10);
    AddSaveAndBack(219);
}

void CSetNetwork::InitControls() {
    using namespace ctl::single;
    SetTexts();
    FitLayout();
    ChooseInitialRadios();
    port_->setMaxLength(5);
    port_->setText(QString::number(static_cast<int>(InitialPort(record_))));
    Address(kAddress)->SetAddress(record_.primary.ipAddress);
    Address(kMask)->SetAddress(record_.primary.subnetMask);
    Address(kGateway)->SetAddress(record_.primary.gateway);
    Address(kDns1)->SetAddress(record_.primary.dns1);
    Address(kDns2)->SetAddress(record_.primary.dns2);
    CheckControl(kWaitForRestart, waitForRestart_);
}

void CSetNetwork::SetTexts() {
    using namespace ctl::single;
    const bool standard = record_.kind == DEVICE_KIND_STANDARD;
    setWindowTitle(DialogText(401));
    SetControlTextId(kModeLabel, standard ? 402 : 403);
    SetControlTextId(kAutoAdvanced, standard ? 414 : 417);
    SetControlTextId(kStatic, standard ? 412 : 416);
    SetControlTextId(kDhcp, standard ? 411 : 415);
    SetControlTextId(kAutoIp, standard ? 413 : 0);
    for (int id = kPortLabel; id <= kLastLabel; ++id) SetControlTextId(id, 404 + (id - kPortLabel));
    SetControlTextId(kDnsAuto, 418);
    SetControlTextId(kDnsManual, 419);
    SetControlTextId(kWaitForRestart, 444);
    SetControlTextId(kSave, 420);
    SetControlTextId(kBack, 421);
}

void CSetNetwork::FitLayout() {
    using namespace ctl::single;
    const bool standard = record_.kind == DEVICE_KIND_STANDARD;
    // The label column takes the width of its widest text; the right-hand column follows it.
    int labelWidth = 0;
    for (int textId = 402; textId <= 410; ++textId)
        labelWidth = std::max(labelWidth,
                              CalcControlTextWidth(Control(kModeLabel), DialogText(textId)));
    const int s = Placement(kPortLabel).width() - labelWidth;
    for (int id = kModeLabel; id <= kLastLabel; ++id) SetControlWidth(id, labelWidth);

    // Mode radios: the second column keeps 5 pixels clear of the widest text.
    std::vector<int> modeTexts;
    if (standard) {
        modeTexts = {411, 412};
        if (record_.capabilityFlag >= 1) modeTexts.push_back(413);
        if (record_.capabilityFlag >= 2) modeTexts.push_back(414);
    } else {
        modeTexts = {415, 416, 417};
    }
    int d = 0;
    for (int textId : modeTexts)
        d = std::max(d, CalcControlTextWidth(Control(kDhcp), DialogText(textId)));
    const int modeDistance = Placement(kDhcp).left() - Placement(kStatic).left();
    if (modeDistance < d) {
        MoveControlBy(kDhcp, d - modeDistance + 5, 0);
        MoveControlBy(kAutoAdvanced, d - modeDistance + 5, 0);
    }
    for (int id : kModeRadios) SetControlWidth(id, d);

    // DNS radios: the same rule. Only the second radio moves, so that the two texts keep apart.
    FitDnsRadios();

    // The check box row counts too: its text is longer than the radios' in some languages.
    const int checkBoxWidth = CalcControlTextWidth(Control(kWaitForRestart), DialogText(444));
    const int rightmost =
        std::max({Placement(kAutoAdvanced).right(), Placement(kDnsManual).right(),
                  Placement(kWaitForRestart).left() + checkBoxWidth - 1});
    const int g = std::max(0, rightmost - Placement(kBack).right());

    for (int id : kModeRadios) MoveControlBy(id, -s, 0);
    for (int id : {int(kDnsAuto), int(kDnsManual), int(kPort), int(kWaitForRestart)})
        MoveControlBy(id, -s, 0);
    for (int id : kAddressControls) MoveControlBy(id, -s, 0);
    MoveControlBy(kSave, -(s - g), 0);
    MoveControlBy(kBack, -(s - g), 0);
    WidenBy(g - s);

    SetControlWidth(kWaitForRestart, checkBoxWidth);

    // Mode rows: the second row holds whichever Auto radios this device offers.
    const QRect row2Left = Placement(kAutoIp);
    const auto placeInSecondRow = [&](int id, int underId) {
        QRect r = Placement(id);
        r.moveTo(Placement(underId).left(), row2Left.top());
        SetPlacement(id, r);
        Control(id)->show();
    };
    if (standard && record_.capabilityFlag == 0) {
        Control(kAutoAdvanced)->hide();
        Control(kAutoIp)->hide();
        const int dy = Placement(kDns1).top() - Placement(kDnsAuto).top() - 5;
        for (int id = kPortLabel; id <= kLastLabel; ++id) MoveControlBy(id, 0, -dy);
        for (int id = kPort; id <= kDnsManual; ++id) MoveControlBy(id, 0, -dy);
        for (int id : {int(kWaitForRestart), kSave, kBack}) MoveControlBy(id, 0, -dy);
        GrowDownBy(-dy);
    } else if (standard && record_.capabilityFlag == 1) {
        Control(kAutoAdvanced)->hide();
        placeInSecondRow(kAutoIp, kStatic);
    } else if (standard) {
        placeInSecondRow(kAutoIp, kStatic);
        placeInSecondRow(kAutoAdvanced, kDhcp);
    } else {
        Control(kAutoIp)->hide();
        placeInSecondRow(kAutoAdvanced, kStatic);
    }
}

// Checks id and unchecks the other radios of its group.
void CSetNetwork::SelectRadio(int id) {
    const auto* radio = ControlAs<CRadioButton>(id);
    if (radio == nullptr) return;
    if (radio->Group() == kModeGroup) {
        for (int other : kModeRadios) CheckControl(other, other == id);
    } else {
        SelectDns(id);
    }
}

void CSetNetwork::ChooseInitialRadios() {
    using namespace ctl::single;
    if (record_.kind == DEVICE_KIND_STANDARD) {
        int mode = kStatic;
        switch (record_.ipv4Mode) {
        case 5: mode = kAutoAdvanced; break;
        case 4: mode = kAutoIp; break;
        case 0: mode = kDhcp; break;
        default: break;
        }
        SelectRadio(mode);
        OnRadioClicked(mode);
        ChooseInitialDns();
    } else {
        int mode = kStatic;
        if (record_.legacyAddressing == 0xFF) mode = kAutoAdvanced;
        else if (record_.legacyAddressing == 1) mode = kDhcp;
        SelectRadio(mode);
        OnRadioClicked(mode);
        // Older devices have no DNS mode of their own.
        DisableDnsMode();
        CheckControl(kDnsAuto, false);
        CheckControl(kDnsManual, false);
    }
}

void CSetNetwork::OnRadioClicked(int id) {
    using namespace ctl::single;
    if (record_.kind == DEVICE_KIND_LEGACY) {
        if (id == kDhcp || id == kAutoAdvanced) {
            for (int c : kAddressControls) EnableControl(c, false);
            EnableControl(kPort, id == kDhcp);
        } else if (id == kStatic) {
            for (int c : kAddressControls) EnableControl(c, true);
            EnableControl(kPort, true);
        }
        return;
    }
    if (record_.kind != DEVICE_KIND_STANDARD) return;
    if (IsDnsRadio(id)) {
        DnsRule(id);
        return;
    }
    if (id == kStatic) {
        for (int c : {kAddress, kMask, kGateway}) EnableControl(c, true);
        RequireManualDns();
    } else if (id == kDhcp || id == kAutoIp || id == kAutoAdvanced) {
        for (int c : {kAddress, kMask, kGateway}) EnableControl(c, false);
        OfferBothDns();
    } else {
        return;
    }
    EnableControl(kPort, id != kAutoAdvanced);
}

void CSetNetwork::OnSave() {
    using namespace ctl::single;
    SinglePortEntry entry;
    entry.mode = AddressModeFromRadios(IsChecked(kAutoAdvanced), IsChecked(kAutoIp),
                                       IsChecked(kDhcp), IsChecked(kStatic));
    entry.dns = DnsModeFromRadios(IsChecked(kDnsAuto), IsChecked(kDnsManual));
    entry.portText = port_->text().toStdString();
    entry.address = Address(kAddress)->Address();
    entry.mask = Address(kMask)->Address();
    entry.gateway = Address(kGateway)->Address();
    entry.dns1 = Address(kDns1)->Address();
    entry.dns2 = Address(kDns2)->Address();
    entry.waitForRestart = IsChecked(kWaitForRestart);
    EndSave(ValidateSinglePortSave(entry, record_));
}

}  // namespace valdrune
