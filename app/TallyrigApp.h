// The application object: prepares the process, keeps a second copy from starting, then runs
// the main window modally. When the window ends, the process ends.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/EngineServices.h"
#include "browser/core/BrowserSeams.h"
#include "protocol/NetworkDoctor.h"
#include "protocol/Protocol.h"

class QWidget;

namespace valdrune {

class CInstanceLock;
class CSettingsStore;
class CTallyrigDlg;

// The platform's own services (timers scaled by timeScale, 1 in the shipped program; the
// probe helper named, empty for the one installed beside the program); null when they cannot
// be started.
std::unique_ptr<IEngineServices> StartPlatformServices(int timeScale = 1,
                                                       const std::string& probeHelper = {});

struct AppOptions {
    // Starts the network services; null when they cannot be started. Called again for each
    // further adapter while the window searches every adapter.
    std::function<std::unique_ptr<IEngineServices>()> startServices;
    // The single-instance lock (a file on Linux, a mutex name on Windows); empty: the default.
    std::string lockPath;
    // The settings store; null means the user's own.
    CSettingsStore* store = nullptr;
    // The host side of the browser steps (the platform's own in the shipped program). Required.
    std::function<BrowserPlatform()> browsers;
    // The user's language preferences, most preferred first; null means the system locale's.
    std::function<std::vector<std::string>()> languages;
    // Called after the window's set-up, just before its modal run.
    std::function<void(CTallyrigDlg&)> onDialogReady;
    // Tells the user what the process may not do beyond UDP, over the window or in it, once
    // it is up; null skips the notice.
    std::function<void(CTallyrigDlg& window)> privilegeNotice;
    // Converts 8-bit text in a code page to UTF-8 (device names); null keeps the host's encoding.
    std::function<std::string(std::string_view bytes, unsigned codePage)> ansiToUtf8;
};

class CTallyrigApp {
  public:
    explicit CTallyrigApp(AppOptions options);
    ~CTallyrigApp();
    CTallyrigApp(const CTallyrigApp&) = delete;
    CTallyrigApp& operator=(const CTallyrigApp&) = delete;

    // The whole run. Returns the process exit code: 0 after the window ended, 1 when the
    // start failed (a message box with text 224 or 225 was shown).
    int InitInstance();
    // Releases the single-instance lock.
    void ExitInstance();

    // The text id of the start failure, 0 when there was none.
    int StartFailure() const { return startFailure_; }
    CTallyrigDlg* MainWindow() const { return mainWindow_; }

    // The language of the user's interface preferences (the four of the string table, English
    // otherwise); without a list, the system locale's.
    static void ChooseLanguage(const std::vector<std::string>& preferences);
    static std::vector<std::string> SystemLanguages();

  private:
    AppOptions options_;
    std::unique_ptr<CInstanceLock> lock_;
    CTallyrigDlg* mainWindow_ = nullptr;
    int startFailure_ = 0;
};

}  // namespace valdrune
