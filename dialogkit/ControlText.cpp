#include "dialogkit/ControlText.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QWidget>

#include "res/StringTable.h"

namespace valdrune {

QString DialogText(int id) {
    if (id == 0) return {};
    const std::string_view text = LoadText(id);
    QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

int CalcControlTextWidth(const QWidget* control, const QString& text) {
    if (control == nullptr) return 0;
    const QFontMetrics metrics(control->font());
    int width = 0;
    // Multi-line texts need their widest line.
    for (const QString& line : text.split(QLatin1Char('\n')))
        width = std::max(width, metrics.horizontalAdvance(line));
    const int v = control->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, control);
    if (qobject_cast<const QComboBox*>(control)) return width + (5 * v) / 2;
    if (qobject_cast<const QLabel*>(control)) return width + 4;
    if (qobject_cast<const QHeaderView*>(control)) return width + 20;
    // Indicator boxes: the margin by scroll-bar width, but never less than this style's own
    // indicator and label spacing, so that the text is never cut.
    const auto indicator = [control](QStyle::PixelMetric box, QStyle::PixelMetric spacing) {
        const QStyle* style = control->style();
        return style->pixelMetric(box, nullptr, control) +
               style->pixelMetric(spacing, nullptr, control) + 4;
    };
    if (qobject_cast<const QRadioButton*>(control))
        return width + std::max((7 * v) / 5, indicator(QStyle::PM_ExclusiveIndicatorWidth,
                                                       QStyle::PM_RadioButtonLabelSpacing));
    if (qobject_cast<const QCheckBox*>(control))
        return width + std::max((6 * v) / 5, indicator(QStyle::PM_IndicatorWidth,
                                                       QStyle::PM_CheckBoxLabelSpacing));
    if (qobject_cast<const QAbstractButton*>(control)) return width + (3 * v) / 2;
    return width;
}

QString FormatNumber(const QString& text, long long number) {
    QString result = text;
    const qsizetype at = result.indexOf(QStringLiteral("%d"));
    if (at >= 0) result.replace(at, 2, QString::number(number));
    return result;
}

QString FormatString(const QString& text, const QString& argument) {
    QString result = text;
    const qsizetype at = result.indexOf(QStringLiteral("%s"));
    if (at >= 0) result.replace(at, 2, argument);
    return result;
}

QString FillIn(QString text, const QStringList& arguments) {
    qsizetype from = 0;
    for (const QString& argument : arguments) {
        const qsizetype at = text.indexOf(QStringLiteral("%s"), from);
        if (at < 0) break;
        text.replace(at, 2, argument);
        from = at + argument.size();
    }
    return text;
}

}  // namespace valdrune
