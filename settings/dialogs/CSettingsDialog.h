// What the two settings dialogs share: the record copy they edit and hand back with Save, the
// wait flag, the octet notices of their address fields, the HTTP port field, Save and Back,
// and the set-up that runs once, on first show at the latest.
#pragma once

#include <cstdint>

#include "dialogkit/TemplateDialog.h"
#include "protocol/Record.h"
#include "settings/dialogs/OctetNotice.h"

namespace valdrune {

class CEditCtrlEx;
class CIpAddressCtrl;

class CSettingsDialog : public CTemplateDialog {
public:
    // Set before the dialog is shown; read back after it ended with kResultOk.
    void SetRecord(const _CommandDataTable& record) { record_ = record; }
    const _CommandDataTable& Record() const { return record_; }
    void SetWaitForRestart(bool wait) { waitForRestart_ = wait; }
    bool WaitForRestart() const { return waitForRestart_; }

    // Texts, layout, radios and values from the record. Runs once.
    void OnInitDialog();
    // Button 1 (Save): the record and wait flag change only when every field passes.
    virtual void OnSave() = 0;
    // WM_OCTET_NOTICE.
    void OnOctetNotice(std::uintptr_t wParam) { octets_.OnOctetNotice(wParam); }
    const OctetNotice& PendingOctetNotice() const { return octets_.Pending(); }

protected:
    explicit CSettingsDialog(QWidget* parent);
    // The dialog's own set-up, run by OnInitDialog.
    virtual void InitControls() = 0;
    void showEvent(QShowEvent* event) override;
    // Buttons 1 (Save) and 2 (Back) at template row y.
    void AddSaveAndBack(int y);
    CIpAddressCtrl* Address(int id) const;

    _CommandDataTable record_;
    bool waitForRestart_ = true;
    COctetNoticeHandler octets_{*this};
    CEditCtrlEx* port_ = nullptr;

private:
    bool initialised_ = false;
};

}  // namespace valdrune
