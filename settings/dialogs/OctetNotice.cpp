#include "settings/dialogs/OctetNotice.h"

#include "dialogkit/ControlText.h"
#include "dialogkit/MessageBox.h"
#include "dialogkit/TemplateDialog.h"
#include "protocol/Messages.h"
#include "settings/dialogs/CIpAddressCtrl.h"

namespace valdrune {

void FilterIpFields(CIpAddressCtrl& control) {
    for (int i = 0; i < CIpAddressCtrl::kFields; ++i) {
        const QString text = control.FieldText(i).left(3);
        const QByteArray bytes = text.toUtf8();
        const QString digits = QString::fromStdString(
            KeepDigits(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))));
        if (digits != control.FieldText(i)) control.SetFieldText(i, digits);
    }
}

void COctetNoticeHandler::Attach(int controlId, CIpAddressCtrl& control) {
    control.onChange = [&control] { FilterIpFields(control); };
    control.onFieldChanged = [this, controlId](int field, int& value) {
        OnFieldChanged(controlId, field, value);
    };
}

void COctetNoticeHandler::OnFieldChanged(int controlId, int octetIndex, int& value) {
    const std::optional<OctetRefusal> refusal = CheckOctetField(controlId, octetIndex, value);
    if (!refusal) return;
    pending_ = refusal->notice;
    value = refusal->putIn;
    const auto wParam = static_cast<std::uintptr_t>(refusal->wParam);
    dialog_.PostToSelf([this, wParam] { OnOctetNotice(wParam); });
}

void COctetNoticeHandler::OnOctetNotice(std::uintptr_t wParam) {
    const OctetNotice notice = pending_;
    std::string formatted;
    if (wParam == 1) formatted = FormatNumber(DialogText(notice.messageId), notice.value).toStdString();
    ShowMessageBox(MessageBoxRequest{&dialog_, notice.messageId, MB_OK_ | MB_ICONEXCLAMATION_,
                                     formatted});
    if (auto* control = dialog_.ControlAs<CIpAddressCtrl>(notice.controlId))
        control->SetFieldFocus(notice.octetIndex);
    pending_ = OctetNotice{};
}

}  // namespace valdrune
