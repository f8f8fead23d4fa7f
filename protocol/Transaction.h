// Settings transactions that run side by side, one per device, keyed by the device's MAC. Each
// has its own requests, acceptance time-out, confirmation and wait for the device's return;
// one search poll serves every device being waited for. Batches use them; a single change
// from the window keeps the one-at-a-time SendSettings / StartRestartWait path.
#pragma once

#include <cstdint>

#include "protocol/Record.h"

namespace valdrune {

// How a transaction learns that the device is back after it accepted.
enum class ReturnCheck : std::uint8_t {
    None,     // done once the confirmation is out
    Restart,  // the restart wait: searched for from 30 s on, failed after 120 s
    Search,   // searched for at once (devices that do not go away), failed after 120 s
};

struct TransactionRequest {
    _CommandDataTable settings;  // the new values; settings.primary.mac is the device
    std::uint16_t command = 0;   // CProtocol::CommandForKind
    std::uint16_t mask = 0;
    // Probe the addresses the settings introduce (CheckAddressInUse, changed only) right
    // before sending; an address that answers sends nothing.
    bool probeFirst = true;
    ReturnCheck afterAcceptance = ReturnCheck::Restart;
    // The device counts as back only when it answers with this address; 0: any nonzero one.
    std::uint32_t expectedAddress = 0;
};

enum class TransactionState : std::uint8_t {
    Waiting,     // queued behind the transaction limit
    Sent,        // the first settings request is out (after the probe, when asked)
    Accepted,    // the device accepted and the confirmation has been sent three times
    Restarting,  // waiting for the device to answer again
    Done,        // final
    Failed,      // final, with a reason
    Cancelled,   // final: taken out of the queue before anything was sent
};

enum class TransactionFailure : std::uint8_t {
    None,
    NoAcceptance,         // no acceptance within 30 s of the first request
    NotSeenAfterRestart,  // not seen again within 120 s of the confirmation
    AddressInUse,         // an address the settings introduce answered the probe; nothing sent
    CannotProbe,          // this process may not send ICMP echo; nothing sent
    SocketNotReady,       // nothing sent
};

struct TransactionEvent {
    MacAddress mac{};
    TransactionState state = TransactionState::Waiting;
    TransactionFailure failure = TransactionFailure::None;  // Failed only
    std::uint16_t confirmation = 0;  // Accepted: the confirmation command sent, 17 or 4
    bool returnSeen = false;         // Done: the device answered again (false for None)
};

inline bool IsFinal(TransactionState s) {
    return s == TransactionState::Done || s == TransactionState::Failed ||
           s == TransactionState::Cancelled;
}

}  // namespace valdrune
