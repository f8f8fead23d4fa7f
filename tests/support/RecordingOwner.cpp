#include "tests/support/RecordingOwner.h"

#include "protocol/Protocol.h"

namespace valdrune::test {

void RecordingOwner::OnProtocolMessage(WindowMessage message, std::uintptr_t wParam,
                                       std::intptr_t lParam) {
    OwnerMessage m{clock_ ? clock_->Now() : Milliseconds{0}, message, wParam, lParam};
    messages_.push_back(m);
    if (message == WM_DEVICE_FOUND && wParam != 0)
        found_.push_back(*reinterpret_cast<const _CommandDataTable*>(wParam));
    if (message == WM_UDP_RECEIVED && engine_)
        results_.push_back(engine_->ProcessDatagram(static_cast<std::size_t>(wParam)));
    if (onMessage) onMessage(m);
}

std::vector<OwnerMessage> RecordingOwner::Of(WindowMessage m) const {
    std::vector<OwnerMessage> out;
    for (const auto& x : messages_)
        if (x.message == m) out.push_back(x);
    return out;
}

void RecordingOwner::Clear() {
    messages_.clear();
    found_.clear();
    results_.clear();
}

}  // namespace valdrune::test
