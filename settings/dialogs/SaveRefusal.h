// How a settings dialog presents a refused Save: the message box with the formatted text, then
// the focus on the control the rules name (the port edit with its whole text selected).
#pragma once

#include "settings/rules/SaveRules.h"

namespace valdrune {

class CTemplateDialog;

void ShowSaveRefusal(CTemplateDialog& dialog, const SaveResult& refusal);

}  // namespace valdrune
