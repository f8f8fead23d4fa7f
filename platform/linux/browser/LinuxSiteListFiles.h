// The site-list file on disk, replaced whole and atomically.
#pragma once

#include "browser/core/BrowserSeams.h"

namespace valdrune {

class LinuxSiteListFiles final : public ISiteListFiles {
  public:
    bool Exists(const std::string& path) const override;
    std::optional<std::string> Read(const std::string& path) const override;
    bool WriteWhole(const std::string& path, const std::string& bytes) override;
};

}  // namespace valdrune
