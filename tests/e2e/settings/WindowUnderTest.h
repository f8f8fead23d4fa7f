// The real window on the real platform, as the settings drivers start it: the protocol's
// timers shortened by VALDRUNE_TIME_SCALE, settings in a file of the test's, browsers from a
// sandbox. Shown and set up, or null after saying on stderr why not. And the drivers' user,
// who acts on the window a step at a time until the run is over.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>

#include "HostBrowserSandbox.h"
#include "app/SettingsStore.h"
#include "app/TallyrigDlg.h"
#include "dialogkit/MessageBox.h"
#include "platform/Platform.h"
#include "tests/support/TimeScale.h"

namespace valdrune::test {

struct WindowUnderTest {
    std::unique_ptr<PlatformServices> services;
    std::unique_ptr<CSettingsStore> store;
    BrowserSandbox browsers;
    std::unique_ptr<CTallyrigDlg> dlg;
};

// The platform's services for each further adapter while every adapter is searched.
struct FurtherAdapterServices final : IEngineServices {
    std::unique_ptr<PlatformServices> services;
    ProtocolEnvironment Environment() override { return services->Environment(); }
};

inline std::unique_ptr<WindowUnderTest> StartWindow(const QString& storeFile) {
    auto w = std::make_unique<WindowUnderTest>();
    w->services = CreatePlatformServices(TimeScaleFromEnvironment(), VALDRUNE_NETPROBE_BINARY);
    if (!w->services) {
        std::fprintf(stderr, "platform services could not start\n");
        return nullptr;
    }
    w->store = std::make_unique<CSettingsStore>(storeFile);
    w->dlg = std::make_unique<CTallyrigDlg>(w->services->Environment(), *w->store,
                                            w->browsers.Platform());
    w->dlg->SetAdapterServices([]() -> std::unique_ptr<IEngineServices> {
        auto further = std::make_unique<FurtherAdapterServices>();
        further->services =
            CreatePlatformServices(TimeScaleFromEnvironment(), VALDRUNE_NETPROBE_BINARY);
        if (!further->services) return nullptr;
        return further;
    });
    if (!w->dlg->OnInitDialog()) {
        std::fprintf(stderr, "the window did not start\n");
        return nullptr;
    }
    w->dlg->show();
    return w;
}

// Runs the event loop with `step` every `everyMs` until Finish(); each step queues the next one
// first, so that steps keep coming while a modal dialog runs its own loop. Every message box
// goes to `onBox` meanwhile. After timeoutMs it prints "timeout" and finishes with 4.
class UserLoop {
public:
    explicit UserLoop(int timeoutMs) : timeoutMs_(timeoutMs) {}

    bool Finished() const { return finished_; }
    // The first call ends the run with its code; later ones change nothing.
    void Finish(int code) {
        if (finished_) return;
        finished_ = true;
        code_ = code;
        QTimer::singleShot(0, qApp, [code] { QCoreApplication::exit(code); });
    }

    int Run(MessageBoxHandler onBox, int everyMs, std::function<void()> step) {
        SetMessageBoxHandler(std::move(onBox));
        tick_ = [this, everyMs, step = std::move(step)] {
            if (finished_) return;
            QTimer::singleShot(everyMs, qApp, [this] { tick_(); });
            step();
        };
        QTimer::singleShot(everyMs, qApp, [this] { tick_(); });
        QTimer::singleShot(timeoutMs_, qApp, [this] {
            std::printf("timeout\n");
            Finish(4);
        });
        QCoreApplication::exec();
        SetMessageBoxHandler({});
        return code_;
    }

private:
    int timeoutMs_;
    bool finished_ = false;
    int code_ = 4;
    std::function<void()> tick_;
};

}  // namespace valdrune::test
