// valdrune: the window. Takes no command-line arguments.
#include <QApplication>

#include "app/PrivilegeNotice.h"
#include "app/TallyrigApp.h"
#include "app/TallyrigDlg.h"
#include "platform/AnsiText.h"
#include "platform/BrowserPlatform.h"
#include "platform/Platform.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("valdrune"));
    QApplication::setDesktopFileName(QStringLiteral("valdrune"));

    valdrune::AppOptions options;
    options.startServices = [] { return valdrune::StartPlatformServices(); };
    options.browsers = [] { return valdrune::MakeBrowserPlatform(); };
    options.privilegeNotice = [](valdrune::CTallyrigDlg& window) {
        valdrune::GivePrivilegeNotice(window, valdrune::CheckPrivileges());
    };
    options.ansiToUtf8 = valdrune::AnsiToUtf8;
    valdrune::CTallyrigApp tallyrig(std::move(options));
    const int code = tallyrig.InitInstance();
    tallyrig.ExitInstance();
    return code;
}
