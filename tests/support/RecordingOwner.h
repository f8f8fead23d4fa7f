// A listener for tests: records every engine event with its virtual time. Settings events keep
// the ids and parameters the window turns them into; a handled datagram is EV_DATAGRAM with its
// size, a found device EV_DEVICE_FOUND.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "protocol/Events.h"
#include "protocol/Messages.h"
#include "protocol/Record.h"
#include "protocol/Seams.h"

namespace valdrune::test {

inline constexpr auto EV_DATAGRAM = static_cast<WindowMessage>(0x464);
inline constexpr auto EV_DEVICE_FOUND = static_cast<WindowMessage>(0x465);

struct OwnerMessage {
    Milliseconds time{0};
    WindowMessage message{};
    std::uintptr_t wParam = 0;
};

class RecordingOwner : public IProtocolEvents {
public:
    explicit RecordingOwner(const IScheduler* clock = nullptr) : clock_(clock) {}

    // Runs after recording, for tests that react to an event (e.g. start the restart wait).
    std::function<void(const OwnerMessage&)> onMessage;

    void OnDeviceFound(const _CommandDataTable& record, int number) override;
    void OnSettingsAccepted(std::uint16_t confirmation) override;
    void OnSettingsFailed(SetupFailure reason) override;
    void OnRestartSeen() override;
    void OnDatagramHandled(std::size_t size, int result) override;
    void OnTransaction(const TransactionEvent& event) override;
    void OnSearchEnded() override { searchEnds.push_back(clock_ ? clock_->Now() : Milliseconds(0)); }
    std::vector<Milliseconds> searchEnds;  // when each cycle that ran to its end was reported

    const std::vector<OwnerMessage>& Messages() const { return messages_; }
    std::vector<OwnerMessage> Of(WindowMessage m) const;
    std::size_t Count(WindowMessage m) const { return Of(m).size(); }
    // Copies of the found records and their discovery numbers.
    const std::vector<_CommandDataTable>& Found() const { return found_; }
    const std::vector<int>& Numbers() const { return numbers_; }
    // The result of every handled datagram.
    const std::vector<int>& ProcessResults() const { return results_; }
    struct TimedTransaction {
        Milliseconds time{0};
        TransactionEvent event;
    };
    const std::vector<TimedTransaction>& Transactions() const { return transactions_; }
    // The states one device's transaction went through, in order.
    std::vector<TransactionState> StatesOf(const MacAddress& mac) const;
    // The final event of the device's transaction, when there is one.
    const TimedTransaction* FinalOf(const MacAddress& mac) const;
    void Clear();

private:
    void Record(WindowMessage message, std::uintptr_t wParam);

    const IScheduler* clock_;
    std::vector<OwnerMessage> messages_;
    std::vector<_CommandDataTable> found_;
    std::vector<int> numbers_;
    std::vector<int> results_;
    std::vector<TimedTransaction> transactions_;
};

}  // namespace valdrune::test
