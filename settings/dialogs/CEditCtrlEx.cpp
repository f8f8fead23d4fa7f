#include "settings/dialogs/CEditCtrlEx.h"

#include <QKeyEvent>

#include "settings/rules/EntryRules.h"

namespace valdrune {

namespace {

// A key that would insert printable text other than digits.
bool InsertsNonDigit(const QKeyEvent* event) {
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event->text();
    if (text.isEmpty()) return false;
    for (const QChar c : text) {
        if (!c.isPrint()) return false;
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return true;
    }
    return false;
}

}  // namespace

CEditCtrlEx::CEditCtrlEx(QWidget* parent) : QLineEdit(parent) {
    setAlignment(Qt::AlignCenter);
    QObject::connect(this, &QLineEdit::textChanged, this, [this] { FilterText(); });
}

void CEditCtrlEx::keyPressEvent(QKeyEvent* event) {
    if (InsertsNonDigit(event)) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void CEditCtrlEx::FilterText() {
    const QByteArray current = text().toUtf8();
    const std::string digits = KeepDigits(std::string_view(current.constData(),
                                                           static_cast<std::size_t>(current.size())));
    const QString filtered = QString::fromStdString(digits);
    // Only a differing result is written back, so this does not recurse.
    if (filtered != text()) setText(filtered);
}

}  // namespace valdrune
