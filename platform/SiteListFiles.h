// The site-list file on disk. A write goes to a temporary file beside the target, reaches the
// disk, and then replaces the target in one step, so a crash, a full disk or a reader at the
// wrong moment never sees half a file. platform/linux/browser/ or platform/windows/browser/
// implements it, whichever CMake builds for the target.
#pragma once

#include "browser/core/BrowserSeams.h"

namespace valdrune {

class SiteListFiles final : public ISiteListFiles {
  public:
    bool Exists(const std::string& path) const override;
    // Nothing for a file that cannot be read or is larger than 16 MiB.
    std::optional<std::string> Read(const std::string& path) const override;
    bool WriteWhole(const std::string& path, const std::string& bytes) override;
};

}  // namespace valdrune
