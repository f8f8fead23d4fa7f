#include "app/TallyrigApp.h"

#include <QApplication>
#include <QLocale>
#include <clocale>

#include "app/AppIcon.h"
#include "app/SettingsStore.h"
#include "app/TallyrigDlg.h"
#include "dialogkit/MessageBox.h"
#include "platform/InstanceLock.h"
#include "res/CodePage.h"
#include "res/StringTable.h"

namespace valdrune {

CTallyrigApp::CTallyrigApp(AppOptions options) : options_(std::move(options)) {}

CTallyrigApp::~CTallyrigApp() { ExitInstance(); }

std::vector<std::string> CTallyrigApp::SystemLanguages() {
    std::vector<std::string> names;
    for (const QString& name : QLocale::system().uiLanguages()) names.push_back(name.toStdString());
    return names;
}

void CTallyrigApp::ChooseLanguage(const std::vector<std::string>& preferences) {
    SetCurrentLanguage(LanguageFromPreferenceList(preferences));
}

int CTallyrigApp::InitInstance() {
    // Texts of the start-up failures are already in the user's language.
    ChooseLanguage(options_.languages ? options_.languages() : SystemLanguages());
    QApplication::setWindowIcon(AppIcon());

    std::unique_ptr<IEngineServices> services;
    if (options_.startServices) services = options_.startServices();
    if (!services) {
        startFailure_ = 224;
        ShowMessageBox(nullptr, 224, MB_OK_ | MB_ICONERROR_);
        return 1;
    }

    lock_ = std::make_unique<CInstanceLock>(options_.lockPath.empty() ? CInstanceLock::DefaultPath()
                                                                      : options_.lockPath);
    if (!lock_->TryAcquire()) {
        lock_.reset();
        startFailure_ = 225;
        ShowMessageBox(nullptr, 225, MB_OK_ | MB_ICONERROR_);
        return 1;
    }

    // Character classification follows the user's locale (device texts in the host's encoding).
    std::setlocale(LC_CTYPE, "");

    CSettingsStore ownStore;
    CSettingsStore& store = options_.store != nullptr ? *options_.store : ownStore;
    bool windowRan = false;
    {
        CTallyrigDlg dlg(services->Environment(), store,
                         options_.browsers ? options_.browsers() : BrowserPlatform{});
        mainWindow_ = &dlg;
        dlg.SetAdapterServices(options_.startServices);
        if (options_.ansiToUtf8) {
            // The code page that goes with the language the texts were chosen in.
            dlg.SetAnsiDecoder([convert = options_.ansiToUtf8,
                                codePage = AnsiCodePageFor(CurrentLanguage())](std::string_view b) {
                return convert(b, codePage);
            });
        }
        dlg.SetNetworkSurvey(services->Survey());
        if (dlg.OnInitDialog()) {
            windowRan = true;
            // Posted, so the box comes over the shown window and the first search (already
            // sent) is answered while it is up.
            if (options_.privilegeNotice) {
                dlg.PostToSelf([&dlg, notice = options_.privilegeNotice] { notice(dlg); });
            }
            if (options_.onDialogReady) options_.onDialogReady(dlg);
            dlg.exec();
        }
        mainWindow_ = nullptr;
    }
    services.reset();
    if (!windowRan) {
        // The window could not open its socket and has said so (224): a failed start as well.
        startFailure_ = 224;
        return 1;
    }
    return 0;
}

void CTallyrigApp::ExitInstance() { lock_.reset(); }

}  // namespace valdrune
