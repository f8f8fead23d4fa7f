// Text helpers shared by the dialogs: string-table texts as QString, the width a control needs
// for a text, and the "%d"/"%s" formatting of message texts.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace valdrune {

// The string-table text of id in the current language; "\r\n" becomes "\n". Empty for 0.
QString DialogText(int id);

// Pixels that `control` needs to show `text` in its own font (the widest line), with a margin
// by control type: combo box +5/2 scroll-bar widths, label +4, header +20, radio button +7/5
// and check box +6/5 (at least the style's indicator and spacing), other buttons +3/2
// scroll-bar widths, anything else the bare text width.
int CalcControlTextWidth(const QWidget* control, const QString& text);

// Replaces the first "%d" of text with number.
QString FormatNumber(const QString& text, long long number);
// Replaces the first "%s" of text with argument.
QString FormatString(const QString& text, const QString& argument);
// Replaces the "%s" of text in order, each searched after the previous argument, so that a
// "%s" inside an argument (a path, a system message) is left alone.
QString FillIn(QString text, const QStringList& arguments);

}  // namespace valdrune
