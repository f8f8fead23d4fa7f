// The numeric edit of the settings dialogs' HTTP port. Typed non-digits are refused as they
// are typed; every text change (a paste, or text set by code) is filtered down to its digits.
#pragma once

#include <QLineEdit>

namespace valdrune {

class CEditCtrlEx : public QLineEdit {
public:
    explicit CEditCtrlEx(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FilterText();
};

}  // namespace valdrune
