#include "sim/DevicePeer.h"

#include <cstdio>
#include <memory>

namespace valdrune::sim {

namespace {

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 3);
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

Requester RequesterOf(const AnswerHeader& h) { return Requester{h.requesterMac, h.requesterIp}; }

}  // namespace

CDevicePeer::CDevicePeer(std::vector<DeviceSpec> devices, IScheduler& scheduler,
                         IPeerLink& link, int timeScale, bool verbose)
    : scheduler_(scheduler), link_(link), timeScale_(timeScale < 1 ? 1 : timeScale),
      verbose_(verbose) {
    devices_.reserve(devices.size());
    for (auto& description : devices) {
        Sim d;
        d.desc = std::move(description);
        devices_.push_back(std::move(d));
    }
}

CDevicePeer::~CDevicePeer() {
    for (TimerId id : timers_) scheduler_.CancelTimer(id);
    timers_.clear();
}

void CDevicePeer::Start() {
    if (started_) return;
    started_ = true;
    for (auto& d : devices_) Hold(d);
}

void CDevicePeer::Stop() {
    if (!started_) return;
    started_ = false;
    for (auto& d : devices_) Release(d);
}

void CDevicePeer::Hold(Sim& d) {
    if (d.holdsAddress || !started_) return;
    const std::uint32_t a = d.desc.record.primary.ipAddress;
    if (a == 0) return;
    d.holdsAddress = true;
    if (held_[a]++ == 0) link_.AddAddress(a);
}

void CDevicePeer::Release(Sim& d) {
    if (!d.holdsAddress) return;
    d.holdsAddress = false;
    const std::uint32_t a = d.desc.record.primary.ipAddress;
    auto it = held_.find(a);
    if (it == held_.end()) return;
    if (--it->second == 0) {
        held_.erase(it);
        link_.RemoveAddress(a);
    }
}

Milliseconds CDevicePeer::Scaled(int ms) const {
    return Milliseconds(ms < 0 ? 0 : ms / timeScale_);
}

void CDevicePeer::After(Milliseconds delay, std::function<void()> fn) {
    auto id = std::make_shared<TimerId>(0);
    *id = scheduler_.StartTimer(delay, false, [this, id, fn = std::move(fn)] {
        timers_.erase(*id);
        fn();
    });
    timers_.insert(*id);
}

void CDevicePeer::Log(const std::string& text) {
    if (!verbose_) return;
    char stamp[24];
    const long long ms = static_cast<long long>(scheduler_.Now().count());
    std::snprintf(stamp, sizeof stamp, "%6lld.%03lld ", ms / 1000, ms % 1000);
    link_.Log(stamp + text);
}

std::string CDevicePeer::Name(const Sim& d) const {
    std::string name = MacText(d.desc.record.primary.mac);
    if (!d.desc.label.empty()) name += " (" + d.desc.label + ")";
    return name;
}

std::optional<std::size_t> CDevicePeer::Find(const MacAddress& mac) const {
    for (std::size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i].desc.record.primary.mac == mac) return i;
    return std::nullopt;
}

std::uint32_t CDevicePeer::SourceOf(const Sim& d) const {
    return d.holdsAddress ? d.desc.record.primary.ipAddress : 0;
}

std::uint32_t CDevicePeer::DestinationOf(const Sim& d, std::uint32_t from,
                                         const Requester& r) const {
    if (!d.desc.behaviour.unicast) return 0;
    return from != 0 ? from : r.ipAddress;
}

void CDevicePeer::OnDatagram(std::span<const std::uint8_t> datagram, std::uint32_t from) {
    const std::optional<AnswerHeader> header = ValidateRequest(datagram);
    if (!header) {
        ++dropped_;
        Log("rx " + std::to_string(datagram.size()) + " bytes from " + Ipv4Text(from) +
            ": malformed, dropped");
        if (verbose_) link_.Log("       " + Hex(datagram.first(std::min<std::size_t>(datagram.size(), 1600))));
        return;
    }
    Log("rx command " + std::to_string(header->command) + " mode " +
        std::to_string(header->protocolMode) + " seq " + std::to_string(header->sequence) +
        " for " + MacText(header->deviceMac) + " from " + MacText(header->requesterMac) + " " +
        Ipv4Text(from) + " (" + std::to_string(datagram.size()) + " bytes)");
    if (verbose_) link_.Log("       " + Hex(datagram));
    switch (header->command) {
        case CMD_SEARCH: OnSearch(*header, from); break;
        case CMD_SETUP:
        case CMD_SETUP_V2: OnSettings(*header, datagram, from); break;
        case CMD_SETUP_CONFIRM:
        case CMD_SETUP_V2_CONFIRM: OnConfirmation(*header, from); break;
        default: Log("  command not handled by devices"); break;
    }
}

void CDevicePeer::OnSearch(const AnswerHeader& header, std::uint32_t from) {
    const Requester requester = RequesterOf(header);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        const Sim& d = devices_[i];
        if (d.state != State::Running) continue;
        const int delay = d.desc.behaviour.answerDelayMs;
        if (delay <= 0) {
            Answer(i, requester, from);
        } else {
            After(Scaled(delay), [this, i, requester, from] {
                if (devices_[i].state == State::Running) Answer(i, requester, from);
            });
        }
    }
}

void CDevicePeer::Answer(std::size_t i, const Requester& requester, std::uint32_t from) {
    const Sim& d = devices_[i];
    const std::vector<std::uint8_t> answer = BuildAnswer(d.desc, requester);
    const std::uint32_t to = DestinationOf(d, from, requester);
    link_.Send(answer, SourceOf(d), to);
    Log("tx answer " + Name(d) + " " + Ipv4Text(d.desc.record.primary.ipAddress) + " to " +
        (to ? Ipv4Text(to) : std::string("255.255.255.255")) + " (" +
        std::to_string(answer.size()) + " bytes)");
}

void CDevicePeer::OnSettings(const AnswerHeader& header, std::span<const std::uint8_t> datagram,
                             std::uint32_t from) {
    const std::optional<std::size_t> index = Find(header.deviceMac);
    if (!index) {
        Log("  no such device here");
        return;
    }
    Sim& d = devices_[*index];
    if (d.state != State::Running) {
        Log("  " + Name(d) + " is restarting, ignored");
        return;
    }
    if (header.command != d.desc.SettingsCommand()) {
        Log("  " + Name(d) + " is a " + KindName(d.desc.kind) + " device and does not take command " +
            std::to_string(header.command));
        return;
    }
    if (d.desc.RestartLocked()) {
        Log("  " + Name(d) + " is restart-locked, settings refused");
        return;
    }
    if (d.desc.behaviour.neverAccepts) {
        Log("  " + Name(d) + " never accepts settings");
        return;
    }
    const std::vector<std::uint8_t> request(datagram.begin(), datagram.end());
    if (d.pending && d.pending->request == request) {
        Log("  repeated request, already " +
            std::string(d.pending->accepted ? "accepted" : "being accepted"));
        return;
    }
    Pending p;
    p.settings = d.desc.record;
    p.command = header.command;
    p.sequence = header.sequence;
    p.request = request;
    const int applied = ApplySettings(p.settings, datagram, header.payloadLength);
    d.pending = std::move(p);
    Log("  " + Name(d) + " settings with " + std::to_string(applied) + " items: address " +
        Ipv4Text(d.pending->settings.primary.ipAddress) + " mask " +
        Ipv4Text(d.pending->settings.primary.subnetMask) + " gateway " +
        Ipv4Text(d.pending->settings.primary.gateway) + " port " +
        std::to_string(d.pending->settings.primary.port));

    const Requester requester = RequesterOf(header);
    const std::size_t i = *index;
    auto accept = [this, i, requester, from, request] {
        Sim& dev = devices_[i];
        if (!dev.pending || dev.pending->request != request || dev.state != State::Running)
            return;
        dev.pending->accepted = true;
        const auto reply =
            BuildAcceptance(dev.desc, dev.pending->command, requester, dev.pending->sequence);
        link_.Send(reply, SourceOf(dev), DestinationOf(dev, from, requester));
        Log("tx acceptance " + std::to_string(reply[5]) + " " + Name(dev));
    };
    const int delay = d.desc.behaviour.acceptDelayMs;
    if (delay <= 0)
        accept();
    else
        After(Scaled(delay), accept);
}

void CDevicePeer::OnConfirmation(const AnswerHeader& header, std::uint32_t) {
    const std::optional<std::size_t> index = Find(header.deviceMac);
    if (!index) {
        Log("  no such device here");
        return;
    }
    const std::size_t i = *index;
    Sim& d = devices_[i];
    if (d.state != State::Running || !d.pending || !d.pending->accepted) {
        Log("  " + Name(d) + ": nothing to confirm, ignored");
        return;
    }
    const std::uint16_t expected =
        d.pending->command == CMD_SETUP_V2 ? CMD_SETUP_V2_CONFIRM : CMD_SETUP_CONFIRM;
    if (header.command != expected) {
        Log("  " + Name(d) + ": confirmation " + std::to_string(header.command) +
            " does not match request " + std::to_string(d.pending->command) + ", ignored");
        return;
    }
    if (expected == CMD_SETUP_V2_CONFIRM &&
        header.sequence != static_cast<std::uint16_t>(d.pending->sequence + 1)) {
        Log("  " + Name(d) + ": confirmation sequence " + std::to_string(header.sequence) +
            " is not request sequence + 1 (" + std::to_string(d.pending->sequence + 1) +
            "), ignored");
        return;
    }
    const std::uint32_t oldAddress = d.desc.record.primary.ipAddress;
    Release(d);
    d.desc.record = d.pending->settings;
    if (expected == CMD_SETUP_V2_CONFIRM) d.desc.record.sequence = header.sequence;
    d.pending.reset();

    if (d.desc.behaviour.neverReturns) {
        d.state = State::Gone;
        Log("  " + Name(d) + " applied " + Ipv4Text(oldAddress) + " -> " +
            Ipv4Text(d.desc.record.primary.ipAddress) + " and never comes back");
        return;
    }
    d.state = State::Restarting;
    const Milliseconds restart = Scaled(d.desc.behaviour.restartMs);
    Log("  " + Name(d) + " applied " + Ipv4Text(oldAddress) + " -> " +
        Ipv4Text(d.desc.record.primary.ipAddress) + ", restarting for " +
        std::to_string(restart.count()) + " ms");
    After(restart, [this, i] { FinishRestart(i); });
}

void CDevicePeer::FinishRestart(std::size_t i) {
    Sim& d = devices_[i];
    if (d.state != State::Restarting) return;
    d.state = State::Running;
    if (d.desc.behaviour.zeroAfterRestart) d.desc.record.primary.ipAddress = 0;
    Hold(d);
    Log("  " + Name(d) + " is back at " + Ipv4Text(d.desc.record.primary.ipAddress));
}

}  // namespace valdrune::sim
