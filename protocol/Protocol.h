// CProtocol: the one object that speaks to devices. Searches, decodes answers into the device
// table, sends settings, confirms them and waits for a device to come back. Everything runs
// on the owner's thread through the IScheduler; nothing here blocks or sleeps.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/Datagram.h"
#include "protocol/DeviceTable.h"
#include "protocol/Events.h"
#include "protocol/Lifeline.h"
#include "protocol/Record.h"
#include "protocol/Seams.h"
#include "protocol/Transaction.h"

namespace valdrune {

// Engine result codes.
inline constexpr int PROTO_OK = 0;
inline constexpr int PROTO_SOCKET_NOT_READY = -1;
inline constexpr int PROTO_SEARCH_SEND_FAILED = -11;
inline constexpr int PROTO_SETTINGS_SEND_FAILED = -12;
inline constexpr int PROTO_CONFIRM_SEND_FAILED = -13;
inline constexpr int PROTO_ADDRESS_IN_USE = -14;
inline constexpr int PROTO_LATE_ACCEPTANCE = -15;
inline constexpr int PROTO_INVALID_DATAGRAM = -16;
inline constexpr int PROTO_FOREIGN_ACCEPTANCE = -17;
// The probe could not run because this process may not send ICMP echo (never "no conflict").
inline constexpr int PROTO_PROBE_NOT_PERMITTED = ECHO_NOT_PERMITTED;

// What every echo probe carries, and how long it waits for an answer.
inline constexpr char ECHO_DATA[] = "ICMP SEND DATA";
inline constexpr Milliseconds ECHO_TIMEOUT{1000};

// The host services the engine runs on. All references must outlive the engine.
struct ProtocolEnvironment {
    IScheduler& scheduler;
    IDatagramTransport& transport;
    IHostNetwork& host;
    IEchoProber& prober;
    INeighbourCache& neighbours;
};

class CProtocol {
public:
    explicit CProtocol(ProtocolEnvironment env);
    virtual ~CProtocol();
    CProtocol(const CProtocol&) = delete;
    CProtocol& operator=(const CProtocol&) = delete;

    // Receives every event. May be null: datagrams are then read and dropped.
    void SetListener(IProtocolEvents* listener);
    bool SocketReady() const { return socketReady_; }

    // Search cycle: mode 2 at 0 ms, mode 0 at 150 ms, mode 2 at 2000, 4000, 6000 ms; it ends
    // at 8000 ms with OnSearchEnded. A cycle cut short by a new search or another adapter
    // does not end that way.
    void StartSearch();
    int SendSearch(std::uint8_t protocolMode);
    // Validates, decodes and stores one datagram as it came from the socket (at most 1000
    // bytes are looked at), telling the listener before it returns. 0, or -15, -16, -17.
    int HandleDatagram(std::span<const std::uint8_t> datagram);
    // Three sends 100 ms apart, the first before returning; the 30 s acceptance time-out is
    // armed before the first. -12 when the first send fails (the time-out stays armed).
    // An acceptance is confirmed 100 ms after it arrives, but never before the three
    // requests and their 100 ms gaps are over.
    int SendSettings(const _CommandDataTable& record, std::uint16_t command, std::uint16_t mask);
    // Watches for the device to come back after its restart. An answer ends the wait once it
    // shows `address` (any nonzero one when 0), so that an answer the device sent before it
    // applied the settings (to a search still running, or late on the way) is not its return.
    void StartRestartWait(const MacAddress& awaited, std::uint32_t address = 0);
    // The address a device reports once it has applied these settings: the static one, or 0
    // (any) when it takes one by DHCP or on its own.
    static std::uint32_t AddressAfterSettings(const _CommandDataTable& settings);

    // Concurrent transactions, one per device, for batches. Queued in the order started; at
    // most TransactionLimit() run at once, and each holds its place until it is final (or, with
    // a larger AwayLimit(), until its device is away restarting). Every change of state is
    // posted to OnTransaction. False, and nothing queued, when the device already has a
    // transaction that is not final or the request has no command.
    bool StartTransaction(const TransactionRequest& request);
    // At least 1; raising it starts queued transactions at once.
    void SetTransactionLimit(int limit);
    int TransactionLimit() const { return txnLimit_; }
    // How many transactions may be started and not final at once, counting those whose device
    // is away restarting. 0, or anything up to TransactionLimit(), keeps each one in its place
    // to the end; a larger bound lets a transaction give its place to the next one as soon as
    // its device is away, so that restarts overlap.
    void SetAwayLimit(int limit);
    int AwayLimit() const { return std::max(awayLimit_, txnLimit_); }
    // Takes queued transactions out before they start; each reports Cancelled. Running ones
    // go on to their end. Returns how many were taken out.
    int CancelWaitingTransactions();
    bool CancelWaitingTransaction(const MacAddress& mac);
    std::optional<TransactionState> TransactionStateOf(const MacAddress& mac) const;
    int TransactionsRunning() const { return txnRunning_; }
    int TransactionsWaiting() const { return static_cast<int>(txnQueue_.size()); }
    bool ReturnPollRunning() const { return returnPoll_ != 0; }

    // Command and mask for a record's kind; false for a kind that cannot be set.
    static bool CommandForKind(std::uint8_t kind, std::uint16_t& command, std::uint16_t& mask);

    // Device table. StoreDevice inserts or replaces the record of its MAC (a new device takes
    // the next discovery number, which it returns); the owner stores back what it adds (the
    // browser class).
    int StoreDevice(const _CommandDataTable& record);
    std::optional<_CommandDataTable> FindDevice(const MacAddress& mac) const;
    // The text forms of ParseMac; an unreadable text finds nothing.
    std::optional<_CommandDataTable> FindDevice(const std::string& macText) const;
    // The device's discovery number (0 for the first since the last clear), -1 when unknown.
    int DeviceNumber(const MacAddress& mac) const;
    void ClearDevices();
    void ForEachDevice(const std::function<void(const DeviceEntry&)>& fn) const;
    const DeviceTable& Devices() const { return devices_; }
    // browserClassOf: how a device's page must be opened (the browser decisions' class of
    // it); without it every single-port device counts as class -1.
    void EnumerateDeviceUrls(std::vector<std::string>& urls, bool all,
                             const std::function<int(const _CommandDataTable&)>& browserClassOf =
                                 {}) const;

    // Address conflicts. FindOverlaps: number of other devices with the same nonzero address,
    // -1 when the table is empty; overlaps gets their discovery numbers, ascending.
    int FindOverlaps(const _CommandDataTable& record, std::vector<std::uint16_t>& overlaps) const;
    // Asynchronous: done(-14 | 0 | -1 | PROTO_PROBE_NOT_PERMITTED) on the owner's thread,
    // always after CheckAddressInUse has returned, never after the engine is destroyed.
    void CheckAddressInUse(const _CommandDataTable& record, bool changedOnly,
                           std::function<void(int)> done);
    // One echo of "ICMP SEND DATA", 1000 ms time-out:
    // done(0 | 11002 | 11003 | 11010 | -1 | ECHO_NOT_PERMITTED), after EchoProbe has returned.
    void EchoProbe(std::uint32_t address, std::function<void(int)> done);
    bool CanProbe() const;
    bool CanFlushNeighbours() const;

    // Host adapters. An all-zero preferred MAC means none is remembered.
    int EnumerateInterfaces(const MacAddress& preferredMac);
    bool SelectInterface(int position);
    std::string InterfaceDisplayText(int position) const;
    int InterfaceCount() const { return static_cast<int>(interfaces_.size()); }
    int SelectedInterface() const { return selectedInterface_; }
    const std::vector<_NetInfo>& Interfaces() const { return interfaces_; }
    const _NetInfo& LocalInterface() const { return local_; }

    // Introspection for the owner and for tests.
    bool SearchRunning() const { return searchTimer_ != 0; }
    bool RestartWaitRunning() const { return restartTimer_ != 0; }
    bool SettingsTimeoutRunning() const { return timeoutTimer_ != 0; }
    const MacAddress& TargetMac() const { return targetMac_; }
    const MacAddress& AwaitedMac() const { return awaitedMac_; }
    std::uint32_t PendingCommand() const { return pendingCommand_; }
    std::uint16_t RememberedSequence() const { return rememberedSequence_; }
    // The bytes of the datagram being handled (valid during the listener's calls).
    const std::uint8_t* ReceiveBuffer() const { return receiveBuffer_.data(); }
    std::uint8_t TargetCapability() const { return targetCapability_; }
    bool ConfirmationPending() const { return confirmationTimer_ != 0 || !confirmRepeats_.empty(); }
    bool SettingsSendsPending() const { return !settingsRepeats_.empty(); }
    int AddressChecksRunning() const { return checksRunning_; }

private:
    struct AddressCheck;  // one CheckAddressInUse in progress
    struct Txn;           // one concurrent transaction

    // Queues an event for the listener; one that detached meanwhile gets nothing.
    void PostEvent(std::function<void(IProtocolEvents&)> event);
    void CancelTimer(TimerId& id);
    void CancelAll(std::vector<TimerId>& ids);
    // Starts a timer whose callback does nothing once the engine is gone.
    TimerId Schedule(Milliseconds interval, bool periodic, std::function<void()> fn);
    // Runs fn after the current event, unless the engine is gone by then.
    void Defer(std::function<void()> fn);
    void OnReceived(std::size_t count);
    int ProcessDatagram(std::span<const std::uint8_t> datagram);
    void ReportDevice(const DeviceEntry* stored);
    void OnSecondRequest();
    void OnSearchTick();
    void ReportSearchEnded();
    void OnSettingsTimeout();
    void OnConfirmation();
    void FinishConfirmation(std::uint32_t command);
    void OnRestartTick();
    void RunCheckAttempt(const std::shared_ptr<AddressCheck>& check);
    void ProbeSecond(const std::shared_ptr<AddressCheck>& check);
    void FinishCheck(const std::shared_ptr<AddressCheck>& check, int result);
    Requester Pc() const { return Requester{local_.mac, local_.ipAddress}; }

    Txn* LiveTxn(const MacAddress& mac, std::uint64_t serial);
    void PostTxn(const Txn& t, TransactionEvent e);
    void PumpTransactions();
    void SendTxn(Txn& t);
    // Acceptance or return of a device with a transaction; nullopt when it has none.
    std::optional<int> TxnAcceptance(const MacAddress& mac, std::uint16_t command);
    void TxnAnswer(const MacAddress& mac, std::uint16_t command, std::uint32_t address);
    void ConfirmTxn(const MacAddress& mac, std::uint64_t serial);
    void TxnConfirmed(Txn& t);
    void EndTxn(Txn& t, TransactionState state, TransactionFailure failure, bool returnSeen);
    void OnReturnPoll();
    void CancelTxnTimers(Txn& t);

    ProtocolEnvironment env_;
    IProtocolEvents* listener_ = nullptr;
    // Held by every scheduled callback so that none runs after destruction.
    Lifeline lifeline_;

    TimerId searchTimer_ = 0;
    int searchRemaining_ = 6001;
    int searchPeriod_ = 2000;
    Milliseconds searchStartedAt_{0};
    TimerId secondRequestTimer_ = 0;
    TimerId confirmationTimer_ = 0;
    TimerId timeoutTimer_ = 0;
    TimerId restartTimer_ = 0;
    int restartRemaining_ = 120000;
    int restartPeriod_ = 2000;
    // Scheduled repetitions, 100 ms apart, of the settings request and of the confirmation.
    std::vector<TimerId> settingsRepeats_;
    std::vector<TimerId> confirmRepeats_;
    // When the settings request's own sends and waits are over; the confirmation never
    // goes out before that, so the device sees every request before the confirmation.
    Milliseconds settingsQuietAt_{0};
    std::vector<TimerId> checkTimers_;  // 100 ms waits of address checks
    int checksRunning_ = 0;

    std::uint32_t pendingCommand_ = 0;
    MacAddress targetMac_{};
    MacAddress awaitedMac_{};
    std::uint32_t awaitedAddress_ = 0;
    std::uint8_t targetCapability_ = 255;
    std::array<std::uint8_t, RECEIVE_BUFFER_SIZE> receiveBuffer_{};
    bool socketReady_ = false;
    std::uint16_t rememberedSequence_ = 0;
    _NetInfo local_;
    DeviceTable devices_;
    std::vector<_NetInfo> interfaces_;
    int selectedInterface_ = -1;

    std::map<MacAddress, std::unique_ptr<Txn>> txns_;
    std::deque<MacAddress> txnQueue_;
    int txnLimit_ = 16;
    int txnRunning_ = 0;  // started and not final, away ones included
    int awayLimit_ = 0;
    int txnAway_ = 0;  // of those, waiting for their device to come back
    std::uint64_t txnSerial_ = 0;
    TimerId returnPoll_ = 0;  // the one search poll of every device being waited for
};

}  // namespace valdrune
