// The start-up notice for a process that lacks the network privileges of address checks.
// Echo missing means new settings go out unchecked, which the user must hear about once; a
// neighbour cache that cannot be flushed only makes a check less certain, so that is a note in
// the window (and a line on the console), not a box.
#pragma once

#include <QString>

#include "platform/linux/Privileges.h"

namespace valdrune {

class CTallyrigDlg;

inline constexpr int kTextNoEchoNoFlush = 901;
inline constexpr int kTextNoEcho = 902;
inline constexpr int kTextNoFlushNote = 929;

struct PrivilegeNotice {
    int textId = 0;  // the box's text, 0 when there is no box
    QString text;    // the box text in the current language, or else the console line
    QString note;    // with the console line: the window's note in the current language
};

// helper: the probe helper's file, named in the setcap command.
PrivilegeNotice MakePrivilegeNotice(const PrivilegeReport& report, const QString& helper);

// Shows the box over the window (exclamation icon), or prints the console line and shows the
// note in the window; nothing when both privileges are there.
void GivePrivilegeNotice(CTallyrigDlg& window, const PrivilegeReport& report);

}  // namespace valdrune
