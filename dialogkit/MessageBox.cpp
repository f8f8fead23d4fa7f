#include "dialogkit/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>
#include <QString>

#include "res/StringTable.h"

namespace valdrune {
namespace {

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

QString Text(int id) {
    const std::string_view text = LoadText(id);
    QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

int ShowDefault(const MessageBoxRequest& request) {
    const int icon = request.boxType & 0xF0;
    QMessageBox::Icon qtIcon = QMessageBox::NoIcon;
    if (icon == MB_ICONERROR_)
        qtIcon = QMessageBox::Critical;
    else if (icon == MB_ICONEXCLAMATION_)
        qtIcon = QMessageBox::Warning;
    else if (icon == MB_ICONINFORMATION_)
        qtIcon = QMessageBox::Information;
    const QString text = request.extraText.empty() ? Text(request.textId)
                                                   : QString::fromStdString(request.extraText);
    QMessageBox box(qtIcon, Text(201), text, QMessageBox::NoButton, request.owner);
    // Some texts carry a command to run; let it be selected and copied.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QPushButton* ok = box.addButton(Text(602), QMessageBox::AcceptRole);
    QPushButton* cancel = nullptr;
    if ((request.boxType & 0x0F) == MB_OKCANCEL_) {
        cancel = box.addButton(Text(603), QMessageBox::RejectRole);
        box.setEscapeButton(cancel);
    } else {
        box.setEscapeButton(ok);
    }
    box.setDefaultButton(ok);
    box.exec();
    return box.clickedButton() == ok ? ID_OK : ID_CANCEL;
}

}  // namespace

void SetMessageBoxHandler(MessageBoxHandler handler) { Handler() = std::move(handler); }

int ShowMessageBox(const MessageBoxRequest& request) {
    if (Handler()) return Handler()(request);
    return ShowDefault(request);
}

}  // namespace valdrune
