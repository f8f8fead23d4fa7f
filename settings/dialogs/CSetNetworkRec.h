// The settings dialog of two-port devices: addressing of the LAN port and the PC port (DHCP on
// at most one of them), each port's address and mask, the common gateway, HTTP port and DNS.
#pragma once

#include "settings/dialogs/CSettingsDialog.h"

namespace valdrune {

// The wait flag is carried through unchanged; this dialog does not show it.
class CSetNetworkRec : public CSettingsDialog {
public:
    static constexpr int kTemplateId = 131;

    explicit CSetNetworkRec(QWidget* parent = nullptr);

    void OnSave() override;

protected:
    void InitControls() override;
    // The radios' rules, on a click and for the initial choice.
    void OnRadioClicked(int id) override;

private:
    struct PortBlock;
    static const PortBlock kLanBlock;
    static const PortBlock kPcBlock;

    void AddPortBlock(const PortBlock& block);
    void SetPortTexts(const PortBlock& block, int headingText);
    void SetTexts();
    void FitLayout();
    void SetValues();
    void ChooseInitialRadios();
    void SelectRadio(int id, int otherOfPair);
    void DhcpClicked(bool onLan);
};

}  // namespace valdrune
