// The host services one engine runs on (its own socket among them), kept alive as long as the
// holder lives.
#pragma once

#include "protocol/NetworkDoctor.h"
#include "protocol/Protocol.h"

namespace valdrune {

class IEngineServices {
  public:
    virtual ~IEngineServices() = default;
    virtual ProtocolEnvironment Environment() = 0;
    // The checks behind the window's hint when a search finds nothing; null for none.
    virtual INetworkSurvey* Survey() { return nullptr; }
};

}  // namespace valdrune
