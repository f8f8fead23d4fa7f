// The tool's notify window: owns the engine for one command, answers its messages, and offers
// the asynchronous steps the commands are made of. Everything runs on the scheduler's thread;
// the commands chain these steps with callbacks and never block.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "cli/RecordView.h"
#include "protocol/Protocol.h"

namespace valdrune::cli {

// Position of the adapter named by its name (the description up to " ("), MAC or IPv4, or
// -1. An empty name gives position 0 when there is one.
int MatchInterface(const std::vector<_NetInfo>& table, const std::string& adapter);

struct Outcome {
    int textId = 0;  // string-table id of the outcome (0: a message of this tool)
    int exitCode = 0;
    std::string message;  // the printed text
};

class Session final : public IProtocolEvents {
  public:
    Session(ProtocolEnvironment env, std::ostream& out, std::ostream& err);
    ~Session() override;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    CProtocol& Engine() { return *engine_; }
    IScheduler& Clock() { return clock_; }
    std::ostream& Out() { return out_; }
    std::ostream& Err() { return err_; }

    // Enumerates the adapters and binds to the one named. Returns an exit code; on
    // failure the reason has been printed.
    int OpenInterface(const std::string& adapter);

    // One search cycle (8 s after its start), ended early when enough(record) returns true
    // for an answering device. done(true) when it ended early.
    void Search(std::function<bool(const _CommandDataTable&)> enough,
                std::function<void(bool)> done);
    void CancelSearch();
    // Called for every decoded answer.
    std::function<void(const _CommandDataTable&)> onDevice;

    // Probe, send, wait for acceptance and (for single-port devices, when asked) the restart.
    // confirmBySearch: a two-port device is confirmed by a search answer within 120 s.
    void Transaction(const _CommandDataTable& settings, std::uint16_t command, std::uint16_t mask,
                     bool waitForRestart, bool confirmBySearch, std::function<void(Outcome)> done);

    // Says once per run when neighbour-cache entries cannot be dropped before a probe.
    void WarnIfCannotFlush();

    // Put before every progress line of a transaction (apply names the device there).
    void SetProgressPrefix(std::string prefix) { prefix_ = std::move(prefix); }

    // Devices that answered while the engine's table was full, and were not stored.
    const std::set<MacAddress>& BeyondTable() const { return beyondTable_; }

    // Devices of the table in table order, with their overlap lists as MAC texts.
    std::vector<DeviceView> Devices() const;

    void OnDeviceFound(const _CommandDataTable& record, int number) override;
    void OnSettingsAccepted(std::uint16_t confirmation) override;
    void OnSettingsFailed(SetupFailure reason) override;
    void OnRestartSeen() override;
    void OnDatagramHandled(std::size_t size, int result) override;

  private:
    struct Pending;
    void Finish(Outcome outcome);
    void ConfirmBySearch(const MacAddress& mac, int cycle);

    IScheduler& clock_;
    std::ostream& out_;
    std::ostream& err_;
    std::unique_ptr<CProtocol> engine_;
    std::string prefix_;
    bool flushWarned_ = false;
    std::set<MacAddress> beyondTable_;

    TimerId searchEnd_ = 0;
    std::function<bool(const _CommandDataTable&)> searchEnough_;
    std::function<void(bool)> searchDone_;

    std::unique_ptr<Pending> pending_;  // the transaction in progress
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Message printed when the probe cannot run for want of ICMP permission.
const char* CannotProbeText();

}  // namespace valdrune::cli
