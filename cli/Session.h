// The tool's side of the device session: says on its streams what the shared session reports,
// gives changes their exit codes and texts, and lists devices as the tool prints them.
// Everything runs on the scheduler's thread; the commands chain the steps with callbacks and
// never block.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/RecordView.h"
#include "protocol/HostRights.h"
#include "protocol/Session.h"

namespace valdrune::cli {

struct Outcome {
    int textId = 0;  // string-table id of the outcome (0: a message of this tool)
    int exitCode = 0;
    std::string message;  // the printed text
};

class Session final : public DeviceSession {
  public:
    Session(ProtocolEnvironment env, std::ostream& out, std::ostream& err);

    std::ostream& Out() { return out_; }
    std::ostream& Err() { return err_; }

    // Enumerates the adapters and binds to the one named. Returns an exit code; on
    // failure the reason has been printed.
    int OpenInterface(const std::string& adapter);

    // Called for every decoded answer.
    std::function<void(const _CommandDataTable&)> onDevice;

    // A change as StartChange makes it, with the tool's texts and exit codes.
    void Transaction(const _CommandDataTable& settings, std::uint16_t command, std::uint16_t mask,
                     bool waitForRestart, bool confirmBySearch, std::function<void(Outcome)> done);

    // Says once per run when neighbour-cache entries cannot be dropped before a probe.
    void WarnIfCannotFlush();
    // How this host's rights are named: in that note, in CannotProbeText and by reach.
    void SetRights(HostRights rights) { rights_ = rights; }
    const HostRights& Rights() const { return rights_; }

    // Message printed when the probe cannot run for want of ICMP permission.
    std::string CannotProbeText() const;

    // Put before every progress line of a transaction (apply names the device there).
    void SetProgressPrefix(std::string prefix) { prefix_ = std::move(prefix); }

    // Devices of the table in table order, with their overlap lists as MAC texts.
    std::vector<DeviceView> Devices() const;

  private:
    std::ostream& out_;
    std::ostream& err_;
    std::string prefix_;
    bool flushWarned_ = false;
    HostRights rights_;
};

}  // namespace valdrune::cli
