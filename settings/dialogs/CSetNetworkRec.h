// The settings dialog of two-port devices: addressing of the LAN port and the PC port (DHCP on
// at most one of them), each port's address and mask, the common gateway, HTTP port and DNS.
#pragma once

#include "dialogkit/TemplateDialog.h"
#include "protocol/Record.h"
#include "settings/dialogs/OctetNotice.h"

namespace valdrune {

class CEditCtrlEx;
class CIpAddressCtrl;

class CSetNetworkRec : public CTemplateDialog {
public:
    static constexpr int kTemplateId = 131;

    explicit CSetNetworkRec(QWidget* parent = nullptr);

    void SetRecord(const _CommandDataTable& record) { record_ = record; }
    const _CommandDataTable& Record() const { return record_; }
    // Carried through unchanged; this dialog does not show it.
    void SetWaitForRestart(bool wait) { waitForRestart_ = wait; }
    bool WaitForRestart() const { return waitForRestart_; }

    void OnInitDialog();
    void OnSave();
    void OnOctetNotice(std::uintptr_t wParam) { octets_.OnOctetNotice(wParam); }
    const OctetNotice& PendingOctetNotice() const { return octets_.Pending(); }

protected:
    void showEvent(QShowEvent* event) override;
    void OnRadioClicked(int id) override;

private:
    void SetTexts();
    void FitLayout();
    void SetValues();
    void ChooseInitialRadios();
    void RadioRule(int id);
    void SelectRadio(int id, int otherOfPair);
    CIpAddressCtrl* Address(int id) const;

    _CommandDataTable record_;
    bool waitForRestart_ = true;
    bool initialised_ = false;
    COctetNoticeHandler octets_{*this};
    CEditCtrlEx* port_ = nullptr;
};

}  // namespace valdrune
