#include "platform/Platform.h"

namespace valdrune {

std::unique_ptr<PlatformServices> CreatePlatformServices() {
    return std::make_unique<PlatformServices>();
}

}  // namespace valdrune
