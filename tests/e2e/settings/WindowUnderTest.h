// The real window on the real platform, as the settings drivers start it: the protocol's
// timers shortened by VALDRUNE_TIME_SCALE, settings in a file of the test's, browsers from a
// sandbox. Shown and set up, or null after saying on stderr why not.
#pragma once

#include <QString>
#include <cstdio>
#include <memory>

#include "HostBrowserSandbox.h"
#include "app/SettingsStore.h"
#include "app/TallyrigDlg.h"
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

}  // namespace valdrune::test
