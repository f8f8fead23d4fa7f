// Concurrent settings transactions. Each follows the single change's steps and timing (three
// requests 100 ms apart, 30 s for the acceptance, the confirmation 100 ms after it, three
// times) with state of its own; the searches of every device being waited for come from one
// 2000 ms poll, so fifty restarting devices cost the network no more than one.
#include <utility>

#include "protocol/Protocol.h"
#include "protocol/TransactionSlot.h"

namespace valdrune {

namespace {

constexpr Milliseconds kRepeatGap{100};
constexpr int kRepeatCount = 3;
constexpr Milliseconds kSettingsTimeout{30000};
constexpr Milliseconds kConfirmationDelay{100};
constexpr Milliseconds kPollPeriod{2000};
constexpr Milliseconds kReturnBudget{120000};
constexpr Milliseconds kRestartQuiet{30000};  // a restarting device is not looked for sooner

}  // namespace

CProtocol::Txn* CProtocol::LiveTxn(const MacAddress& mac, std::uint64_t serial) {
    auto it = txns_.find(mac);
    return it != txns_.end() && it->second->serial == serial ? it->second.get() : nullptr;
}

void CProtocol::PostTxn(const Txn& t, TransactionEvent e) {
    e.mac = t.request.settings.primary.mac;
    PostEvent([e](IProtocolEvents& l) { l.OnTransaction(e); });
}

bool CProtocol::StartTransaction(const TransactionRequest& request) {
    const MacAddress& mac = request.settings.primary.mac;
    if (request.command == 0 || txns_.count(mac) != 0) return false;
    auto t = std::make_unique<Txn>();
    t->request = request;
    t->serial = ++txnSerial_;
    PostTxn(*t, {});
    txns_.emplace(mac, std::move(t));
    txnQueue_.push_back(mac);
    PumpTransactions();
    return true;
}

void CProtocol::SetTransactionLimit(int limit) {
    txnLimit_ = limit < 1 ? 1 : limit;
    PumpTransactions();
}

void CProtocol::SetAwayLimit(int limit) {
    awayLimit_ = limit < 0 ? 0 : limit;
    PumpTransactions();
}

std::optional<TransactionState> CProtocol::TransactionStateOf(const MacAddress& mac) const {
    auto it = txns_.find(mac);
    if (it == txns_.end()) return std::nullopt;
    return it->second->state;
}

bool CProtocol::CancelWaitingTransaction(const MacAddress& mac) {
    auto it = txns_.find(mac);
    if (it == txns_.end() || it->second->started) return false;
    std::erase(txnQueue_, mac);
    EndTxn(*it->second, TransactionState::Cancelled, TransactionFailure::None, false);
    return true;
}

int CProtocol::CancelWaitingTransactions() {
    const std::deque<MacAddress> queued = std::move(txnQueue_);
    txnQueue_.clear();
    int cancelled = 0;
    for (const MacAddress& mac : queued) {
        auto it = txns_.find(mac);
        if (it == txns_.end() || it->second->started) continue;
        EndTxn(*it->second, TransactionState::Cancelled, TransactionFailure::None, false);
        ++cancelled;
    }
    return cancelled;
}

void CProtocol::PumpTransactions() {
    while (txnRunning_ - txnAway_ < txnLimit_ && txnRunning_ < AwayLimit() &&
           !txnQueue_.empty()) {
        const MacAddress mac = txnQueue_.front();
        txnQueue_.pop_front();
        auto it = txns_.find(mac);
        if (it == txns_.end()) continue;
        Txn& t = *it->second;
        t.started = true;
        ++txnRunning_;
        if (!t.request.probeFirst) {
            SendTxn(t);
            continue;
        }
        const std::uint64_t serial = t.serial;
        CheckAddressInUse(t.request.settings, true, [this, mac, serial](int result) {
            Txn* live = LiveTxn(mac, serial);
            if (live == nullptr) return;
            switch (result) {
                case PROTO_ADDRESS_IN_USE:
                    EndTxn(*live, TransactionState::Failed, TransactionFailure::AddressInUse,
                           false);
                    break;
                case PROTO_PROBE_NOT_PERMITTED:
                    EndTxn(*live, TransactionState::Failed, TransactionFailure::CannotProbe, false);
                    break;
                case PROTO_SOCKET_NOT_READY:
                    EndTxn(*live, TransactionState::Failed, TransactionFailure::SocketNotReady,
                           false);
                    break;
                default:
                    SendTxn(*live);
                    break;
            }
        });
    }
}

void CProtocol::SendTxn(Txn& t) {
    if (!socketReady_) {
        EndTxn(t, TransactionState::Failed, TransactionFailure::SocketNotReady, false);
        return;
    }
    const TransactionRequest& r = t.request;
    const MacAddress mac = r.settings.primary.mac;
    const std::uint64_t serial = t.serial;
    t.pendingCommand = r.command;
    std::uint16_t written = 0;
    auto request = std::make_shared<const std::vector<std::uint8_t>>(
        BuildSettingsRequest(r.settings, r.command, r.mask, Pc(), &written));
    if (r.command == CMD_SETUP_V2) t.rememberedSequence = written;

    t.timeout = Schedule(kSettingsTimeout, false, [this, mac, serial] {
        Txn* live = LiveTxn(mac, serial);
        if (live == nullptr || live->timeout == 0) return;
        live->timeout = 0;
        EndTxn(*live, TransactionState::Failed, TransactionFailure::NoAcceptance, false);
    });
    auto sendOnce = [this, request] {
        return socketReady_ && env_.transport.SendBroadcast(request->data(), request->size()) >= 0;
    };
    const Milliseconds now = env_.scheduler.Now();
    t.quietAt = now;
    // As with a single change, a failed send is reported by the acceptance time-out.
    if (!sendOnce()) return;
    t.state = TransactionState::Sent;
    PostTxn(t, {.state = TransactionState::Sent});
    t.quietAt = now + kRepeatGap * kRepeatCount;
    for (int i = 1; i < kRepeatCount; ++i) {
        t.repeats.push_back(Schedule(kRepeatGap * i, false, [this, mac, serial, sendOnce] {
            Txn* live = LiveTxn(mac, serial);
            if (live == nullptr || live->repeats.empty()) return;
            live->repeats.erase(live->repeats.begin());
            if (!sendOnce()) {
                CancelAll(live->repeats);
                live->quietAt = env_.scheduler.Now();
            }
        }));
    }
}

std::optional<int> CProtocol::TxnAcceptance(const MacAddress& mac, std::uint16_t command) {
    auto it = txns_.find(mac);
    if (it == txns_.end() || !it->second->started) return std::nullopt;
    Txn& t = *it->second;
    if (t.timeout == 0) return PROTO_LATE_ACCEPTANCE;
    CancelTimer(t.timeout);
    t.pendingCommand = command == CMD_SETUP_REPLY ? CMD_SETUP_CONFIRM : CMD_SETUP_V2_CONFIRM;
    Milliseconds delay = kConfirmationDelay;
    const Milliseconds now = env_.scheduler.Now();
    if (t.quietAt > now) delay += t.quietAt - now;
    const std::uint64_t serial = t.serial;
    t.confirmation = Schedule(delay, false, [this, mac, serial] { ConfirmTxn(mac, serial); });
    return PROTO_OK;
}

void CProtocol::ConfirmTxn(const MacAddress& mac, std::uint64_t serial) {
    Txn* t = LiveTxn(mac, serial);
    if (t == nullptr || t->confirmation == 0) return;
    t->confirmation = 0;
    CancelAll(t->repeats);
    auto confirmation = std::make_shared<const std::vector<std::uint8_t>>(
        BuildConfirmation(static_cast<std::uint16_t>(t->pendingCommand), mac,
                          t->request.settings.capabilityFlag, t->rememberedSequence, Pc()));
    auto sendOnce = [this, confirmation] {
        return socketReady_ &&
               env_.transport.SendBroadcast(confirmation->data(), confirmation->size()) >= 0;
    };
    const bool first = sendOnce();
    t->rememberedSequence = 0;
    if (!first) {
        TxnConfirmed(*t);
        return;
    }
    for (int i = 1; i < kRepeatCount; ++i) {
        const bool last = i == kRepeatCount - 1;
        t->repeats.push_back(Schedule(kRepeatGap * i, false, [this, mac, serial, sendOnce, last] {
            Txn* live = LiveTxn(mac, serial);
            if (live == nullptr || live->repeats.empty()) return;
            live->repeats.erase(live->repeats.begin());
            if (!sendOnce() || last) {
                CancelAll(live->repeats);
                TxnConfirmed(*live);
            }
        }));
    }
}

void CProtocol::TxnConfirmed(Txn& t) {
    t.state = TransactionState::Accepted;
    PostTxn(t, {.state = TransactionState::Accepted,
                .confirmation = static_cast<std::uint16_t>(t.pendingCommand)});
    const ReturnCheck check = t.request.afterAcceptance;
    if (check == ReturnCheck::None) {
        EndTxn(t, TransactionState::Done, TransactionFailure::None, false);
        return;
    }
    t.state = TransactionState::Restarting;
    t.waitStart = env_.scheduler.Now();
    t.away = true;
    ++txnAway_;
    PostTxn(t, {.state = TransactionState::Restarting});
    // Its place among those being talked to is free now, where the away bound allows it.
    if (AwayLimit() > txnLimit_) Defer([this] { PumpTransactions(); });
    const MacAddress mac = t.request.settings.primary.mac;
    const std::uint64_t serial = t.serial;
    t.deadline = Schedule(kReturnBudget, false, [this, mac, serial] {
        Txn* live = LiveTxn(mac, serial);
        if (live == nullptr || live->deadline == 0) return;
        live->deadline = 0;
        EndTxn(*live, TransactionState::Failed, TransactionFailure::NotSeenAfterRestart, false);
    });
    if (returnPoll_ == 0) returnPoll_ = Schedule(kPollPeriod, true, [this] { OnReturnPoll(); });
    // A device that does not restart may answer at once.
    if (check == ReturnCheck::Search) SendSearch(2);
}

void CProtocol::OnReturnPoll() {
    if (returnPoll_ == 0) return;
    const Milliseconds now = env_.scheduler.Now();
    bool waiting = false;
    bool due = false;
    for (const auto& [mac, t] : txns_) {
        if (t->state != TransactionState::Restarting) continue;
        waiting = true;
        const Milliseconds quiet =
            t->request.afterAcceptance == ReturnCheck::Restart ? kRestartQuiet : Milliseconds{0};
        if (now - t->waitStart >= quiet) due = true;
    }
    if (!waiting) {
        CancelTimer(returnPoll_);
        return;
    }
    if (due) SendSearch(2);
}

void CProtocol::TxnAnswer(const MacAddress& mac, std::uint16_t command, std::uint32_t address) {
    auto it = txns_.find(mac);
    if (it == txns_.end()) return;
    Txn& t = *it->second;
    if (t.state != TransactionState::Restarting || address == 0) return;
    if (t.request.afterAcceptance == ReturnCheck::Restart) {
        // Search answers only, as for a single change. And none from its first 30 s: the poll
        // may be searching for another device while this one has not gone down yet.
        if (command != CMD_SEARCH_REPLY) return;
        if (env_.scheduler.Now() - t.waitStart < kRestartQuiet) return;
    }
    // An answer still carrying the old address was sent before the device applied the change.
    if (t.request.expectedAddress != 0 && address != t.request.expectedAddress) return;
    EndTxn(t, TransactionState::Done, TransactionFailure::None, true);
}

void CProtocol::CancelTxnTimers(Txn& t) {
    CancelTimer(t.timeout);
    CancelTimer(t.confirmation);
    CancelTimer(t.deadline);
    CancelAll(t.repeats);
}

void CProtocol::EndTxn(Txn& t, TransactionState state, TransactionFailure failure,
                       bool returnSeen) {
    CancelTxnTimers(t);
    t.state = state;
    PostTxn(t, {.state = state, .failure = failure, .returnSeen = returnSeen});
    if (t.started) --txnRunning_;
    if (t.away) --txnAway_;
    const MacAddress mac = t.request.settings.primary.mac;
    txns_.erase(mac);  // t is gone from here on
    bool waiting = false;
    for (const auto& [m, other] : txns_) waiting |= other->state == TransactionState::Restarting;
    if (!waiting) CancelTimer(returnPoll_);
    // After the owner has heard of this end: one that stops a batch on a failure must be able
    // to cancel the queue before its next transaction starts.
    Defer([this] { PumpTransactions(); });
}

}  // namespace valdrune
