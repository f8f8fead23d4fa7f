// valdrune: the window. Takes no command-line arguments.
#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>

#include "app/TallyrigApp.h"
#include "app/TallyrigDlg.h"
#include "platform/Platform.h"

namespace {

class PlatformHolder : public valdrune::IEngineServices {
  public:
    explicit PlatformHolder(std::unique_ptr<valdrune::PlatformServices> services)
        : services_(std::move(services)) {}
    valdrune::ProtocolEnvironment Environment() override { return services_->Environment(); }

  private:
    std::unique_ptr<valdrune::PlatformServices> services_;
};

// Test hook for end-to-end runs: VALDRUNE_LIST_DUMP names a file that receives the list (one
// line per row, columns separated by tabs; the IPv6 view into <file>.ipv6) after
// VALDRUNE_EXIT_AFTER_MS milliseconds, and the window then ends. Without both variables
// nothing changes.
void ArmListDump(valdrune::CTallyrigDlg& dlg) {
    const QString path = qEnvironmentVariable("VALDRUNE_LIST_DUMP");
    bool ok = false;
    const int after = qEnvironmentVariableIntValue("VALDRUNE_EXIT_AFTER_MS", &ok);
    if (path.isEmpty() || !ok || after < 0) return;
    QTimer::singleShot(after, &dlg, [&dlg, path] {
        // The IPv4 view into the file itself, then the IPv6 view into <file>.ipv6.
        const auto write = [&dlg](const QString& name) {
            QFile file(name);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
            for (int row = 0; row < dlg.RowCount(); ++row) {
                QStringList columns;
                for (int c = 0; c < valdrune::kDeviceColumns; ++c) columns << dlg.RowText(row, c);
                file.write(columns.join(QLatin1Char('\t')).toUtf8() + "\n");
            }
        };
        write(path);
        dlg.SwitchView(1);
        write(path + QStringLiteral(".ipv6"));
        dlg.done(2);
    });
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("valdrune"));
    QApplication::setDesktopFileName(QStringLiteral("valdrune"));

    valdrune::AppOptions options;
    options.startServices = []() -> std::unique_ptr<valdrune::IEngineServices> {
        auto services = valdrune::CreatePlatformServices();
        if (!services) return nullptr;
        return std::make_unique<PlatformHolder>(std::move(services));
    };
    options.onDialogReady = ArmListDump;
    options.checkPrivileges = [] { return valdrune::CheckPrivileges(); };
    valdrune::CTallyrigApp tallyrig(std::move(options));
    const int code = tallyrig.InitInstance();
    tallyrig.ExitInstance();
    return code;
}
