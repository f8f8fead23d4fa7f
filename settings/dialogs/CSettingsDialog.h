// What the two settings dialogs share: the record copy they edit and hand back with Save, the
// wait flag, the octet notices of their address fields, the HTTP port field, the DNS row, Save
// and Back, and the set-up that runs once, on first show at the latest.
#pragma once

#include <cstdint>

#include "dialogkit/TemplateDialog.h"
#include "protocol/Record.h"
#include "settings/dialogs/OctetNotice.h"

namespace valdrune {

class CEditCtrlEx;
class CIpAddressCtrl;
struct SaveResult;

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
    // The DNS row: its label, the automatic and manual radios and the two server fields.
    struct DnsControls {
        int label;
        int autoRadio;
        int manualRadio;
        int dns1;
        int dns2;
    };

    CSettingsDialog(QWidget* parent, DnsControls dns);
    // The dialog's own set-up, run by OnInitDialog.
    virtual void InitControls() = 0;
    void showEvent(QShowEvent* event) override;
    // Buttons 1 (Save) and 2 (Back) at template row y.
    void AddSaveAndBack(int y);
    // An address field (100 x 15) at template (x, y), its octet notices handled here.
    void AddAddress(int id, int x, int y);
    // A labelled address row: the label (90 x 10) at (labelX, labelY), the field at (115, y).
    void AddAddressRow(int label, int labelX, int labelY, int address, int y);
    // The HTTP port row, laid out alike: the field (35 x 14) becomes port_.
    void AddPortRow(int label, int labelX, int labelY, int port, int y);
    CIpAddressCtrl* Address(int id) const;

    bool IsDnsRadio(int id) const { return id == dns_.autoRadio || id == dns_.manualRadio; }
    // Checks one DNS radio and unchecks the other.
    void SelectDns(int id);
    // The server fields take entries only with the manual radio.
    void DnsRule(int id);
    // The record's DNS mode (automatic when bits 0x92 read 0x90), selected and applied.
    void ChooseInitialDns();
    // A fixed address needs fixed servers: manual selected, automatic not offered.
    void RequireManualDns();
    // Both radios offered; the server fields follow the checked one (automatic when neither is).
    void OfferBothDns();
    // Devices without a DNS mode of their own.
    void DisableDnsMode();
    // Both radios as wide as the wider text; the second keeps 5 pixels clear of it.
    void FitDnsRadios();
    // The end of Save: a refusal is shown and the dialog stays open; an acceptance takes the
    // changed record and wait flag and ends the dialog with kResultOk.
    void EndSave(const SaveResult& result);

    _CommandDataTable record_;
    bool waitForRestart_ = true;
    COctetNoticeHandler octets_{*this};
    CEditCtrlEx* port_ = nullptr;

private:
    DnsControls dns_;
    bool initialised_ = false;
};

}  // namespace valdrune
