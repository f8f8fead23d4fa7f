#include "app/PrivilegeNotice.h"

#include <QRegularExpression>
#include <cstdio>

#include "app/TallyrigDlg.h"
#include "dialogkit/ControlText.h"
#include "dialogkit/MessageBox.h"

namespace valdrune {
namespace {

// Single quotes unless the path is plain, so the command can be pasted as it is.
QString ShellWord(const QString& word) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9/._+-]+$"));
    if (plain.match(word).hasMatch()) return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// Always both capabilities: setcap replaces the file's set, so naming only the missing one
// would take away the other if the file carried it. They go to the probe helper, never to
// the window.
QString GrantCommand(const QString& helper) {
    return QStringLiteral("sudo setcap cap_net_raw,cap_net_admin+p ") + ShellWord(helper);
}

}  // namespace

PrivilegeNotice MakePrivilegeNotice(const PrivilegeReport& report, const QString& helper) {
    PrivilegeNotice notice;
    if (report.Complete()) return notice;
    if (report.canProbe) {
        notice.text = QStringLiteral(
                          "valdrune: cap_net_admin is missing, so the neighbour cache is not "
                          "flushed before an address check; grant it with: ") +
                      GrantCommand(helper);
        notice.note = FillIn(DialogText(kTextNoFlushNote), {GrantCommand(helper)});
        return notice;
    }
    notice.textId = report.canFlush ? kTextNoEcho : kTextNoEchoNoFlush;
    const QString missing = report.canFlush ? QStringLiteral("cap_net_raw")
                                            : QStringLiteral("cap_net_raw, cap_net_admin");
    // The report names the user's own group; every group is what many systems ship anyway.
    const QString pingGroups =
        report.pingGroupCommand.empty()
            ? QStringLiteral("sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"")
            : QString::fromStdString(report.pingGroupCommand);
    notice.text = FillIn(DialogText(notice.textId),
                         {missing, GrantCommand(helper), QStringLiteral("sudo ") + pingGroups});
    return notice;
}

void GivePrivilegeNotice(CTallyrigDlg& window, const PrivilegeReport& report) {
    const PrivilegeNotice notice =
        MakePrivilegeNotice(report, QString::fromStdString(report.helper));
    if (notice.text.isEmpty()) return;
    if (notice.textId == 0) {
        std::fprintf(stderr, "%s\n", notice.text.toLocal8Bit().constData());
        window.ShowNote(notice.note);
        return;
    }
    ShowMessageBox(MessageBoxRequest{&window, notice.textId, MB_OK_ | MB_ICONEXCLAMATION_,
                                     notice.text.toStdString()});
}

}  // namespace valdrune
