// The production browser seams for this platform, created together.
#pragma once

#include <memory>

#include "browser/core/BrowserSeams.h"

namespace valdrune {

// The user's own: browsers at their usual paths, the desktop's default browser, the key store
// under the user's configuration directory (see LinuxBrowserPaths and FileKeyValueStore).
BrowserPlatform MakeBrowserPlatform();

}  // namespace valdrune
