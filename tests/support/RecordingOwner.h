// A notify window for tests: records every message with its virtual time and, like the main
// dialog, answers WM_UDP_RECEIVED by handing the count to the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "protocol/Record.h"
#include "protocol/Seams.h"

namespace valdrune {
class CProtocol;
}

namespace valdrune::test {

struct OwnerMessage {
    Milliseconds time{0};
    WindowMessage message{};
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

class RecordingOwner : public IProtocolOwner {
public:
    explicit RecordingOwner(const IScheduler* clock = nullptr) : clock_(clock) {}

    // When set, WM_UDP_RECEIVED calls engine->ProcessDatagram(wParam) and keeps the result.
    void Attach(CProtocol* engine) { engine_ = engine; }
    // Runs after recording, for tests that react to a message (e.g. start the restart wait).
    std::function<void(const OwnerMessage&)> onMessage;

    void OnProtocolMessage(WindowMessage message, std::uintptr_t wParam,
                           std::intptr_t lParam) override;

    const std::vector<OwnerMessage>& Messages() const { return messages_; }
    std::vector<OwnerMessage> Of(WindowMessage m) const;
    std::size_t Count(WindowMessage m) const { return Of(m).size(); }
    // Copies of the records handed over with WM_DEVICE_FOUND.
    const std::vector<_CommandDataTable>& Found() const { return found_; }
    // Results of ProcessDatagram calls made on WM_UDP_RECEIVED.
    const std::vector<int>& ProcessResults() const { return results_; }
    void Clear();

private:
    const IScheduler* clock_;
    CProtocol* engine_ = nullptr;
    std::vector<OwnerMessage> messages_;
    std::vector<_CommandDataTable> found_;
    std::vector<int> results_;
};

}  // namespace valdrune::test
