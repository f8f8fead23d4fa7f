#include "settings/dialogs/SaveRefusal.h"

#include <QLineEdit>

#include "dialogkit/MessageBox.h"
#include "dialogkit/TemplateDialog.h"
#include "res/StringTable.h"
#include "settings/dialogs/CIpAddressCtrl.h"

namespace valdrune {

void ShowSaveRefusal(CTemplateDialog& dialog, const SaveResult& refusal) {
    std::string text = FormatRefusal(LoadText(refusal.messageId), refusal);
    // Line breaks are stored as "\r\n" in some texts; message boxes want "\n".
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);
    ShowMessageBox(MessageBoxRequest{&dialog, refusal.messageId, MB_OK_ | MB_ICONEXCLAMATION_,
                                     text});
    QWidget* target = dialog.Control(refusal.focusControl);
    if (target == nullptr) return;
    if (auto* address = dynamic_cast<CIpAddressCtrl*>(target)) {
        address->SetFieldFocus(0);
    } else if (auto* edit = dynamic_cast<QLineEdit*>(target)) {
        edit->setFocus(Qt::OtherFocusReason);
        if (refusal.selectAll) {
            edit->selectAll();
        }
    } else {
        target->setFocus(Qt::OtherFocusReason);
    }
}

}  // namespace valdrune
