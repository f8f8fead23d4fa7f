// Top-level windows of the X server named by DISPLAY: titles, owners (transient-for) and
// iconifying. Without an X server the list is empty and nothing happens.
#pragma once

#include <string>

#include "browser/core/BrowserSeams.h"

namespace valdrune {

class X11Windows final : public ITopLevelWindows {
  public:
    // displayName empty: the DISPLAY environment variable.
    explicit X11Windows(std::string displayName = {});
    ~X11Windows() override;
    X11Windows(const X11Windows&) = delete;
    X11Windows& operator=(const X11Windows&) = delete;

    std::vector<TopLevelWindow> List() const override;
    void ShowMinimized(std::uint64_t handle) override;

  private:
    void* Display() const;  // opened on first use, kept open
    std::string displayName_;
    mutable void* display_ = nullptr;
    mutable bool tried_ = false;
};

}  // namespace valdrune
