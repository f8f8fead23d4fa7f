#include "cli/Session.h"

#include "cli/ExitCodes.h"
#include "cli/Texts.h"

namespace valdrune::cli {

namespace {
Outcome OutcomeOf(ChangeResult result, const std::string& cannotProbe) {
    switch (result) {
    case ChangeResult::Completed: return {441, EXIT_OK, Text(441)};
    case ChangeResult::SentRestarting: return {442, EXIT_OK, Text(442)};
    case ChangeResult::AddressInUse:
        return {436, EXIT_CONFLICT, Text(436) + ". " + kNothingSent};
    case ChangeResult::NotProbed: return {0, EXIT_CANNOT_PROBE, cannotProbe};
    case ChangeResult::SocketNotReady:
    case ChangeResult::CannotSet: return {224, EXIT_FAILED, Text(224)};
    case ChangeResult::NoAcceptance: return {439, EXIT_TIMEOUT, SetupFailedText(439)};
    case ChangeResult::NotBack: break;
    }
    return {440, EXIT_NOT_BACK, SetupFailedText(440)};
}
}  // namespace

std::string Session::CannotProbeText() const {
    std::string text =
        "This process may not send ICMP echo requests, so it cannot check whether the new "
        "addresses are already in use. Nothing was sent.";
    if (!rights_.probe.empty()) text.append(" ").append(rights_.probe);
    return text;
}

Session::Session(ProtocolEnvironment env, std::ostream& out, std::ostream& err)
    : DeviceSession(env), out_(out), err_(err) {
    SetDeviceHook([this](const _CommandDataTable& record, int) {
        if (onDevice) onDevice(record);
    });
}

int Session::OpenInterface(const std::string& adapter) {
    switch (DeviceSession::OpenInterface(adapter)) {
    case OpenResult::Ok: return EXIT_OK;
    case OpenResult::NoAdapter:
        err_ << "No network adapter with an IPv4 address was found.\n";
        return EXIT_FAILED;
    case OpenResult::NoMatch:
        err_ << "No adapter matches \"" << adapter << "\" (give its name, MAC or IPv4 address; "
             << "see 'valdrune-cli interfaces').\n";
        return EXIT_NOT_FOUND;
    case OpenResult::NotReady: break;
    }
    err_ << Text(224) << '\n';
    return EXIT_FAILED;
}

std::vector<DeviceView> Session::Devices() const { return DeviceViews(*this); }

void Session::WarnIfCannotFlush() {
    if (flushWarned_ || Engine().CanFlushNeighbours()) return;
    flushWarned_ = true;
    err_ << "Note: this process may not drop neighbour-cache entries"
         << (rights_.flush.empty() ? "" : " (" + std::string(rights_.flush) + ")")
         << ", so a probe may miss an address that moved to another host only moments ago.\n";
}

void Session::Transaction(const _CommandDataTable& settings, std::uint16_t command,
                          std::uint16_t mask, bool waitForRestart, bool confirmBySearch,
                          std::function<void(Outcome)> done) {
    WarnIfCannotFlush();
    ChangeSteps steps;
    // Said only once the probe passed: on a conflict nothing goes out.
    steps.sending = [this] { err_ << prefix_ << Text(226) << '\n'; };
    steps.restarting = [this] { err_ << prefix_ << Text(227) << '\n'; };
    steps.done = [done = std::move(done), cannotProbe = CannotProbeText()](ChangeResult result) {
        if (done) done(OutcomeOf(result, cannotProbe));
    };
    StartChange({settings, command, mask, waitForRestart, confirmBySearch}, std::move(steps));
}

}  // namespace valdrune::cli
