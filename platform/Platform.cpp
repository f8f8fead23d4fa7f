#include "platform/Platform.h"

namespace valdrune {

std::unique_ptr<PlatformServices> CreatePlatformServices(const std::string& helper) {
    return std::make_unique<PlatformServices>(helper);
}

}  // namespace valdrune
