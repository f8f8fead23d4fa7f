// The engine's datagram socket, the same on every host; the OS calls are UdpSocket's.
//
// The socket is bound to 0.0.0.0:10669 rather than to the adapter's address, and asks for each
// datagram's arrival adapter: those that did not come in on the selected adapter are read and
// dropped. Broadcasts leave through the selected adapter, with its address as the source,
// whatever the routing table prefers (the host's UdpSocket says how).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/UdpSocket.h"
#include "protocol/Datagram.h"
#include "protocol/Seams.h"

namespace valdrune {

class FdWatch;

inline constexpr std::size_t LARGEST_DATAGRAM_READ = RECEIVE_BUFFER_SIZE;

class UdpTransport final : public IDatagramTransport {
  public:
    // Ports are for tests that cannot use the fixed ones; production uses the defaults.
    explicit UdpTransport(std::uint16_t localPort = LOCAL_PORT,
                          std::uint16_t remotePort = DEVICE_PORT);
    ~UdpTransport() override;
    UdpTransport(const UdpTransport&) = delete;
    UdpTransport& operator=(const UdpTransport&) = delete;

    int CreateAndBind(const std::string& bindAddress, std::int32_t ifIndex) override;
    void Close() override;
    bool IsOpen() const override { return socket_.Open(); }
    int SendBroadcast(const std::uint8_t* data, std::size_t size) override;
    void SetReceiver(std::uint8_t* buffer, std::size_t capacity,
                     std::function<void(std::size_t)> onReceived) override;

    // The adapter datagrams are filtered by and sent out of; -1 for any.
    std::int32_t BoundIfIndex() const { return ifIndex_; }
    // Datagrams read and dropped because they came in on another adapter.
    std::uint64_t ForeignDropped() const { return foreignDropped_; }
    // Reads without an event loop (tests, tools): handles what is pending now.
    void ReadPending() { OnReadable(); }

  private:
    void OnReadable();

    std::uint16_t localPort_;
    std::uint16_t remotePort_;
    UdpSocket socket_;
    std::int32_t ifIndex_ = -1;
    std::uint32_t sourceAddress_ = 0;  // network order; 0 lets the stack choose
    std::uint64_t generation_ = 0;     // changes on every close
    std::uint64_t foreignDropped_ = 0;
    std::unique_ptr<FdWatch> watch_;
    std::uint8_t* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::function<void(std::size_t)> onReceived_;
};

}  // namespace valdrune
