// The settings dialog of single-port devices: address mode, HTTP port, IPv4 address, mask,
// gateway, DNS mode and servers, and whether to wait for the device's restart afterwards.
#pragma once

#include "dialogkit/TemplateDialog.h"
#include "protocol/Record.h"
#include "settings/dialogs/OctetNotice.h"

namespace valdrune {

class CEditCtrlEx;
class CIpAddressCtrl;

class CSetNetwork : public CTemplateDialog {
public:
    static constexpr int kTemplateId = 130;

    explicit CSetNetwork(QWidget* parent = nullptr);

    // Set before the dialog is shown; read back after it ended with kResultOk.
    void SetRecord(const _CommandDataTable& record) { record_ = record; }
    const _CommandDataTable& Record() const { return record_; }
    void SetWaitForRestart(bool wait) { waitForRestart_ = wait; }
    bool WaitForRestart() const { return waitForRestart_; }

    // Texts, layout, radios and values from the record. Runs once, on first show at the latest.
    void OnInitDialog();
    // Button 1 (Save).
    void OnSave();
    // WM_OCTET_NOTICE.
    void OnOctetNotice(std::uintptr_t wParam) { octets_.OnOctetNotice(wParam); }
    const OctetNotice& PendingOctetNotice() const { return octets_.Pending(); }

protected:
    void showEvent(QShowEvent* event) override;
    void OnRadioClicked(int id) override;

private:
    void SetTexts();
    void FitLayout();
    void ChooseInitialRadios();
    void RadioRule(int id);
    void SelectRadio(int id);
    CIpAddressCtrl* Address(int id) const;

    _CommandDataTable record_;
    bool waitForRestart_ = true;
    bool initialised_ = false;
    COctetNoticeHandler octets_{*this};
    CEditCtrlEx* port_ = nullptr;
};

}  // namespace valdrune
