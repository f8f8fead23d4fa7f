// The device side of the protocol for a set of simulated devices: answers searches, accepts
// settings for its own MAC, applies them on confirmation, restarts, and moves its address.
// Time comes from an IScheduler and the network from an IPeerLink, so the whole exchange can
// run on a virtual clock.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "protocol/Seams.h"
#include "sim/SimDevice.h"

namespace valdrune::sim {

class IPeerLink {
public:
    virtual ~IPeerLink() = default;
    // Sends from UDP port 10670 and from `source` (0: the link's choice) to port 10669 of
    // `unicastTo`, or as a limited broadcast when unicastTo is 0.
    virtual void Send(const std::vector<std::uint8_t>& datagram, std::uint32_t source,
                      std::uint32_t unicastTo) = 0;
    // The devices' addresses on the wire, so that echo requests to them are answered.
    virtual void AddAddress(std::uint32_t address) = 0;
    virtual void RemoveAddress(std::uint32_t address) = 0;
    virtual void Log(const std::string& line) = 0;
};

class CDevicePeer {
public:
    enum class State { Running, Restarting, Gone };

    // timeScale >= 1 divides every delay of the devices' behaviour.
    CDevicePeer(std::vector<DeviceSpec> devices, IScheduler& scheduler, IPeerLink& link,
                int timeScale = 1, bool verbose = false);
    ~CDevicePeer();
    CDevicePeer(const CDevicePeer&) = delete;
    CDevicePeer& operator=(const CDevicePeer&) = delete;

    // Puts every device's address on the link; Stop takes them off again.
    void Start();
    void Stop();

    // One received datagram; `from` is the sender's IPv4 address (host order, 0 if unknown).
    void OnDatagram(std::span<const std::uint8_t> datagram, std::uint32_t from);

    std::size_t Count() const { return devices_.size(); }
    const DeviceSpec& Device(std::size_t i) const { return devices_.at(i).desc; }
    State StateOf(std::size_t i) const { return devices_.at(i).state; }
    // Datagrams dropped because they failed validation.
    std::size_t Dropped() const { return dropped_; }

private:
    struct Pending {
        _CommandDataTable settings;
        std::uint16_t command = 0;
        std::uint16_t sequence = 0;
        std::vector<std::uint8_t> request;  // to recognise the repeated sends
        bool accepted = false;
    };
    struct Sim {
        DeviceSpec desc;
        State state = State::Running;
        bool holdsAddress = false;  // its address is on the link
        std::optional<Pending> pending;
    };

    void OnSearch(const AnswerHeader& header, std::uint32_t from);
    void OnSettings(const AnswerHeader& header, std::span<const std::uint8_t> datagram,
                    std::uint32_t from);
    void OnConfirmation(const AnswerHeader& header, std::uint32_t from);
    void Answer(std::size_t i, const Requester& requester, std::uint32_t from);
    void FinishRestart(std::size_t i);
    void Hold(Sim& d);
    void Release(Sim& d);
    std::optional<std::size_t> Find(const MacAddress& mac) const;
    std::uint32_t SourceOf(const Sim& d) const;
    std::uint32_t DestinationOf(const Sim& d, std::uint32_t from, const Requester& r) const;
    Milliseconds Scaled(int ms) const;
    // One-shot timer whose id is forgotten once it ran; all live ones die with the peer.
    void After(Milliseconds delay, std::function<void()> fn);
    void Log(const std::string& text);
    std::string Name(const Sim& d) const;

    std::vector<Sim> devices_;
    IScheduler& scheduler_;
    IPeerLink& link_;
    int timeScale_;
    bool verbose_;
    bool started_ = false;
    std::size_t dropped_ = 0;
    std::map<std::uint32_t, int> held_;  // address -> devices holding it
    std::set<TimerId> timers_;
};

}  // namespace valdrune::sim
