#include "cli/Session.h"

#include "browser/core/ModelLists.h"
#include "browser/core/Resources.h"
#include "cli/ExitCodes.h"
#include "cli/TableLimit.h"
#include "cli/Texts.h"

namespace valdrune::cli {

namespace {
constexpr Milliseconds kSearchCycle{8000};

const ModelLists& BuiltInModelLists() {
    static const ModelLists lists = {LoadModelList(ModelListResource(MODEL_LIST_RESOURCE_IDS[0])),
                                     LoadModelList(ModelListResource(MODEL_LIST_RESOURCE_IDS[1])),
                                     LoadModelList(ModelListResource(MODEL_LIST_RESOURCE_IDS[2]))};
    return lists;
}
}  // namespace

const char* CannotProbeText() {
    return "This process may not send ICMP echo requests, so it cannot check whether the new "
           "addresses are already in use. Nothing was sent. Run as root or grant CAP_NET_RAW.";
}

int MatchInterface(const std::vector<_NetInfo>& table, const std::string& adapter) {
    if (table.empty()) return -1;
    if (adapter.empty()) return 0;
    MacAddress mac{};
    const bool isMac = ParseMac(adapter, mac);
    std::uint32_t ip = 0;
    const bool isIp = ParseIpv4(adapter, ip);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const _NetInfo& n = table[i];
        if (isMac && n.mac == mac) return static_cast<int>(i);
        if (isIp && n.ipAddress == ip) return static_cast<int>(i);
        const std::string& d = n.description;
        const std::size_t cut = d.find(" (");
        if (d == adapter || (cut != std::string::npos && d.compare(0, cut, adapter) == 0 &&
                             cut == adapter.size())) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

struct Session::Pending {
    _CommandDataTable settings;
    std::uint16_t command = 0;
    std::uint16_t mask = 0;
    bool wait = true;
    bool confirmBySearch = false;
    bool accepted = false;
    std::function<void(Outcome)> done;
};

Session::Session(ProtocolEnvironment env, std::ostream& out, std::ostream& err)
    : clock_(env.scheduler), out_(out), err_(err), engine_(std::make_unique<CProtocol>(env)) {
    engine_->SetListener(this);
}

Session::~Session() {
    *alive_ = false;
    clock_.CancelTimer(searchEnd_);
    // The engine goes first: none of its callbacks may reach a half-destroyed session.
    engine_.reset();
}

int Session::OpenInterface(const std::string& adapter) {
    const int count = engine_->EnumerateInterfaces(MacAddress{});
    if (count <= 0) {
        err_ << "No network adapter with an IPv4 address was found.\n";
        return EXIT_FAILED;
    }
    const int position = MatchInterface(engine_->Interfaces(), adapter);
    if (position < 0) {
        err_ << "No adapter matches \"" << adapter << "\" (give its name, MAC or IPv4 address; "
             << "see 'valdrune-cli interfaces').\n";
        return EXIT_NOT_FOUND;
    }
    if (!engine_->SelectInterface(position) || !engine_->SocketReady()) {
        err_ << Text(224) << '\n';
        return EXIT_FAILED;
    }
    return EXIT_OK;
}

void Session::Search(std::function<bool(const _CommandDataTable&)> enough,
                     std::function<void(bool)> done) {
    CancelSearch();
    searchEnough_ = std::move(enough);
    searchDone_ = std::move(done);
    engine_->StartSearch();
    searchEnd_ = clock_.StartTimer(kSearchCycle, false, [this, alive = alive_] {
        if (!*alive) return;
        searchEnd_ = 0;
        auto finished = std::move(searchDone_);
        searchEnough_ = nullptr;
        searchDone_ = nullptr;
        if (finished) finished(false);
    });
}

void Session::CancelSearch() {
    clock_.CancelTimer(searchEnd_);
    searchEnd_ = 0;
    searchEnough_ = nullptr;
    searchDone_ = nullptr;
}

void Session::OnDatagramHandled(std::size_t size, int) {
    // Still in the receive buffer: an answer the full table did not take is counted.
    if (auto mac = AnswerBeyondTable(
            *engine_, {engine_->ReceiveBuffer(), std::min<std::size_t>(size, RECEIVE_BUFFER_SIZE)}))
        beyondTable_.insert(*mac);
}

void Session::OnDeviceFound(const _CommandDataTable& record, int) {
    if (onDevice) onDevice(record);
    if (searchEnough_ && searchEnough_(record)) {
        auto finished = std::move(searchDone_);
        CancelSearch();
        // Reported after this datagram has been handled completely.
        clock_.Post([alive = alive_, finished = std::move(finished)] {
            if (*alive && finished) finished(true);
        });
    }
}

void Session::OnSettingsFailed(SetupFailure reason) {
    if (!pending_) return;
    if (reason == SetupFailure::NoAcceptance) {
        Finish(Outcome{439, EXIT_TIMEOUT, SetupFailedText(439)});
    } else {
        Finish(Outcome{440, EXIT_NOT_BACK, SetupFailedText(440)});
    }
}

void Session::OnRestartSeen() {
    if (pending_) Finish(Outcome{441, EXIT_OK, Text(441)});
}

std::vector<DeviceView> Session::Devices() const {
    std::map<int, std::string> macByNumber;
    engine_->ForEachDevice(
        [&](const DeviceEntry& e) { macByNumber[e.number] = MacText(e.record.primary.mac); });
    std::vector<DeviceView> out;
    engine_->ForEachDevice([&](const DeviceEntry& e) {
        const _CommandDataTable& r = e.record;
        DeviceView v;
        v.record = r;
        // The browser class the window's list gives the device.
        v.browserClass = ClassifyDevice(r, BuiltInModelLists());
        std::vector<std::uint16_t> rows;
        if (engine_->FindOverlaps(r, rows) > 0) {
            for (std::uint16_t row : rows) {
                auto it = macByNumber.find(row);
                if (it != macByNumber.end()) v.overlaps.push_back(it->second);
            }
        }
        out.push_back(std::move(v));
    });
    return out;
}

void Session::WarnIfCannotFlush() {
    if (flushWarned_ || engine_->CanFlushNeighbours()) return;
    flushWarned_ = true;
    err_ << "Note: this process may not drop neighbour-cache entries (CAP_NET_ADMIN), so a "
            "probe may miss an address that moved to another host only moments ago.\n";
}

void Session::Transaction(const _CommandDataTable& settings, std::uint16_t command,
                          std::uint16_t mask, bool waitForRestart, bool confirmBySearch,
                          std::function<void(Outcome)> done) {
    pending_ = std::make_unique<Pending>();
    pending_->settings = settings;
    pending_->command = command;
    pending_->mask = mask;
    pending_->wait = waitForRestart;
    pending_->confirmBySearch = confirmBySearch;
    pending_->done = std::move(done);
    WarnIfCannotFlush();
    engine_->CheckAddressInUse(settings, true, [this, alive = alive_](int result) {
        if (!*alive || !pending_) return;
        if (result == PROTO_ADDRESS_IN_USE) {
            Finish(Outcome{436, EXIT_CONFLICT, Text(436) + ". " + kNothingSent});
        } else if (result == PROTO_PROBE_NOT_PERMITTED) {
            Finish(Outcome{0, EXIT_CANNOT_PROBE, CannotProbeText()});
        } else if (result == PROTO_SOCKET_NOT_READY) {
            Finish(Outcome{224, EXIT_FAILED, Text(224)});
        } else {
            // Said only now: on a conflict nothing goes out. A failed send is reported by the
            // acceptance time-out, as in the window.
            err_ << prefix_ << Text(226) << '\n';
            engine_->SendSettings(pending_->settings, pending_->command, pending_->mask);
        }
    });
}

void Session::OnSettingsAccepted(std::uint16_t) {
    if (!pending_) return;
    pending_->accepted = true;
    const _CommandDataTable& s = pending_->settings;
    if (s.kind == DEVICE_KIND_TWO_PORT) {
        if (!pending_->confirmBySearch) {
            Finish(Outcome{441, EXIT_OK, Text(441)});
            return;
        }
        ConfirmBySearch(s.primary.mac, 0);
        return;
    }
    err_ << prefix_ << Text(227) << '\n';
    if (pending_->wait) {
        engine_->StartRestartWait(s.primary.mac);
    } else {
        Finish(Outcome{442, EXIT_OK, Text(442)});
    }
}

// Search cycles until the device answers again, for as long as a restart wait would last.
void Session::ConfirmBySearch(const MacAddress& mac, int cycle) {
    constexpr int kCycles = 15;  // 15 x 8 s = 120 s
    // An answer counts once it shows the LAN address the settings gave (any, for LAN DHCP), so
    // that an answer sent before the device applied them is not taken for its return.
    const std::uint32_t expected =
        pending_->settings.ipv4Mode != 0 ? pending_->settings.primary.ipAddress : 0;
    Search(
        [mac, expected](const _CommandDataTable& r) {
            return r.primary.mac == mac && r.primary.ipAddress != 0 &&
                   (expected == 0 || r.primary.ipAddress == expected);
        },
        [this, mac, cycle, alive = alive_](bool seen) {
            if (!*alive || !pending_) return;
            if (seen) {
                Finish(Outcome{441, EXIT_OK, Text(441)});
            } else if (cycle + 1 < kCycles) {
                ConfirmBySearch(mac, cycle + 1);
            } else {
                Finish(Outcome{440, EXIT_NOT_BACK, SetupFailedText(440)});
            }
        });
}

void Session::Finish(Outcome outcome) {
    auto p = std::move(pending_);
    if (p && p->done) p->done(std::move(outcome));
}

}  // namespace valdrune::cli
