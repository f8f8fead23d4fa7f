// The window as the shipped program starts it, plus what end-to-end runs need: VALDRUNE_LIST_DUMP
// names a file that receives the list (one line per row, columns separated by tabs; the IPv6
// view into <file>.ipv6; the hint shown in the empty list into <file>.hint) after
// VALDRUNE_EXIT_AFTER_MS milliseconds, and the window then ends.
// VALDRUNE_TIME_SCALE speeds the protocol up; browsers come from a sandbox.
#include <QApplication>
#include <QFile>
#include <QTimer>

#include "app/TallyrigApp.h"
#include "app/SearchHint.h"
#include "app/TallyrigDlg.h"
#include "HostBrowserSandbox.h"
#include "tests/support/TimeScale.h"

namespace {

void ArmListDump(valdrune::CTallyrigDlg& dlg) {
    const QString path = qEnvironmentVariable("VALDRUNE_LIST_DUMP");
    bool ok = false;
    const int after = qEnvironmentVariableIntValue("VALDRUNE_EXIT_AFTER_MS", &ok);
    if (path.isEmpty() || !ok || after < 0) return;
    QTimer::singleShot(after, &dlg, [&dlg, path] {
        const auto write = [&dlg](const QString& name) {
            QFile file(name);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
            for (int row = 0; row < dlg.List().RowCount(); ++row) {
                QStringList columns;
                for (int c = 0; c < valdrune::kDeviceColumns; ++c)
                    columns << dlg.List().RowText(row, c);
                file.write(columns.join(QLatin1Char('\t')).toUtf8() + "\n");
            }
        };
        write(path);
        QFile hint(path + QStringLiteral(".hint"));
        if (hint.open(QIODevice::WriteOnly | QIODevice::Truncate))
            hint.write(dlg.Hint().HintText().toUtf8());
        dlg.List().SwitchView(1);
        write(path + QStringLiteral(".ipv6"));
        dlg.done(2);
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    valdrune::test::BrowserSandbox browsers;
    valdrune::AppOptions options;
    const int scale = valdrune::test::TimeScaleFromEnvironment();
    options.startServices = [scale] {
        return valdrune::StartPlatformServices(scale, VALDRUNE_NETPROBE_BINARY);
    };
    options.browsers = [&browsers] { return browsers.Platform(); };
    options.onDialogReady = ArmListDump;
    valdrune::CTallyrigApp tallyrig(std::move(options));
    const int code = tallyrig.InitInstance();
    tallyrig.ExitInstance();
    return code;
}
