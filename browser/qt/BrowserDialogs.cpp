#include "browser/qt/BrowserDialogs.h"

#include "browser/core/Resources.h"
#include "dialogkit/CMessageDialog.h"

namespace valdrune {

int RunMessageDialog(IScheduler& scheduler, int mode, int textId, DialogOwnerPost post) {
    // No parent window: the dialog stands on its own like the main dialog.
    CMessageDialog dialog(scheduler, nullptr);
    dialog.SetOwner(std::move(post));
    dialog.SetMode(mode);
    dialog.SetTextId(textId);
    return dialog.exec() == ID_OK ? ID_OK : ID_CANCEL;
}

void PostToMessageDialog(std::uintptr_t handle, WindowMessage message, std::uintptr_t wParam) {
    if (CMessageDialog* dialog = CMessageDialog::FromHandle(handle)) {
        dialog->PostMessage(message, wParam, 0);
    }
}

void LoadBuiltInModelLists(CDeviceBrowser& browser) {
    for (int index = 0; index < static_cast<int>(MODEL_LIST_RESOURCE_IDS.size()); ++index) {
        browser.LoadModelList(
            index, ModelListResource(MODEL_LIST_RESOURCE_IDS[static_cast<std::size_t>(index)]));
    }
}

SiteListTemplates BuiltInTemplates() {
    return SiteListTemplates{std::string(XmlTemplateResource(SITE_LIST_TEMPLATE_ID)),
                             std::string(XmlTemplateResource(SITE_ENTRY_TEMPLATE_ID)),
                             std::string(XmlTemplateResource(SITE_ENTRY_IE5_TEMPLATE_ID))};
}

}  // namespace valdrune
