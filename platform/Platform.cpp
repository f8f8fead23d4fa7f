#include "platform/Platform.h"

namespace valdrune {

std::unique_ptr<PlatformServices> CreatePlatformServices(int timeScale, const std::string& helper) {
    return std::make_unique<PlatformServices>(timeScale, helper);
}

}  // namespace valdrune
