// Top-level windows of the user's desktop, from EnumWindows (top of the Z order first): owner,
// title, and showing one minimized.
#pragma once

#include "browser/core/BrowserSeams.h"

namespace valdrune {

class Win32Windows final : public ITopLevelWindows {
  public:
    std::vector<TopLevelWindow> List() const override;
    // Nothing when the window has gone meanwhile.
    void ShowMinimized(std::uint64_t handle) override;
};

}  // namespace valdrune
