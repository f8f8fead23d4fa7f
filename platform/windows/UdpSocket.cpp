// winsock2.h before windows.h; mswsock.h for WSARecvMsg.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <iphlpapi.h>

#include <cstring>

#include "platform/UdpSocket.h"
#include "platform/windows/HostNetwork.h"

namespace valdrune {
namespace {

SOCKET AsSocket(std::intptr_t s) { return static_cast<SOCKET>(s); }

bool SetInt(SOCKET s, int level, int name, DWORD value) {
    return ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

}  // namespace

bool UdpSocket::ParseAddress(const std::string& text, std::uint32_t& networkOrder) {
    in_addr address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    networkOrder = address.s_addr;
    return true;
}

bool UdpSocket::AdapterExists(std::int32_t ifIndex) {
    NET_LUID luid{};
    return ::ConvertInterfaceIndexToLuid(static_cast<NET_IFINDEX>(ifIndex), &luid) == NO_ERROR;
}

std::int32_t UdpSocket::AdapterOf(std::uint32_t networkOrder) {
    return AdapterOfAddress(networkOrder);
}

// Arrivals are filtered by their reported adapter; Winsock has nothing to tie receiving to one.
bool UdpSocket::Open(std::uint16_t port, std::int32_t, std::int32_t sendIfIndex) {
    Close();
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return false;
    u_long nonBlocking = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
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
    if (ok && sendIfIndex >= 0)
        ok = SetInt(s, IPPROTO_IP, IP_UNICAST_IF, htonl(static_cast<u_long>(sendIfIndex)));
    if (ok) ok = ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    if (!ok) {
        ::closesocket(s);
        return false;
    }
    handle_ = static_cast<std::intptr_t>(s);
    open_ = true;
    receiveMsg_ = reinterpret_cast<void*>(recvMsg);
    return true;
}

void UdpSocket::Close() {
    if (open_) ::closesocket(AsSocket(handle_));
    open_ = false;
    handle_ = -1;
    receiveMsg_ = nullptr;
}

int UdpSocket::Broadcast(const std::uint8_t* data, std::size_t size, std::uint16_t port,
                         std::int32_t ifIndex, std::uint32_t sourceAddress) {
    const SOCKET s = AsSocket(handle_);
    if (!SetInt(s, SOL_SOCKET, SO_BROADCAST, 1)) return -1;

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(port);
    remote.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    WSABUF buffer{static_cast<ULONG>(size),
                  reinterpret_cast<CHAR*>(const_cast<std::uint8_t*>(data))};
    WSAMSG msg{};
    msg.name = reinterpret_cast<sockaddr*>(&remote);
    msg.namelen = sizeof remote;
    msg.lpBuffers = &buffer;
    msg.dwBufferCount = 1;

    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    if (ifIndex >= 0) {
        msg.Control.buf = control;
        msg.Control.len = sizeof control;
        WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
        IN_PKTINFO info{};
        info.ipi_ifindex = static_cast<ULONG>(ifIndex);
        info.ipi_addr.s_addr = sourceAddress;
        std::memcpy(WSA_CMSG_DATA(c), &info, sizeof info);
    }
    DWORD sent = 0;
    if (::WSASendMsg(s, &msg, 0, &sent, nullptr, nullptr) != 0) return -1;
    return static_cast<int>(sent);
}

UdpSocket::Read UdpSocket::Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& count,
                                   std::int32_t& arrival) {
    WSABUF data{static_cast<ULONG>(capacity), reinterpret_cast<CHAR*>(buffer)};
    sockaddr_in from{};
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSAMSG msg{};
    msg.name = reinterpret_cast<sockaddr*>(&from);
    msg.namelen = sizeof from;
    msg.lpBuffers = &data;
    msg.dwBufferCount = 1;
    msg.Control.buf = control;
    msg.Control.len = sizeof control;
    DWORD got = 0;
    const auto recvMsg = reinterpret_cast<LPFN_WSARECVMSG>(receiveMsg_);
    if (recvMsg(AsSocket(handle_), &msg, &got, nullptr, nullptr) != 0) {
        const int error = ::WSAGetLastError();
        // Longer than the buffer: the first `capacity` bytes are there, the rest is gone.
        if (error == WSAEMSGSIZE) got = static_cast<DWORD>(capacity);
        // An ICMP error about an earlier send; not a datagram.
        else if (error == WSAECONNRESET || error == WSAENETRESET) return Read::Skip;
        // WSAEWOULDBLOCK or a failure: nothing to hand over.
        else return Read::Empty;
    }
    if (got > capacity) got = static_cast<DWORD>(capacity);

    arrival = -1;
    for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&msg); c != nullptr; c = WSA_CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
            c->cmsg_len >= WSA_CMSG_LEN(sizeof(IN_PKTINFO))) {
            IN_PKTINFO info{};
            std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
            arrival = static_cast<std::int32_t>(info.ipi_ifindex);
        }
    }
    count = got;
    return Read::Datagram;
}

}  // namespace valdrune
