// The About box: product name and version, a line about the program, the icon and OK.
#pragma once

#include "dialogkit/TemplateDialog.h"

namespace valdrune {

inline constexpr int IDC_ABOUT_ICON = -1;
inline constexpr int IDC_ABOUT_VERSION = 1016;
inline constexpr int IDC_ABOUT_TEXT = 1017;

class CAboutDlg : public CTemplateDialog {
  public:
    static constexpr int kTemplateId = 100;
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace valdrune
