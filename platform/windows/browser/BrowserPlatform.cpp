#include "platform/BrowserPlatform.h"

#include "platform/SiteListFiles.h"
#include "platform/windows/browser/RegistryStore.h"
#include "platform/windows/browser/Win32Windows.h"
#include "platform/windows/browser/WindowsBrowserEnvironment.h"

namespace valdrune {

BrowserPlatform MakeBrowserPlatform() {
    BrowserPlatform p;
    p.env = std::make_unique<WindowsBrowserEnvironment>();
    p.store = std::make_unique<RegistryStore>();
    p.files = std::make_unique<SiteListFiles>();
    p.windows = std::make_unique<Win32Windows>();
    return p;
}

}  // namespace valdrune
