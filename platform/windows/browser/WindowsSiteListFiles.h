// The site-list file on disk. A write goes to a temporary file beside the target, reaches the
// disk, and then replaces the target in one step (a rename through the open file), so a crash,
// a full disk or a reader at the wrong moment never sees half a file.
#pragma once

#include "browser/core/BrowserSeams.h"

namespace valdrune {

class WindowsSiteListFiles final : public ISiteListFiles {
  public:
    bool Exists(const std::string& path) const override;
    // Nothing for a file that cannot be read or is larger than 16 MiB.
    std::optional<std::string> Read(const std::string& path) const override;
    bool WriteWhole(const std::string& path, const std::string& bytes) override;
};

}  // namespace valdrune
