// The small interfaces through which the core reaches time, the network and the host.
// Production bindings live in platform/; tests use fakes (virtual clock, in-memory transport).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>


namespace valdrune {

using Milliseconds = std::chrono::milliseconds;
using TimerId = std::uint64_t;  // 0 means "no timer"

// One-shot and periodic callbacks on the owning (UI) thread's event loop.
class IScheduler {
public:
    virtual ~IScheduler() = default;
    // Returns a nonzero id. A periodic timer fires every `interval` until cancelled.
    virtual TimerId StartTimer(Milliseconds interval, bool periodic, std::function<void()> fn) = 0;
    // Cancelling an unknown or finished id is a no-op; after it returns the callback never runs.
    virtual void CancelTimer(TimerId id) = 0;
    // Queues fn to run after the current event has been handled (a "posted" message).
    virtual void Post(std::function<void()> fn) = 0;
    virtual Milliseconds Now() const = 0;
};

// The engine's one datagram socket: UDP port 10669 on the selected adapter, sends limited
// broadcasts to 255.255.255.255:10670 out of that adapter.
class IDatagramTransport {
public:
    virtual ~IDatagramTransport() = default;
    // Closes any open socket first. bindAddress is dotted IPv4 text, empty for any address;
    // ifIndex is the adapter to send and receive on, -1 for none. Returns 0 or -12.
    virtual int CreateAndBind(const std::string& bindAddress, std::int32_t ifIndex) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Switches broadcasting on and sends to 255.255.255.255:10670. Negative on failure.
    virtual int SendBroadcast(const std::uint8_t* data, std::size_t size) = 0;
    // Each received datagram is read (at most `capacity` bytes) into `buffer`, then
    // `onReceived(count)` is called; the next read happens only after it returns.
    virtual void SetReceiver(std::uint8_t* buffer, std::size_t capacity,
                             std::function<void(std::size_t)> onReceived) = 0;
};

// One adapter as the host reports it (text forms as the OS gives them).
struct HostAdapter {
    std::string ipv4Text;     // first IPv4 address; may be "0.0.0.0" or invalid
    std::string gatewayText;  // first gateway; may be empty or invalid
    std::int32_t index = -1;
    std::string description;  // UTF-8
};

struct HostInterfaceRow {
    std::int32_t index = -1;
    std::vector<std::uint8_t> physicalAddress;  // any length; only 6-byte ones are MACs
};

class IHostNetwork {
public:
    virtual ~IHostNetwork() = default;
    // Adapters in the order they should be offered (loopback last).
    virtual std::vector<HostAdapter> Adapters() = 0;
    // False when the interface list cannot be read.
    virtual bool InterfaceRows(std::vector<HostInterfaceRow>& rows) = 0;
    // First IPv4 address the host's own name resolves to (host order), 0 when none.
    virtual std::uint32_t HostNameAddress() = 0;
};

// Outcome codes of one echo. 0: something answered. 11002, 11003, 11010: no answer.
// -1: the probe could not be prepared. ECHO_NOT_PERMITTED: this process may not send ICMP.
inline constexpr int ECHO_ANSWERED = 0;
inline constexpr int ECHO_NET_UNREACHABLE = 11002;
inline constexpr int ECHO_HOST_UNREACHABLE = 11003;
inline constexpr int ECHO_TIMED_OUT = 11010;
inline constexpr int ECHO_NOT_PREPARED = -1;
inline constexpr int ECHO_NOT_PERMITTED = -18;

class IEchoProber {
public:
    virtual ~IEchoProber() = default;
    // Sends one ICMP echo carrying `data`; calls done(code) on the owning thread exactly once,
    // at the latest after `timeout`. Never blocks.
    virtual void Probe(std::uint32_t address, const std::string& data, Milliseconds timeout,
                       std::function<void(int)> done) = 0;
    // Cancels every outstanding probe; their callbacks never run.
    virtual void CancelAll() = 0;
    // False when the process lacks any way to send ICMP echo.
    virtual bool CanProbe() const = 0;
};

class INeighbourCache {
public:
    virtual ~INeighbourCache() = default;
    // Drops the cached hardware address of one IPv4 address (host order). Fire and forget.
    virtual void Flush(std::uint32_t address) = 0;
    // False when the process may not change the neighbour cache.
    virtual bool CanFlush() const = 0;
};

}  // namespace valdrune
