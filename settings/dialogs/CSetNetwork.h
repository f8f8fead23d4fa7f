// The settings dialog of single-port devices: address mode, HTTP port, IPv4 address, mask,
// gateway, DNS mode and servers, and whether to wait for the device's restart afterwards.
#pragma once

#include "settings/dialogs/CSettingsDialog.h"

namespace valdrune {

class CSetNetwork : public CSettingsDialog {
public:
    static constexpr int kTemplateId = 130;

    explicit CSetNetwork(QWidget* parent = nullptr);

    void OnSave() override;

protected:
    void InitControls() override;
    // The radios' rules, on a click and for the initial choice.
    void OnRadioClicked(int id) override;

private:
    void SetTexts();
    void FitLayout();
    void ChooseInitialRadios();
    void SelectRadio(int id);
};

}  // namespace valdrune
