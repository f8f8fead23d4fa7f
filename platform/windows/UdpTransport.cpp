#include "platform/windows/UdpTransport.h"

// winsock2.h before windows.h; mswsock.h for WSARecvMsg.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <iphlpapi.h>

#include <cstring>

#include "platform/qt/FdWatch.h"
#include "platform/windows/HostNetwork.h"

namespace valdrune {
namespace {

constexpr int BIND_FAILED = -12;

SOCKET AsSocket(std::uintptr_t s) { return static_cast<SOCKET>(s); }

bool SetInt(SOCKET s, int level, int name, DWORD value) {
    return ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

}  // namespace

UdpTransport::UdpTransport(std::uint16_t localPort, std::uint16_t remotePort)
    : localPort_(localPort), remotePort_(remotePort) {}

UdpTransport::~UdpTransport() { Close(); }

void UdpTransport::Close() {
    ++generation_;
    watch_.reset();  // before the socket goes
    if (open_) ::closesocket(AsSocket(socket_));
    open_ = false;
    socket_ = 0;
    recvMsg_ = nullptr;
    ifIndex_ = -1;
    sourceAddress_ = 0;
}

int UdpTransport::CreateAndBind(const std::string& bindAddress, std::int32_t ifIndex) {
    Close();

    in_addr address{};
    if (!bindAddress.empty() && ::inet_pton(AF_INET, bindAddress.c_str(), &address) != 1)
        return BIND_FAILED;
    if (ifIndex >= 0) {
        NET_LUID luid{};
        if (::ConvertInterfaceIndexToLuid(static_cast<NET_IFINDEX>(ifIndex), &luid) != NO_ERROR)
            return BIND_FAILED;
    }
    if (!bindAddress.empty()) {
        // The address must be ours, as a bind to it would require.
        const std::int32_t holder = AdapterOfAddress(address.s_addr);
        if (holder < 0) return BIND_FAILED;
        if (ifIndex < 0) ifIndex = holder;
    }

    const SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return BIND_FAILED;
    u_long nonBlocking = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(localPort_);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    GUID recvMsgId = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG recvMsg = nullptr;
    DWORD returned = 0;
    bool ok = SetInt(s, SOL_SOCKET, SO_REUSEADDR, 1) && SetInt(s, SOL_SOCKET, SO_BROADCAST, 1) &&
              SetInt(s, IPPROTO_IP, IP_PKTINFO, 1) &&
              ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0 &&
              ::WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &recvMsgId, sizeof recvMsgId,
                         &recvMsg, sizeof recvMsg, &returned, nullptr, nullptr) == 0 &&
              recvMsg != nullptr;
    // The outgoing adapter for everything this socket sends; the index in network order.
    if (ok && ifIndex >= 0)
        ok = SetInt(s, IPPROTO_IP, IP_UNICAST_IF, htonl(static_cast<u_long>(ifIndex)));
    if (ok) ok = ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    if (!ok) {
        ::closesocket(s);
        return BIND_FAILED;
    }
    socket_ = static_cast<std::uintptr_t>(s);
    open_ = true;
    recvMsg_ = reinterpret_cast<void*>(recvMsg);
    ifIndex_ = ifIndex;
    sourceAddress_ = address.s_addr;
    watch_ = std::make_unique<FdWatch>(static_cast<std::intptr_t>(s), [this]() { OnReadable(); });
    return 0;
}

int UdpTransport::SendBroadcast(const std::uint8_t* data, std::size_t size) {
    if (!open_) return -1;
    const SOCKET s = AsSocket(socket_);
    if (!SetInt(s, SOL_SOCKET, SO_BROADCAST, 1)) return -1;

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(remotePort_);
    remote.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    WSABUF buffer{static_cast<ULONG>(size),
                  reinterpret_cast<CHAR*>(const_cast<std::uint8_t*>(data))};
    WSAMSG msg{};
    msg.name = reinterpret_cast<sockaddr*>(&remote);
    msg.namelen = sizeof remote;
    msg.lpBuffers = &buffer;
    msg.dwBufferCount = 1;

    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    if (ifIndex_ >= 0) {
        msg.Control.buf = control;
        msg.Control.len = sizeof control;
        WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
        IN_PKTINFO info{};
        info.ipi_ifindex = static_cast<ULONG>(ifIndex_);
        info.ipi_addr.s_addr = sourceAddress_;
        std::memcpy(WSA_CMSG_DATA(c), &info, sizeof info);
    }
    DWORD sent = 0;
    if (::WSASendMsg(s, &msg, 0, &sent, nullptr, nullptr) != 0) return -1;
    return static_cast<int>(sent);
}

void UdpTransport::SetReceiver(std::uint8_t* buffer, std::size_t capacity,
                               std::function<void(std::size_t)> onReceived) {
    buffer_ = buffer;
    capacity_ = capacity;
    onReceived_ = std::move(onReceived);
}

void UdpTransport::OnReadable() {
    // One datagram at a time, each handed over before the next read may overwrite the shared
    // buffer; bounded so that a flood cannot starve the event loop.
    const std::uint64_t generation = generation_;
    std::uint8_t scratch[LARGEST_DATAGRAM_READ];
    for (int round = 0; round < 256 && open_ && generation == generation_; ++round) {
        std::uint8_t* target = buffer_ != nullptr ? buffer_ : scratch;
        std::size_t room = buffer_ != nullptr ? capacity_ : sizeof scratch;
        if (room > LARGEST_DATAGRAM_READ) room = LARGEST_DATAGRAM_READ;

        WSABUF data{static_cast<ULONG>(room), reinterpret_cast<CHAR*>(target)};
        sockaddr_in from{};
        alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
        WSAMSG msg{};
        msg.name = reinterpret_cast<sockaddr*>(&from);
        msg.namelen = sizeof from;
        msg.lpBuffers = &data;
        msg.dwBufferCount = 1;
        msg.Control.buf = control;
        msg.Control.len = sizeof control;
        DWORD count = 0;
        const auto recvMsg = reinterpret_cast<LPFN_WSARECVMSG>(recvMsg_);
        if (recvMsg(AsSocket(socket_), &msg, &count, nullptr, nullptr) != 0) {
            const int error = ::WSAGetLastError();
            // Longer than the buffer: the first `room` bytes are there, the rest is gone.
            if (error == WSAEMSGSIZE) {
                count = static_cast<DWORD>(room);
            } else if (error == WSAECONNRESET || error == WSAENETRESET) {
                continue;  // an ICMP error about an earlier send; not a datagram
            } else {
                return;  // WSAEWOULDBLOCK or a failure: nothing to hand over
            }
        }
        if (count > room) count = static_cast<DWORD>(room);

        std::int32_t arrival = -1;
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg); c != nullptr; c = WSA_CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
                c->cmsg_len >= WSA_CMSG_LEN(sizeof(IN_PKTINFO))) {
                IN_PKTINFO info{};
                std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
                arrival = static_cast<std::int32_t>(info.ipi_ifindex);
            }
        }
        if (ifIndex_ >= 0 && arrival != ifIndex_) {
            ++foreignDropped_;
            continue;
        }
        if (count == 0 || buffer_ == nullptr || !onReceived_) continue;
        const auto handler = onReceived_;  // may be replaced from inside
        handler(static_cast<std::size_t>(count));
    }
}

}  // namespace valdrune
