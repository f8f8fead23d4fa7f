// valdrune.exe: the window. Takes no command-line arguments; the manifest has already asked
// for administrator rights, so there is no privilege notice.
#include <QApplication>

#include "app/TallyrigApp.h"
#include "platform/AnsiText.h"
#include "platform/BrowserPlatform.h"
#include "platform/windows/LibrarySearch.h"

int main(int argc, char** argv) {
    valdrune::RestrictLibrarySearchToSystem();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("valdrune"));

    valdrune::AppOptions options;
    options.startServices = [] { return valdrune::StartPlatformServices(); };
    options.browsers = [] { return valdrune::MakeBrowserPlatform(); };
    options.ansiToUtf8 = valdrune::AnsiToUtf8;
    valdrune::CTallyrigApp tallyrig(std::move(options));
    const int code = tallyrig.InitInstance();
    tallyrig.ExitInstance();
    return code;
}
