// The engine's datagram socket on Windows (Winsock 2).
//
// As on Linux, the socket is bound to 0.0.0.0:10669 rather than to the adapter's address and
// asks for IP_PKTINFO: WSARecvMsg reports each datagram's arrival adapter, and those that did
// not come in on the selected adapter are read and dropped. Broadcasts leave through the
// selected adapter: IP_UNICAST_IF names it for the socket, and every WSASendMsg carries it
// (with its address as the source) in IN_PKTINFO, whatever the routing table prefers.
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
    bool IsOpen() const override { return open_; }
    int SendBroadcast(const std::uint8_t* data, std::size_t size) override;
    void SetReceiver(std::uint8_t* buffer, std::size_t capacity,
                     std::function<void(std::size_t)> onReceived) override;

    std::int32_t BoundIfIndex() const { return ifIndex_; }
    std::uint64_t ForeignDropped() const { return foreignDropped_; }
    // Reads without an event loop (tests, tools): handles what is pending now.
    void ReadPending() { OnReadable(); }

  private:
    void OnReadable();

    std::uint16_t localPort_;
    std::uint16_t remotePort_;
    std::uintptr_t socket_ = 0;  // a SOCKET; meaningful only while open_
    bool open_ = false;
    std::int32_t ifIndex_ = -1;
    std::uint32_t sourceAddress_ = 0;  // network order; 0 lets the stack choose
    void* recvMsg_ = nullptr;          // LPFN_WSARECVMSG of this socket's provider
    std::uint64_t generation_ = 0;
    std::uint64_t foreignDropped_ = 0;
    std::unique_ptr<FdWatch> watch_;
    std::uint8_t* buffer_ = nullptr;
    std::size_t capacity_ = 0;
    std::function<void(std::size_t)> onReceived_;
};

}  // namespace valdrune
