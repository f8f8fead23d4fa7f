// The engine's bookkeeping of one concurrent transaction (private to the engine's sources).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/Protocol.h"

namespace valdrune {

struct CProtocol::Txn {
    TransactionRequest request;
    std::uint64_t serial = 0;  // tells a timer of an ended transaction from one of a newer
    TransactionState state = TransactionState::Waiting;
    bool started = false;  // out of the queue, holding a place
    bool away = false;     // its device is restarting; counted against the away limit only
    std::uint32_t pendingCommand = 0;
    std::uint16_t rememberedSequence = 0;
    TimerId timeout = 0;
    TimerId confirmation = 0;
    TimerId deadline = 0;
    std::vector<TimerId> repeats;  // 100 ms repetitions of the request or the confirmation
    Milliseconds quietAt{0};       // the request's own sends and gaps are over
    Milliseconds waitStart{0};
};

}  // namespace valdrune
