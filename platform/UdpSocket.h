// The OS calls behind UdpTransport, one implementation per host (linux/, windows/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace valdrune {

class UdpSocket {
  public:
    enum class Read : std::uint8_t {
        Datagram,  // count bytes are in the buffer, arrival names the adapter (-1 unknown)
        Skip,      // nothing to hand over, but more may be pending
        Empty,     // nothing pending, or the socket failed
    };

    UdpSocket() = default;
    ~UdpSocket() { Close(); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // A dotted IPv4 text in network order; false when it is none.
    static bool ParseAddress(const std::string& text, std::uint32_t& networkOrder);
    static bool AdapterExists(std::int32_t ifIndex);
    // Index of the adapter that holds this address (network order), -1 when none does.
    static std::int32_t AdapterOf(std::uint32_t networkOrder);

    // Non-blocking, bound to 0.0.0.0:port, broadcasts allowed, arrival adapters reported.
    // namedIfIndex: the adapter the caller named, which receiving is tied to where the host
    // allows it; sendIfIndex: the one everything leaves from where the host sets that per
    // socket (-1: none for either).
    bool Open(std::uint16_t port, std::int32_t namedIfIndex, std::int32_t sendIfIndex);
    void Close();
    bool Open() const { return open_; }
    // What an event loop watches for readability.
    std::intptr_t Handle() const { return handle_; }

    // A limited broadcast to port, out of ifIndex from sourceAddress (network order) when
    // ifIndex >= 0. Bytes sent, -1 on failure.
    int Broadcast(const std::uint8_t* data, std::size_t size, std::uint16_t port,
                  std::int32_t ifIndex, std::uint32_t sourceAddress);
    // One datagram into buffer; a longer one is cut to capacity.
    Read Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& count,
                 std::int32_t& arrival);

  private:
    std::intptr_t handle_ = -1;
    bool open_ = false;
    void* receiveMsg_ = nullptr;  // the host's receive-with-control call, where it has one
};

}  // namespace valdrune
