// DeviceSession: the engine together with the bookkeeping every front end needs around it:
// opening an adapter, search cycles that end early once the caller has seen enough, the devices
// a full table turned away, and settings changes from the address probe to their outcome. The
// window, the command-line tool and the tests all run on it; they only add how things are
// shown. Everything runs on the scheduler's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "protocol/Lifeline.h"
#include "protocol/Protocol.h"

namespace valdrune {

// Position of the adapter named by its name (the description up to " ("), MAC or IPv4, or
// -1. An empty name gives position 0 when there is one.
int MatchInterface(const std::vector<_NetInfo>& table, const std::string& adapter);
// Discovery broadcasts never leave the host on loopback, so it is no choice for a search.
bool IsLoopback(const _NetInfo& adapter);
// The name searches on several adapters label devices with: the adapter's description up to
// " (", "-" when the engine has none selected.
std::string AdapterName(const CProtocol& engine);

// The answering device's record when datagram is a valid device answer with an address that
// the engine's full table will not store; nullopt otherwise. Call before the engine handles it.
std::optional<_CommandDataTable> AnswerBeyondTable(const CProtocol& engine,
                                                   std::span<const std::uint8_t> datagram);

enum class OpenResult : std::uint8_t { Ok, NoAdapter, NoMatch, NotReady };

// How a settings change ended.
enum class ChangeResult : std::uint8_t {
    Completed,       // accepted, and the device is back (two-port: accepted)
    SentRestarting,  // accepted; its restart was not awaited
    AddressInUse,    // the probe found a new address answering: nothing was sent
    NotProbed,       // nobody could probe the new addresses and the owner did not send
    SocketNotReady,  // the probe found no socket and the owner did not send
    CannotSet,       // no settings command for the record's kind: nothing was sent
    NoAcceptance,    // the device did not accept within 30 s
    NotBack,         // the device did not answer again within the restart wait
};

struct ChangeRequest {
    _CommandDataTable settings;  // keyed by settings.primary.mac
    // Both 0: the command and mask of the record's kind.
    std::uint16_t command = 0;
    std::uint16_t mask = 0;
    bool waitForRestart = true;
    // A two-port device counts as done only once a search answer shows the new LAN address
    // (searched for as long as a restart wait lasts).
    bool confirmBySearch = false;
};

// What a change tells its owner, each step at most once, in this order.
struct ChangeSteps {
    // The probe could not rule out a conflict (PROTO_PROBE_NOT_PERMITTED or
    // PROTO_SOCKET_NOT_READY): true sends all the same. Without it nothing is sent.
    std::function<bool(int probeResult)> sendUnproven;
    std::function<void()> sending;     // the first request goes out next
    std::function<void()> restarting;  // a single-port device accepted and restarts
    std::function<void(ChangeResult)> done;
};

class DeviceSession : public IProtocolEvents {
  public:
    explicit DeviceSession(ProtocolEnvironment env);
    ~DeviceSession() override;
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    CProtocol& Engine() { return *engine_; }
    const CProtocol& Engine() const { return *engine_; }
    IScheduler& Clock() { return clock_; }

    // Every stored answer, after the session's own bookkeeping saw it.
    void SetDeviceHook(std::function<void(const _CommandDataTable&, int number)> hook) {
        deviceHook_ = std::move(hook);
    }

    // Every search cycle that ran to its end (see CProtocol::StartSearch).
    void SetSearchEndHook(std::function<void()> hook) { searchEndHook_ = std::move(hook); }
    void OnSearchEnded() override {
        if (searchEndHook_) searchEndHook_();
    }

    // Enumerates the adapters and binds to the one named (see MatchInterface).
    OpenResult OpenInterface(const std::string& adapter);

    // Empties the table, then starts the engine's search cycle.
    void NewSearch();
    // One search cycle (8 s after its start), ended early when enough(record) returns true
    // for an answering device; done(true) then comes after that datagram has been handled.
    void Search(std::function<bool(const _CommandDataTable&)> enough,
                std::function<void(bool)> done);
    void CancelSearch();

    // Probes the new addresses, sends, waits for acceptance and, when asked, for the restart.
    // A second change for the same device replaces the first, which ends without a result.
    void StartChange(ChangeRequest request, ChangeSteps steps);
    // Forgets the device's change: its owner has ended it; nothing more is reported.
    void AbandonChange(const MacAddress& mac);
    bool ChangeRunning(const MacAddress& mac) const { return changes_.count(mac) != 0; }

    // The engine's concurrent transactions (batches) are the owner's to follow.
    void SetTransactionHook(std::function<void(const TransactionEvent&)> hook) {
        transactionHook_ = std::move(hook);
    }
    void OnTransaction(const TransactionEvent& event) override {
        if (transactionHook_) transactionHook_(event);
    }

    // Devices that answered while the engine's table was full, and were not stored.
    const std::set<MacAddress>& BeyondTable() const { return beyondTable_; }
    // Each such answer, decoded, for an owner that looks for particular devices.
    void SetBeyondTableHook(std::function<void(const _CommandDataTable&)> hook) {
        beyondTableHook_ = std::move(hook);
    }
    // The MACs of the other devices sharing the record's address, in discovery order.
    std::vector<MacAddress> Overlapping(const _CommandDataTable& record) const;

    void OnDeviceFound(const _CommandDataTable& record, int number) override;
    void OnSettingsAccepted(std::uint16_t confirmation) override;
    void OnSettingsFailed(SetupFailure reason) override;
    void OnRestartSeen() override;
    void OnDatagramHandled(std::size_t size, int result) override;

  private:
    enum class Stage : std::uint8_t { Probing, Sent, Confirming, AwaitingRestart };
    struct Change {
        ChangeRequest request;
        ChangeSteps steps;
        Stage stage = Stage::Probing;
        std::uint64_t serial = 0;  // tells a replacing change from the one it replaced
    };

    // The engine's settings events name no device: they belong to the change at that stage.
    Change* At(Stage stage);
    Change* Find(const MacAddress& mac);
    void OnProbed(const MacAddress& mac, int result);
    void ConfirmBySearch(const MacAddress& mac, int cycle);
    void Finish(const MacAddress& mac, ChangeResult result);
    // Finish, told once the current event has been handled.
    void FinishAfterThis(const MacAddress& mac, ChangeResult result);

    IScheduler& clock_;
    std::unique_ptr<CProtocol> engine_;
    std::function<void(const _CommandDataTable&, int)> deviceHook_;
    std::function<void(const TransactionEvent&)> transactionHook_;
    std::function<void()> searchEndHook_;
    std::set<MacAddress> beyondTable_;
    std::function<void(const _CommandDataTable&)> beyondTableHook_;

    TimerId searchEnd_ = 0;
    std::function<bool(const _CommandDataTable&)> searchEnough_;
    std::function<void(bool)> searchDone_;

    std::map<MacAddress, Change> changes_;
    std::uint64_t nextSerial_ = 0;
    Lifeline lifeline_;
};

}  // namespace valdrune
