#include "protocol/Protocol.h"

#include <algorithm>
#include <utility>

#include "protocol/Decoder.h"
#include "protocol/TransactionSlot.h"

namespace valdrune {

namespace {

constexpr Milliseconds kSecondRequestDelay{150};
constexpr Milliseconds kSearchPeriod{2000};
constexpr int kSearchBudget = 6001;
// The cycle ends 8 s after its start, when the last request's answers had their 2 s. A new
// search this close to that end finds the cycle over: timers due at the same moment (a
// repeating search's and the cycle's own) fire in either order.
constexpr Milliseconds kSearchCycleLength{8000};
constexpr Milliseconds kSearchEndSlack{100};
constexpr Milliseconds kRepeatGap{100};
constexpr int kRepeatCount = 3;
constexpr Milliseconds kSettingsTimeout{30000};
constexpr Milliseconds kConfirmationDelay{100};
constexpr Milliseconds kRestartPeriod{2000};
constexpr int kRestartBudget = 120000;
constexpr int kRestartQuiet = 90000;  // remaining budget above this: the device is restarting

}  // namespace

CProtocol::CProtocol(ProtocolEnvironment env) : env_(env) {
    socketReady_ = true;
    if (env_.transport.CreateAndBind(std::string(), -1) != 0) socketReady_ = false;

    // Until an adapter is selected, requests carry the last 6-byte hardware address the host
    // lists and the address its own name resolves to.
    std::vector<HostInterfaceRow> rows;
    if (env_.host.InterfaceRows(rows)) {
        for (const auto& row : rows)
            if (row.physicalAddress.size() == local_.mac.size())
                std::copy(row.physicalAddress.begin(), row.physicalAddress.end(),
                          local_.mac.begin());
    }
    local_.ipAddress = env_.host.HostNameAddress();

    env_.transport.SetReceiver(receiveBuffer_.data(), receiveBuffer_.size(),
                               [this, alive = lifeline_.Hold()](std::size_t count) {
                                   if (Lifeline::Alive(alive)) OnReceived(count);
                               });
}

CProtocol::~CProtocol() {
    lifeline_.Cut();
    CancelTimer(searchTimer_);
    CancelTimer(secondRequestTimer_);
    CancelTimer(confirmationTimer_);
    CancelTimer(timeoutTimer_);
    CancelTimer(restartTimer_);
    CancelAll(settingsRepeats_);
    CancelAll(confirmRepeats_);
    CancelAll(checkTimers_);
    for (auto& [mac, t] : txns_) CancelTxnTimers(*t);
    CancelTimer(returnPoll_);
    // The engine is the prober's only user; nothing it asked for may answer later.
    env_.prober.CancelAll();
    env_.transport.SetReceiver(nullptr, 0, {});
    env_.transport.Close();
}

void CProtocol::SetListener(IProtocolEvents* listener) { listener_ = listener; }

void CProtocol::PostEvent(std::function<void(IProtocolEvents&)> event) {
    // The listener is looked up on delivery: one that detached meanwhile gets nothing.
    Defer([this, event = std::move(event)] {
        if (listener_) event(*listener_);
    });
}

void CProtocol::Defer(std::function<void()> fn) {
    env_.scheduler.Post([alive = lifeline_.Hold(), fn = std::move(fn)] {
        if (Lifeline::Alive(alive)) fn();
    });
}

TimerId CProtocol::Schedule(Milliseconds interval, bool periodic, std::function<void()> fn) {
    return env_.scheduler.StartTimer(interval, periodic,
                                     [alive = lifeline_.Hold(), fn = std::move(fn)] {
                                         if (Lifeline::Alive(alive)) fn();
                                     });
}

void CProtocol::CancelTimer(TimerId& id) {
    if (id != 0) env_.scheduler.CancelTimer(id);
    id = 0;
}

void CProtocol::CancelAll(std::vector<TimerId>& ids) {
    for (TimerId id : ids) env_.scheduler.CancelTimer(id);
    ids.clear();
}

void CProtocol::OnReceived(std::size_t count) {
    // Without a listener nobody could learn of the answer: it is read and dropped.
    if (count == 0 || listener_ == nullptr) return;
    // Handled completely, listener included, before the transport reads the next datagram.
    HandleDatagram(std::span<const std::uint8_t>(receiveBuffer_.data(),
                                                 std::min(count, receiveBuffer_.size())));
}

// ---- Search cycle -------------------------------------------------------------------------

void CProtocol::StartSearch() {
    if (searchTimer_ != 0 &&
        env_.scheduler.Now() - searchStartedAt_ >= kSearchCycleLength - kSearchEndSlack)
        ReportSearchEnded();
    CancelTimer(searchTimer_);
    CancelTimer(secondRequestTimer_);
    SendSearch(2);
    secondRequestTimer_ = Schedule(kSecondRequestDelay, true, [this] { OnSecondRequest(); });
    searchRemaining_ = kSearchBudget;
    searchPeriod_ = static_cast<int>(kSearchPeriod.count());
    searchTimer_ = Schedule(kSearchPeriod, true, [this] { OnSearchTick(); });
    searchStartedAt_ = env_.scheduler.Now();
}

void CProtocol::ReportSearchEnded() {
    PostEvent([](IProtocolEvents& l) { l.OnSearchEnded(); });
}

void CProtocol::OnSecondRequest() {
    if (secondRequestTimer_ == 0) return;
    CancelTimer(secondRequestTimer_);
    SendSearch(0);
}

void CProtocol::OnSearchTick() {
    if (searchTimer_ == 0) return;
    searchRemaining_ -= searchPeriod_;
    if (searchRemaining_ > 0) {
        SendSearch(2);
        return;
    }
    CancelTimer(searchTimer_);
    ReportSearchEnded();
}

int CProtocol::SendSearch(std::uint8_t protocolMode) {
    if (!socketReady_) return PROTO_SOCKET_NOT_READY;
    const auto request = BuildSearchRequest(protocolMode, Pc());
    if (env_.transport.SendBroadcast(request.data(), request.size()) < 0)
        return PROTO_SEARCH_SEND_FAILED;
    return PROTO_OK;
}

// ---- Answers ------------------------------------------------------------------------------

int CProtocol::HandleDatagram(std::span<const std::uint8_t> datagram) {
    const int result =
        ProcessDatagram(datagram.first(std::min(datagram.size(), receiveBuffer_.size())));
    if (listener_) listener_->OnDatagramHandled(datagram.size(), result);
    return result;
}

void CProtocol::ReportDevice(const DeviceEntry* stored) {
    if (stored == nullptr || listener_ == nullptr) return;
    // A copy, so that a listener that changes the table meanwhile cannot pull it away.
    const DeviceEntry entry = *stored;
    listener_->OnDeviceFound(entry.record, entry.number);
}

int CProtocol::ProcessDatagram(std::span<const std::uint8_t> datagram) {
    const auto header = ValidateAnswer(datagram, local_.mac);
    if (!header) return PROTO_INVALID_DATAGRAM;

    switch (header->command) {
    case CMD_SEARCH_REPLY: {
        const StoredAnswer stored =
            ParseDeviceAnswer(devices_, datagram, header->payloadLength, ContextOf(*header));
        ReportDevice(stored.entry);
        // A zero awaited MAC means no device is awaited, even if a device reports that MAC.
        if (stored.address != 0 && header->deviceMac == awaitedMac_ && !IsZeroMac(awaitedMac_) &&
            (awaitedAddress_ == 0 || stored.address == awaitedAddress_)) {
            awaitedMac_ = {};
            CancelTimer(restartTimer_);
            PostEvent([](IProtocolEvents& l) { l.OnRestartSeen(); });
        }
        TxnAnswer(header->deviceMac, header->command, stored.address);
        return PROTO_OK;
    }
    case CMD_INFO: {
        const StoredAnswer stored =
            ParseDeviceAnswer(devices_, datagram, header->payloadLength, ContextOf(*header));
        ReportDevice(stored.entry);
        TxnAnswer(header->deviceMac, header->command, stored.address);
        return PROTO_OK;
    }
    case CMD_SETUP_REPLY:
    case CMD_SETUP_V2_REPLY: {
        if (auto batch = TxnAcceptance(header->deviceMac, header->command)) return *batch;
        if (header->deviceMac != targetMac_) return PROTO_FOREIGN_ACCEPTANCE;
        if (timeoutTimer_ == 0) return PROTO_LATE_ACCEPTANCE;
        CancelTimer(timeoutTimer_);
        pendingCommand_ = header->command == CMD_SETUP_REPLY ? CMD_SETUP_CONFIRM
                                                             : CMD_SETUP_V2_CONFIRM;
        // An acceptance that overtakes our own repeated requests is confirmed only once they
        // are all out, as if the requests had been sent back to back.
        Milliseconds delay = kConfirmationDelay;
        const Milliseconds now = env_.scheduler.Now();
        if (settingsQuietAt_ > now) delay += settingsQuietAt_ - now;
        CancelTimer(confirmationTimer_);
        confirmationTimer_ = Schedule(delay, false, [this] { OnConfirmation(); });
        return PROTO_OK;
    }
    default:
        return PROTO_OK;
    }
}

// ---- Settings transaction -----------------------------------------------------------------

bool CProtocol::CommandForKind(std::uint8_t kind, std::uint16_t& command, std::uint16_t& mask) {
    switch (kind) {
    case DEVICE_KIND_LEGACY:
        command = CMD_SETUP;
        mask = MASK_LEGACY;
        return true;
    case DEVICE_KIND_STANDARD:
        command = CMD_SETUP_V2;
        mask = MASK_STANDARD;
        return true;
    case DEVICE_KIND_TWO_PORT:
        command = CMD_SETUP;
        mask = MASK_TWO_PORT;
        return true;
    default:
        return false;
    }
}

int CProtocol::SendSettings(const _CommandDataTable& record, std::uint16_t command,
                            std::uint16_t mask) {
    // A new transaction replaces whatever was left of an earlier one.
    CancelAll(settingsRepeats_);
    CancelAll(confirmRepeats_);
    CancelTimer(confirmationTimer_);
    CancelTimer(timeoutTimer_);

    pendingCommand_ = command;
    std::uint16_t written = 0;
    auto request = std::make_shared<const std::vector<std::uint8_t>>(
        BuildSettingsRequest(record, command, mask, Pc(), &written));
    if (command == CMD_SETUP_V2) rememberedSequence_ = written;

    targetMac_ = record.primary.mac;
    targetCapability_ = record.capabilityFlag;
    timeoutTimer_ = Schedule(kSettingsTimeout, false, [this] { OnSettingsTimeout(); });

    const Milliseconds now = env_.scheduler.Now();
    settingsQuietAt_ = now;
    auto sendOnce = [this, request] {
        return socketReady_ &&
               env_.transport.SendBroadcast(request->data(), request->size()) >= 0;
    };
    if (!sendOnce()) return PROTO_SETTINGS_SEND_FAILED;

    settingsQuietAt_ = now + kRepeatGap * kRepeatCount;
    for (int i = 1; i < kRepeatCount; ++i) {
        settingsRepeats_.push_back(Schedule(kRepeatGap * i, false, [this, sendOnce] {
            // Timers of one repetition run in order; drop this one's id first.
            if (!settingsRepeats_.empty()) settingsRepeats_.erase(settingsRepeats_.begin());
            if (!sendOnce()) {
                // The time-out stays armed and reports the failure.
                CancelAll(settingsRepeats_);
                settingsQuietAt_ = env_.scheduler.Now();
            }
        }));
    }
    return PROTO_OK;
}

void CProtocol::OnSettingsTimeout() {
    if (timeoutTimer_ == 0) return;
    timeoutTimer_ = 0;
    awaitedMac_ = {};
    PostEvent([](IProtocolEvents& l) { l.OnSettingsFailed(SetupFailure::NoAcceptance); });
}

void CProtocol::OnConfirmation() {
    if (confirmationTimer_ == 0) return;
    confirmationTimer_ = 0;
    const std::uint32_t command = pendingCommand_;
    auto confirmation = std::make_shared<const std::vector<std::uint8_t>>(
        BuildConfirmation(static_cast<std::uint16_t>(command), targetMac_, targetCapability_,
                          rememberedSequence_, Pc()));
    auto sendOnce = [this, confirmation] {
        return socketReady_ &&
               env_.transport.SendBroadcast(confirmation->data(), confirmation->size()) >= 0;
    };
    const bool first = sendOnce();
    rememberedSequence_ = 0;
    if (!first) {
        FinishConfirmation(command);
        return;
    }
    CancelAll(confirmRepeats_);
    for (int i = 1; i < kRepeatCount; ++i) {
        const bool last = i == kRepeatCount - 1;
        confirmRepeats_.push_back(Schedule(kRepeatGap * i, false, [this, sendOnce, last, command] {
            if (!confirmRepeats_.empty()) confirmRepeats_.erase(confirmRepeats_.begin());
            if (!sendOnce() || last) {
                CancelAll(confirmRepeats_);
                FinishConfirmation(command);
            }
        }));
    }
}

void CProtocol::FinishConfirmation(std::uint32_t command) {
    const auto confirmation = static_cast<std::uint16_t>(command);
    PostEvent([confirmation](IProtocolEvents& l) { l.OnSettingsAccepted(confirmation); });
    targetMac_ = {};
    targetCapability_ = 255;
    pendingCommand_ = 0;
}

// ---- Restart wait -------------------------------------------------------------------------

void CProtocol::StartRestartWait(const MacAddress& awaited, std::uint32_t address) {
    CancelTimer(restartTimer_);
    awaitedMac_ = awaited;
    awaitedAddress_ = address;
    restartPeriod_ = static_cast<int>(kRestartPeriod.count());
    restartRemaining_ = kRestartBudget;
    restartTimer_ = Schedule(kRestartPeriod, true, [this] { OnRestartTick(); });
}

void CProtocol::OnRestartTick() {
    if (restartTimer_ == 0) return;
    restartRemaining_ -= restartPeriod_;
    if (restartRemaining_ > kRestartQuiet) return;
    if (restartRemaining_ > 0) {
        SendSearch(2);
        return;
    }
    CancelTimer(restartTimer_);
    awaitedMac_ = {};
    PostEvent([](IProtocolEvents& l) { l.OnSettingsFailed(SetupFailure::NotSeenAfterRestart); });
}

// ---- Device table -------------------------------------------------------------------------

int CProtocol::StoreDevice(const _CommandDataTable& record) {
    return devices_.Store(record).number;
}

std::optional<_CommandDataTable> CProtocol::FindDevice(const MacAddress& mac) const {
    return devices_.Find(mac);
}

std::optional<_CommandDataTable> CProtocol::FindDevice(const std::string& macText) const {
    MacAddress mac{};
    if (!ParseMac(macText, mac)) return std::nullopt;
    return devices_.Find(mac);
}

int CProtocol::DeviceNumber(const MacAddress& mac) const {
    const DeviceEntry* e = devices_.Entry(mac);
    return e == nullptr ? -1 : e->number;
}

void CProtocol::ClearDevices() { devices_.Clear(); }

void CProtocol::ForEachDevice(const std::function<void(const DeviceEntry&)>& fn) const {
    devices_.ForEach(fn);
}

void CProtocol::EnumerateDeviceUrls(
    std::vector<std::string>& urls, bool all,
    const std::function<int(const _CommandDataTable&)>& browserClassOf) const {
    urls.clear();
    devices_.ForEach([&](const DeviceEntry& e) {
        const _CommandDataTable& r = e.record;
        const std::string host = Ipv4Text(r.primary.ipAddress);
        const int port = r.primary.port;
        std::string url;
        if (r.https)
            url = port == 443 ? "https://" + host + "/"
                              : "https://" + host + ":" + std::to_string(port) + "/";
        else
            url = port == 80 ? "http://" + host + "/"
                             : "http://" + host + ":" + std::to_string(port) + "/";
        bool needsIeMode;
        if (r.portKind != 0)
            needsIeMode = r.hasBrowserBits == 0 || (r.browserBits & 0x2) == 0;
        else
            needsIeMode = browserClassOf && browserClassOf(r) == 3;
        if (all || needsIeMode) urls.push_back(std::move(url));
    });
}

}  // namespace valdrune
