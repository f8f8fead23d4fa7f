#include "tests/support/RecordingOwner.h"

namespace valdrune::test {

void RecordingOwner::Record(WindowMessage message, std::uintptr_t wParam) {
    OwnerMessage m{clock_ ? clock_->Now() : Milliseconds{0}, message, wParam};
    messages_.push_back(m);
    if (onMessage) onMessage(m);
}

void RecordingOwner::OnDeviceFound(const _CommandDataTable& record, int number) {
    found_.push_back(record);
    numbers_.push_back(number);
    Record(EV_DEVICE_FOUND, 0);
}

void RecordingOwner::OnSettingsAccepted(std::uint16_t confirmation) {
    Record(WM_SETUP_ACCEPTED, confirmation);
}

void RecordingOwner::OnSettingsFailed(SetupFailure reason) {
    Record(WM_SETUP_FAILED, static_cast<std::uintptr_t>(reason));
}

void RecordingOwner::OnRestartSeen() { Record(WM_SETUP_FINISHED, 0); }

void RecordingOwner::OnDatagramHandled(std::size_t size, int result) {
    results_.push_back(result);
    Record(EV_DATAGRAM, size);
}

void RecordingOwner::OnTransaction(const TransactionEvent& event) {
    transactions_.push_back({clock_ ? clock_->Now() : Milliseconds{0}, event});
}

std::vector<TransactionState> RecordingOwner::StatesOf(const MacAddress& mac) const {
    std::vector<TransactionState> out;
    for (const auto& t : transactions_)
        if (t.event.mac == mac) out.push_back(t.event.state);
    return out;
}

const RecordingOwner::TimedTransaction* RecordingOwner::FinalOf(const MacAddress& mac) const {
    for (const auto& t : transactions_)
        if (t.event.mac == mac && IsFinal(t.event.state)) return &t;
    return nullptr;
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
    numbers_.clear();
    results_.clear();
    transactions_.clear();
}

}  // namespace valdrune::test
