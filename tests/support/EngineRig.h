// Every fake an engine needs, wired together, plus the engine and a recording owner.
// Members are declared so that the clock outlives everything that schedules on it.
#pragma once

#include <memory>

#include "protocol/Protocol.h"
#include "tests/support/AnswerBuilder.h"
#include "tests/support/FakeHost.h"
#include "tests/support/MemoryTransport.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/VirtualScheduler.h"

namespace valdrune::test {

// The PC's adapter in a default rig: 192.168.0.10 with MAC 02-00-00-00-00-01, ifindex 2.
inline const MacAddress kPcMac = {2, 0, 0, 0, 0, 1};

struct EngineRig {
    VirtualScheduler clock;
    MemoryTransport transport{&clock};
    FakeHostNetwork host;
    FakeEchoProber prober{clock};
    FakeNeighbourCache neighbours{&clock};
    RecordingOwner owner{&clock};
    std::unique_ptr<CProtocol> engine;

    ProtocolEnvironment Env() { return ProtocolEnvironment{clock, transport, host, prober, neighbours}; }

    // Builds the engine (host adapters as set up so far), attaches the listener and, with
    // selectAdapter, enumerates the adapters preferring kPcMac.
    CProtocol& Start(bool selectAdapter = true) {
        engine = std::make_unique<CProtocol>(Env());
        engine->SetListener(&owner);
        if (selectAdapter) engine->EnumerateInterfaces(kPcMac);
        return *engine;
    }
    // One adapter matching kPcMac, then Start().
    CProtocol& StartWithDefaultAdapter() {
        host.Add("192.168.0.10", 2, "eth0", {kPcMac.begin(), kPcMac.end()}, "192.168.0.1");
        return Start(true);
    }
    // Delivers an answer through the transport, as the socket would.
    bool Deliver(const AnswerBuilder& b) {
        auto bytes = b.Build();
        return transport.Deliver(bytes);
    }
    ~EngineRig() {
        engine.reset();
        prober.CancelAll();
    }
};

}  // namespace valdrune::test
