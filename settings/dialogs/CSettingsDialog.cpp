#include "settings/dialogs/CSettingsDialog.h"

#include <QPushButton>

#include <algorithm>

#include "dialogkit/ControlText.h"

#include "settings/dialogs/CEditCtrlEx.h"
#include "settings/dialogs/CIpAddressCtrl.h"
#include "settings/dialogs/SaveRefusal.h"
#include "settings/rules/SaveRules.h"

namespace valdrune {

CSettingsDialog::CSettingsDialog(QWidget* parent, DnsControls dns)
    : CTemplateDialog(parent), dns_(dns) {}

void CSettingsDialog::OnInitDialog() {
    if (initialised_) return;
    initialised_ = true;
    InitControls();
}

void CSettingsDialog::showEvent(QShowEvent* event) {
    OnInitDialog();
    CTemplateDialog::showEvent(event);
}

void CSettingsDialog::AddSaveAndBack(int y) {
    auto* save = AddButton(1, 110, y, 50, 14, true);
    auto* back = AddButton(2, 182, y, 50, 14);
    QObject::connect(save, &QPushButton::clicked, this, [this] { OnSave(); });
    QObject::connect(back, &QPushButton::clicked, this, [this] { reject(); });
}

void CSettingsDialog::AddAddress(int id, int x, int y) {
    octets_.Attach(id, *Place(id, new CIpAddressCtrl(this), x, y, 100, 15));
}

void CSettingsDialog::AddAddressRow(int label, int labelX, int labelY, int address, int y) {
    AddLabel(label, labelX, labelY, 90, 10);
    AddAddress(address, 115, y);
}

void CSettingsDialog::AddPortRow(int label, int labelX, int labelY, int port, int y) {
    AddLabel(label, labelX, labelY, 90, 10);
    port_ = Place(port, new CEditCtrlEx(this), 115, y, 35, 14);
}

CIpAddressCtrl* CSettingsDialog::Address(int id) const { return ControlAs<CIpAddressCtrl>(id); }

void CSettingsDialog::SelectDns(int id) {
    CheckControl(dns_.autoRadio, id == dns_.autoRadio);
    CheckControl(dns_.manualRadio, id == dns_.manualRadio);
}

void CSettingsDialog::DnsRule(int id) {
    EnableControl(dns_.dns1, id == dns_.manualRadio);
    EnableControl(dns_.dns2, id == dns_.manualRadio);
}

void CSettingsDialog::ChooseInitialDns() {
    const int dns = (record_.legacyAddressing & 0x92) == 0x90 ? dns_.autoRadio : dns_.manualRadio;
    SelectDns(dns);
    DnsRule(dns);
}

void CSettingsDialog::RequireManualDns() {
    SelectDns(dns_.manualRadio);
    EnableControl(dns_.autoRadio, false);
    EnableControl(dns_.manualRadio, true);
    DnsRule(dns_.manualRadio);
}

void CSettingsDialog::OfferBothDns() {
    EnableControl(dns_.autoRadio, true);
    EnableControl(dns_.manualRadio, true);
    DnsRule(IsChecked(dns_.manualRadio) ? dns_.manualRadio : dns_.autoRadio);
}

void CSettingsDialog::DisableDnsMode() {
    for (int id : {dns_.label, dns_.autoRadio, dns_.manualRadio}) EnableControl(id, false);
}

void CSettingsDialog::FitDnsRadios() {
    const int e = std::max(CalcControlTextWidth(Control(dns_.autoRadio), DialogText(418)),
                           CalcControlTextWidth(Control(dns_.autoRadio), DialogText(419)));
    const int distance = Placement(dns_.manualRadio).left() - Placement(dns_.autoRadio).left();
    if (distance < e) MoveControlBy(dns_.manualRadio, e - distance + 5, 0);
    SetControlWidth(dns_.autoRadio, e);
    SetControlWidth(dns_.manualRadio, e);
}

void CSettingsDialog::EndSave(const SaveResult& result) {
    if (!result.ok) {
        ShowSaveRefusal(*this, result);
        return;
    }
    record_ = result.record;
    waitForRestart_ = result.waitForRestart;
    accept();
}

}  // namespace valdrune
