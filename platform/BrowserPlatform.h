// The production browser seams of the host, created together: platform/linux/browser/ or
// platform/windows/browser/ implements it, whichever CMake builds for the target.
#pragma once

#include "browser/core/BrowserSeams.h"

namespace valdrune {

// The user's own: installed browsers, the default browser, the key store (the registry, or its
// stand-in in files), the site-list files and the top-level windows.
BrowserPlatform MakeBrowserPlatform();

}  // namespace valdrune
