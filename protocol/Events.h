// What the engine tells its owner (window, command-line tool, tests). Every event carries
// read-only values; nothing travels as an integer to cast.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/Record.h"
#include "protocol/Transaction.h"

namespace valdrune {

// Why a settings change failed.
enum class SetupFailure : std::uint8_t {
    NoAcceptance = 1,         // the device did not accept within 30 s
    NotSeenAfterRestart = 2,  // the device did not answer again within the restart wait
};

// Device events arrive while the engine handles the datagram that caused them, before the next
// datagram is read; settings events are posted, each after the event that caused it.
class IProtocolEvents {
public:
    virtual ~IProtocolEvents() = default;
    // An answer with an address was decoded and stored. record is the stored device, number
    // its discovery number (0 for the first device since the table was cleared); both are
    // valid only during the call.
    virtual void OnDeviceFound(const _CommandDataTable& record, int number) {
        (void)record;
        (void)number;
    }
    // The device accepted the settings and the confirmation (command 17 or 4) has been sent.
    virtual void OnSettingsAccepted(std::uint16_t confirmation) { (void)confirmation; }
    virtual void OnSettingsFailed(SetupFailure reason) { (void)reason; }
    // The device awaited after its restart answered a search with a nonzero address.
    virtual void OnRestartSeen() {}
    // A search cycle ran to its end (posted); one cut short by a new search does not.
    virtual void OnSearchEnded() {}
    // A concurrent transaction changed state (posted, in the order the changes happened).
    virtual void OnTransaction(const TransactionEvent& event) { (void)event; }
    // One datagram of `size` bytes has been handled: 0, or -15, -16, -17 (see CProtocol).
    virtual void OnDatagramHandled(std::size_t size, int result) {
        (void)size;
        (void)result;
    }
};

}  // namespace valdrune
