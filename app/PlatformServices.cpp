#include "app/TallyrigApp.h"
#include "platform/Platform.h"

namespace valdrune {

namespace {

class PlatformHolder final : public IEngineServices {
  public:
    explicit PlatformHolder(std::unique_ptr<PlatformServices> services)
        : services_(std::move(services)) {}
    ProtocolEnvironment Environment() override { return services_->Environment(); }
    INetworkSurvey* Survey() override { return &services_->survey; }

  private:
    std::unique_ptr<PlatformServices> services_;
};

}  // namespace

std::unique_ptr<IEngineServices> StartPlatformServices(int timeScale,
                                                       const std::string& probeHelper) {
    auto services = CreatePlatformServices(
        timeScale, probeHelper.empty() ? DefaultNetProbePath() : probeHelper);
    if (!services) return nullptr;
    return std::make_unique<PlatformHolder>(std::move(services));
}

}  // namespace valdrune
