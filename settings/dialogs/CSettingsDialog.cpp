#include "settings/dialogs/CSettingsDialog.h"

#include <QPushButton>

#include "settings/dialogs/CIpAddressCtrl.h"

namespace valdrune {

CSettingsDialog::CSettingsDialog(QWidget* parent) : CTemplateDialog(parent) {}

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

CIpAddressCtrl* CSettingsDialog::Address(int id) const { return ControlAs<CIpAddressCtrl>(id); }

}  // namespace valdrune
