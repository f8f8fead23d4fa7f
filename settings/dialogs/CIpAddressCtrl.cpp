#include "settings/dialogs/CIpAddressCtrl.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

namespace valdrune {

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 0, 2, 0);
    row->setSpacing(0);
    for (int i = 0; i < kFields; ++i) {
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("field%1").arg(i));
        field->setFrame(false);
        field->setMaxLength(3);
        field->setAlignment(Qt::AlignCenter);
        field->installEventFilter(this);
        QObject::connect(field, &QLineEdit::textChanged, this, [this] {
            if (onChange) onChange();
        });
        // Only the user's own edits (typing, pasting) count towards the field-changed notice.
        QObject::connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            edited_[i] = true;
            // Three digits complete the field: move on as the user expects. Pasted text with
            // other characters stays until the owner's filter has cleaned it.
            const bool digits = std::all_of(text.begin(), text.end(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            });
            if (digits && text.size() == 3 && fields_[i]->cursorPosition() == 3 && i + 1 < kFields)
                SetFieldFocus(i + 1);
        });
        fields_[i] = field;
        row->addWidget(field, 1);
        if (i + 1 < kFields) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            row->addWidget(dot, 0);
        }
    }
    UpdateColours();
}

std::uint32_t CIpAddressCtrl::Address() const {
    std::uint32_t address = 0;
    for (const QLineEdit* field : fields_) {
        bool ok = false;
        int value = field->text().toInt(&ok);
        if (!ok || value < 0) value = 0;
        if (value > 255) value = 255;
        address = (address << 8) | static_cast<std::uint32_t>(value);
    }
    return address;
}

void CIpAddressCtrl::SetAddress(std::uint32_t address) {
    for (int i = 0; i < kFields; ++i) {
        const auto octet = (address >> (8 * (kFields - 1 - i))) & 0xFFu;
        fields_[i]->setText(QString::number(octet));
        edited_[i] = false;
    }
}

void CIpAddressCtrl::ClearAddress() {
    for (int i = 0; i < kFields; ++i) {
        fields_[i]->clear();
        edited_[i] = false;
    }
}

bool CIpAddressCtrl::IsBlank() const {
    for (const QLineEdit* field : fields_)
        if (!field->text().isEmpty()) return false;
    return true;
}

QString CIpAddressCtrl::FieldText(int field) const {
    return field >= 0 && field < kFields ? fields_[field]->text() : QString();
}

void CIpAddressCtrl::SetFieldText(int field, const QString& text) {
    if (field >= 0 && field < kFields) fields_[field]->setText(text);
}

void CIpAddressCtrl::SetFieldFocus(int field) {
    if (field < 0 || field >= kFields) field = 0;
    fields_[field]->setFocus(Qt::OtherFocusReason);
    fields_[field]->selectAll();
}

QLineEdit* CIpAddressCtrl::Field(int field) const {
    return field >= 0 && field < kFields ? fields_[field] : nullptr;
}

int CIpAddressCtrl::IndexOf(const QObject* field) const {
    for (int i = 0; i < kFields; ++i)
        if (fields_[i] == field) return i;
    return -1;
}

void CIpAddressCtrl::LeaveField(int field) {
    if (!edited_[field]) return;
    edited_[field] = false;
    if (!onFieldChanged) return;
    const QString text = fields_[field]->text();
    bool ok = false;
    int value = text.toInt(&ok);
    if (text.isEmpty() || !ok) value = -1;
    const int reported = value;
    onFieldChanged(field, value);
    if (value != reported) {
        fields_[field]->setText(value < 0 ? QString() : QString::number(value));
        edited_[field] = false;
    }
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    const int index = IndexOf(watched);
    if (index < 0) return QFrame::eventFilter(watched, event);
    if (event->type() == QEvent::FocusOut) {
        LeaveField(index);
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        QLineEdit* field = fields_[index];
        const QString text = key->text();
        const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (plain && (text == QLatin1String(".") || text == QLatin1String(" "))) {
            if (!field->text().isEmpty() && index + 1 < kFields) SetFieldFocus(index + 1);
            return true;
        }
        if (key->key() == Qt::Key_Backspace && field->text().isEmpty() && index > 0) {
            SetFieldFocus(index - 1);
            fields_[index - 1]->end(false);
            return true;
        }
        if (key->key() == Qt::Key_Right && field->cursorPosition() == field->text().size() &&
            index + 1 < kFields) {
            SetFieldFocus(index + 1);
            fields_[index + 1]->home(false);
            return true;
        }
        if (key->key() == Qt::Key_Left && field->cursorPosition() == 0 && index > 0) {
            SetFieldFocus(index - 1);
            fields_[index - 1]->end(false);
            return true;
        }
        // Only digits can be typed; pasted text arrives unfiltered and is the owner's to clean.
        if (plain && !text.isEmpty() && text.at(0).isPrint() &&
            (text.at(0) < QLatin1Char('0') || text.at(0) > QLatin1Char('9')))
            return true;
    }
    return QFrame::eventFilter(watched, event);
}

void CIpAddressCtrl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) UpdateColours();
    QFrame::changeEvent(event);
}

void CIpAddressCtrl::UpdateColours() {
    QPalette p = palette();
    p.setColor(QPalette::Window, p.color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                         QPalette::Base));
    setPalette(p);
}

}  // namespace valdrune
