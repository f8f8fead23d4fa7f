// The engine's datagram socket on Linux.
//
// A socket bound to a unicast address does not see limited broadcasts on Linux, and one bound
// to the device with SO_BINDTODEVICE needs privileges on older kernels. So the socket is bound
// to 0.0.0.0:10669 and asks for IP_PKTINFO: every datagram that did not arrive on the selected
// adapter is read and dropped, and every broadcast names that adapter (and its address as the
// source) in its own IP_PKTINFO, so it leaves through it whatever the routing table says.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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
    bool IsOpen() const override { return fd_ >= 0; }
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
    int fd_ = -1;
    std::int32_t ifIndex_ = -1;
    std::uint32_t sourceAddress_ = 0;  // network order; 0 lets the kernel choose
    std::uint64_t generation_ = 0;     // changes on every close
    std::uint64_t foreignDropped_ = 0;
    std::unique_ptr<FdWatch> watch_;
    std::uint8_t* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::function<void(std::size_t)> onReceived_;
};

}  // namespace valdrune
