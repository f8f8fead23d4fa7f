// The production browser seams for this platform, created together.
#pragma once

#include <memory>

#include "browser/core/BrowserSeams.h"

namespace valdrune {

struct BrowserPlatform {
    std::unique_ptr<IBrowserEnvironment> env;
    std::unique_ptr<IKeyValueStore> store;
    std::unique_ptr<ISiteListFiles> files;
    std::unique_ptr<ITopLevelWindows> windows;
};

// Paths from the environment (see LinuxBrowserPaths and FileKeyValueStore).
BrowserPlatform MakeBrowserPlatform();

}  // namespace valdrune
