// What both settings dialogs do with their IP-address controls while the user types: strip
// pasted non-digits from the fields, and check each octet as the user leaves it, putting in
// the replacement value at once and raising the message afterwards as a posted notice.
#pragma once

#include <cstdint>

#include "settings/rules/EntryRules.h"

namespace valdrune {

class CIpAddressCtrl;
class CTemplateDialog;

// Rewrites every field of the control to its digits (at most 3 characters read per field),
// touching only fields whose text changes.
void FilterIpFields(CIpAddressCtrl& control);

class COctetNoticeHandler {
public:
    explicit COctetNoticeHandler(CTemplateDialog& dialog) : dialog_(dialog) {}

    // Wires the control's notifications to the field filter and to the octet check.
    void Attach(int controlId, CIpAddressCtrl& control);

    // The octet check for one notification; replaces value when it is refused and posts
    // WM_OCTET_NOTICE to the dialog.
    void OnFieldChanged(int controlId, int octetIndex, int& value);
    // WM_OCTET_NOTICE: wParam 1 formats the pending message with the pending value.
    void OnOctetNotice(std::uintptr_t wParam);

    const OctetNotice& Pending() const { return pending_; }

private:
    CTemplateDialog& dialog_;
    OctetNotice pending_;
};

}  // namespace valdrune
