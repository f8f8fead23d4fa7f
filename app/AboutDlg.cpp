#include "app/AboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "app/AppIcon.h"
#include "dialogkit/ControlText.h"

namespace valdrune {

CAboutDlg::CAboutDlg(QWidget* parent) : CTemplateDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    SetTemplateSize(250, 75);
    auto* icon = Place(IDC_ABOUT_ICON, new QLabel(this), 11, 14, 21, 20);
    icon->setPixmap(AppIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    AddLabel(IDC_ABOUT_VERSION, 40, 14, 200, 8);
    QLabel* text = AddLabel(IDC_ABOUT_TEXT, 40, 26, 200, 24, false);
    text->setWordWrap(true);
    QPushButton* ok = AddButton(1, 193, 54, 50, 14, true);
    connect(ok, &QPushButton::clicked, this, [this] { accept(); });

    setWindowTitle(DialogText(301));
    SetControlTextId(IDC_ABOUT_VERSION, 302);
    SetControlTextId(IDC_ABOUT_TEXT, 303);
    SetControlTextId(1, 304);
    ok->setFocus();
}

}  // namespace valdrune
