#include "dialogkit/TemplateDialog.h"

#include <QFontMetrics>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QPushButton>

#include "dialogkit/ControlText.h"

namespace valdrune {

CRadioButton::CRadioButton(int group, QWidget* parent) : QRadioButton(parent), group_(group) {
    setAutoExclusive(false);
}

void CRadioButton::nextCheckState() {
    if (!isChecked()) setChecked(true);
}

CTemplateDialog::CTemplateDialog(QWidget* parent) : QDialog(parent) {
    // Dialog base units: average width of the Latin letters and the line height.
    const QFontMetrics metrics(font());
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = std::max(1, (metrics.horizontalAdvance(letters) / 26 + 1) / 2);
    baseY_ = std::max(1, metrics.height());
}

QWidget* CTemplateDialog::Control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

bool CTemplateDialog::IsChecked(int id) const {
    const auto* button = ControlAs<QAbstractButton>(id);
    return button != nullptr && button->isChecked();
}

bool CTemplateDialog::IsControlEnabled(int id) const {
    const QWidget* w = Control(id);
    return w != nullptr && w->isEnabledTo(const_cast<CTemplateDialog*>(this));
}

int CTemplateDialog::DluToPixelsX(int dlu) const { return (dlu * baseX_ + 2) / 4; }
int CTemplateDialog::DluToPixelsY(int dlu) const { return (dlu * baseY_ + 4) / 8; }

void CTemplateDialog::PostToSelf(std::function<void()> fn) {
    QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

QRect CTemplateDialog::DluRect(int x, int y, int w, int h) const {
    const int left = DluToPixelsX(x);
    const int top = DluToPixelsY(y);
    return QRect(left, top, DluToPixelsX(x + w) - left, DluToPixelsY(y + h) - top);
}

void CTemplateDialog::Register(int id, QWidget* widget, const QRect& rect) {
    widget->setParent(this);
    widget->setGeometry(rect);
    widget->setObjectName(QStringLiteral("ctl%1").arg(id));
    controls_[id] = widget;
}

QLabel* CTemplateDialog::AddLabel(int id, int x, int y, int w, int h, bool verticallyCentred) {
    auto* label = Place(id, new QLabel(this), x, y, w, h);
    label->setAlignment(Qt::AlignLeft | (verticallyCentred ? Qt::AlignVCenter : Qt::AlignTop));
    return label;
}

CRadioButton* CTemplateDialog::AddRadio(int id, int group, int x, int y, int w, int h) {
    auto* radio = Place(id, new CRadioButton(group, this), x, y, w, h);
    QObject::connect(radio, &QAbstractButton::clicked, this, [this, radio, id] {
        for (const auto& [otherId, widget] : controls_) {
            auto* other = dynamic_cast<CRadioButton*>(widget);
            if (other != nullptr && other != radio && other->Group() == radio->Group())
                other->setChecked(false);
        }
        OnRadioClicked(id);
    });
    return radio;
}

QPushButton* CTemplateDialog::AddButton(int id, int x, int y, int w, int h, bool isDefault) {
    auto* button = Place(id, new QPushButton(this), x, y, w, h);
    button->setAutoDefault(false);
    button->setDefault(isDefault);
    return button;
}

void CTemplateDialog::SetTemplateSize(int w, int h) {
    setFixedSize(DluToPixelsX(w), DluToPixelsY(h));
}

void CTemplateDialog::SetControlText(int id, const QString& text) {
    QWidget* w = Control(id);
    if (auto* label = dynamic_cast<QLabel*>(w)) label->setText(text);
    else if (auto* button = dynamic_cast<QAbstractButton*>(w)) button->setText(text);
}

void CTemplateDialog::SetControlTextId(int id, int textId) { SetControlText(id, DialogText(textId)); }

void CTemplateDialog::EnableControl(int id, bool enable) {
    if (QWidget* w = Control(id)) w->setEnabled(enable);
}

void CTemplateDialog::CheckControl(int id, bool check) {
    if (auto* button = ControlAs<QAbstractButton>(id)) button->setChecked(check);
}

QRect CTemplateDialog::Placement(int id) const {
    const QWidget* w = Control(id);
    return w == nullptr ? QRect() : w->geometry();
}

void CTemplateDialog::SetPlacement(int id, const QRect& rect) {
    if (QWidget* w = Control(id)) w->setGeometry(rect);
}

void CTemplateDialog::MoveControlBy(int id, int dx, int dy) {
    if (QWidget* w = Control(id)) w->move(w->x() + dx, w->y() + dy);
}

void CTemplateDialog::SetControlWidth(int id, int width) {
    if (QWidget* w = Control(id)) w->resize(std::max(0, width), w->height());
}

void CTemplateDialog::WidenBy(int dx) { setFixedSize(width() + dx, height()); }
void CTemplateDialog::GrowDownBy(int dy) { setFixedSize(width(), height() + dy); }

}  // namespace valdrune
