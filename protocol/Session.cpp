#include "protocol/Session.h"

#include <algorithm>

#include "protocol/Decoder.h"

namespace valdrune {

namespace {
constexpr Milliseconds kSearchCycle{8000};
constexpr int kConfirmCycles = 15;  // 15 x 8 s = 120 s, as long as a restart wait
}  // namespace

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

bool IsLoopback(const _NetInfo& adapter) { return adapter.ipAddress >> 24 == 127; }

std::string AdapterName(const CProtocol& engine) {
    const int p = engine.SelectedInterface();
    if (p < 0 || p >= engine.InterfaceCount()) return "-";
    const std::string& d = engine.Interfaces()[static_cast<std::size_t>(p)].description;
    return d.substr(0, d.find(" ("));
}

std::optional<_CommandDataTable> AnswerBeyondTable(const CProtocol& engine,
                                                   std::span<const std::uint8_t> datagram) {
    if (engine.Devices().Size() < MAX_DEVICES) return std::nullopt;
    const auto header = ValidateAnswer(datagram, engine.LocalInterface().mac);
    if (!header || (header->command != CMD_SEARCH_REPLY && header->command != CMD_INFO))
        return std::nullopt;
    if (engine.Devices().Contains(header->deviceMac)) return std::nullopt;
    DecodeResult decoded = DecodeDeviceAnswer(datagram, header->payloadLength, ContextOf(*header));
    if (!decoded.hadAddress) return std::nullopt;
    return std::move(decoded.record);
}

DeviceSession::DeviceSession(ProtocolEnvironment env)
    : clock_(env.scheduler), engine_(std::make_unique<CProtocol>(env)) {
    engine_->SetListener(this);
}

DeviceSession::~DeviceSession() {
    lifeline_.Cut();
    clock_.CancelTimer(searchEnd_);
    // The engine goes first: none of its callbacks may reach a half-destroyed session.
    engine_.reset();
}

OpenResult DeviceSession::OpenInterface(const std::string& adapter) {
    if (engine_->EnumerateInterfaces(MacAddress{}) <= 0) return OpenResult::NoAdapter;
    const int position = MatchInterface(engine_->Interfaces(), adapter);
    if (position < 0) return OpenResult::NoMatch;
    if (!engine_->SelectInterface(position) || !engine_->SocketReady()) return OpenResult::NotReady;
    return OpenResult::Ok;
}

// ---- Searching --------------------------------------------------------------------------------

void DeviceSession::NewSearch() {
    engine_->ClearDevices();
    engine_->StartSearch();
}

void DeviceSession::Search(std::function<bool(const _CommandDataTable&)> enough,
                           std::function<void(bool)> done) {
    CancelSearch();
    searchEnough_ = std::move(enough);
    searchDone_ = std::move(done);
    engine_->StartSearch();
    searchEnd_ = clock_.StartTimer(kSearchCycle, false, [this, alive = lifeline_.Hold()] {
        if (!Lifeline::Alive(alive)) return;
        searchEnd_ = 0;
        auto finished = std::move(searchDone_);
        searchEnough_ = nullptr;
        searchDone_ = nullptr;
        if (finished) finished(false);
    });
}

void DeviceSession::CancelSearch() {
    clock_.CancelTimer(searchEnd_);
    searchEnd_ = 0;
    searchEnough_ = nullptr;
    searchDone_ = nullptr;
}

void DeviceSession::OnDatagramHandled(std::size_t size, int) {
    // Still in the receive buffer: an answer the full table did not take is counted.
    if (auto record = AnswerBeyondTable(
            *engine_,
            {engine_->ReceiveBuffer(), std::min<std::size_t>(size, RECEIVE_BUFFER_SIZE)})) {
        beyondTable_.insert(record->primary.mac);
        if (beyondTableHook_) beyondTableHook_(*record);
    }
}

void DeviceSession::OnDeviceFound(const _CommandDataTable& record, int number) {
    if (deviceHook_) deviceHook_(record, number);
    if (searchEnough_ && searchEnough_(record)) {
        auto finished = std::move(searchDone_);
        CancelSearch();
        clock_.Post([alive = lifeline_.Hold(), finished = std::move(finished)] {
            if (Lifeline::Alive(alive) && finished) finished(true);
        });
    }
}

std::vector<MacAddress> DeviceSession::Overlapping(const _CommandDataTable& record) const {
    std::vector<std::uint16_t> numbers;
    if (engine_->FindOverlaps(record, numbers) <= 0) return {};
    std::map<int, MacAddress> byNumber;
    engine_->ForEachDevice(
        [&](const DeviceEntry& e) { byNumber[e.number] = e.record.primary.mac; });
    std::vector<MacAddress> macs;
    for (std::uint16_t n : numbers) {
        auto it = byNumber.find(n);
        if (it != byNumber.end()) macs.push_back(it->second);
    }
    return macs;
}

// ---- Settings changes -------------------------------------------------------------------------

DeviceSession::Change* DeviceSession::Find(const MacAddress& mac) {
    auto it = changes_.find(mac);
    return it == changes_.end() ? nullptr : &it->second;
}

DeviceSession::Change* DeviceSession::At(Stage stage) {
    for (auto& [mac, change] : changes_)
        if (change.stage == stage) return &change;
    return nullptr;
}

void DeviceSession::StartChange(ChangeRequest request, ChangeSteps steps) {
    const MacAddress mac = request.settings.primary.mac;
    changes_.insert_or_assign(
        mac, Change{std::move(request), std::move(steps), Stage::Probing, ++nextSerial_});
    // The probe runs asynchronously, so the owner keeps working while it waits.
    engine_->CheckAddressInUse(changes_.at(mac).request.settings, true,
                               [this, mac, alive = lifeline_.Hold()](int result) {
                                   if (Lifeline::Alive(alive)) OnProbed(mac, result);
                               });
}

void DeviceSession::AbandonChange(const MacAddress& mac) { changes_.erase(mac); }

void DeviceSession::OnProbed(const MacAddress& mac, int result) {
    Change* c = Find(mac);
    if (c == nullptr || c->stage != Stage::Probing) return;
    if (result == PROTO_ADDRESS_IN_USE) {
        Finish(mac, ChangeResult::AddressInUse);
        return;
    }
    if (result == PROTO_PROBE_NOT_PERMITTED || result == PROTO_SOCKET_NOT_READY) {
        const bool send = c->steps.sendUnproven && c->steps.sendUnproven(result);
        // The owner may have asked the user, and events ran meanwhile.
        c = Find(mac);
        if (c == nullptr || c->stage != Stage::Probing) return;
        if (!send) {
            Finish(mac, result == PROTO_PROBE_NOT_PERMITTED ? ChangeResult::NotProbed
                                                            : ChangeResult::SocketNotReady);
            return;
        }
    }
    std::uint16_t command = c->request.command;
    std::uint16_t mask = c->request.mask;
    if (command == 0 && mask == 0 &&
        !CProtocol::CommandForKind(c->request.settings.kind, command, mask)) {
        // Nothing would ever answer.
        Finish(mac, ChangeResult::CannotSet);
        return;
    }
    c->stage = Stage::Sent;
    if (c->steps.sending) c->steps.sending();
    // A failed send is reported by the acceptance time-out.
    if ((c = Find(mac)) != nullptr) engine_->SendSettings(c->request.settings, command, mask);
}

void DeviceSession::OnSettingsAccepted(std::uint16_t) {
    Change* c = At(Stage::Sent);
    if (c == nullptr) return;
    const MacAddress mac = c->request.settings.primary.mac;
    if (c->request.settings.kind == DEVICE_KIND_TWO_PORT) {
        c->stage = Stage::Confirming;
        if (c->request.confirmBySearch)
            ConfirmBySearch(mac, 0);
        else
            FinishAfterThis(mac, ChangeResult::Completed);
        return;
    }
    if (c->steps.restarting) c->steps.restarting();
    if ((c = Find(mac)) == nullptr) return;
    if (c->request.waitForRestart) {
        c->stage = Stage::AwaitingRestart;
        engine_->StartRestartWait(mac, CProtocol::AddressAfterSettings(c->request.settings));
    } else {
        c->stage = Stage::Confirming;
        FinishAfterThis(mac, ChangeResult::SentRestarting);
    }
}

void DeviceSession::OnSettingsFailed(SetupFailure reason) {
    const bool noAcceptance = reason == SetupFailure::NoAcceptance;
    if (Change* c = At(noAcceptance ? Stage::Sent : Stage::AwaitingRestart))
        Finish(c->request.settings.primary.mac,
               noAcceptance ? ChangeResult::NoAcceptance : ChangeResult::NotBack);
}

void DeviceSession::OnRestartSeen() {
    if (Change* c = At(Stage::AwaitingRestart))
        Finish(c->request.settings.primary.mac, ChangeResult::Completed);
}

// Search cycles until the device answers again.
void DeviceSession::ConfirmBySearch(const MacAddress& mac, int cycle) {
    const Change* c = Find(mac);
    if (c == nullptr) return;
    // An answer counts once it shows the LAN address the settings gave (any, for LAN DHCP), so
    // that an answer sent before the device applied them is not taken for its return.
    const _CommandDataTable& s = c->request.settings;
    const std::uint32_t expected = CProtocol::AddressAfterSettings(s);
    Search(
        [mac, expected](const _CommandDataTable& r) {
            return r.primary.mac == mac && r.primary.ipAddress != 0 &&
                   (expected == 0 || r.primary.ipAddress == expected);
        },
        [this, mac, cycle](bool seen) {
            if (Find(mac) == nullptr) return;
            if (seen)
                Finish(mac, ChangeResult::Completed);
            else if (cycle + 1 < kConfirmCycles)
                ConfirmBySearch(mac, cycle + 1);
            else
                Finish(mac, ChangeResult::NotBack);
        });
}

void DeviceSession::Finish(const MacAddress& mac, ChangeResult result) {
    auto it = changes_.find(mac);
    if (it == changes_.end()) return;
    auto done = std::move(it->second.steps.done);
    changes_.erase(it);
    if (done) done(result);
}

void DeviceSession::FinishAfterThis(const MacAddress& mac, ChangeResult result) {
    const Change* c = Find(mac);
    if (c == nullptr) return;
    clock_.Post([this, mac, result, serial = c->serial, alive = lifeline_.Hold()] {
        if (!Lifeline::Alive(alive)) return;
        const Change* now = Find(mac);
        if (now != nullptr && now->serial == serial) Finish(mac, result);
    });
}

}  // namespace valdrune
