#include "platform/BrowserPlatform.h"

#include "platform/SiteListFiles.h"
#include "platform/linux/browser/FileKeyValueStore.h"
#include "platform/linux/browser/LinuxBrowserEnvironment.h"
#include "platform/linux/browser/X11Windows.h"

namespace valdrune {

BrowserPlatform MakeBrowserPlatform() {
    BrowserPlatform p;
    p.env = std::make_unique<LinuxBrowserEnvironment>(LinuxBrowserPaths::FromEnvironment());
    p.store = std::make_unique<FileKeyValueStore>(FileKeyValueStore::FromEnvironment());
    p.files = std::make_unique<SiteListFiles>();
    p.windows = std::make_unique<X11Windows>();
    return p;
}

}  // namespace valdrune
