#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/UdpSocket.h"
#include "platform/linux/SocketMessage.h"

namespace valdrune {
namespace {

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

// Several sockets on port 10669 (one per adapter searched at once) each get only their own
// adapter's datagrams, unicast answers included; without it the kernel hands a unicast answer
// to just one of them. Allowed without privileges before bind (Linux 5.7 and later); where it
// is refused the arrival-adapter filter still keeps other adapters' datagrams out.
void BindToDevice(int fd, std::int32_t ifIndex) {
    char name[IF_NAMESIZE] = {};
    if (ifIndex < 0 || if_indextoname(static_cast<unsigned>(ifIndex), name) == nullptr) return;
    (void)::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name,
                       static_cast<socklen_t>(std::strlen(name)));
}

}  // namespace

bool UdpSocket::ParseAddress(const std::string& text, std::uint32_t& networkOrder) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) return false;
    networkOrder = address.s_addr;
    return true;
}

bool UdpSocket::AdapterExists(std::int32_t ifIndex) {
    char name[IF_NAMESIZE] = {};
    return if_indextoname(static_cast<unsigned>(ifIndex), name) != nullptr;
}

std::int32_t UdpSocket::AdapterOf(std::uint32_t networkOrder) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return -1;
    std::int32_t found = -1;
    for (ifaddrs* it = list; it != nullptr && found < 0; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
        sockaddr_in in{};
        std::memcpy(&in, it->ifa_addr, sizeof in);
        if (in.sin_addr.s_addr == networkOrder)
            found = static_cast<std::int32_t>(if_nametoindex(it->ifa_name));
    }
    freeifaddrs(list);
    return found > 0 ? found : -1;
}

// Broadcasts name their adapter in each send's IP_PKTINFO, so sendIfIndex is not needed here.
bool UdpSocket::Open(std::uint16_t port, std::int32_t namedIfIndex, std::int32_t) {
    Close();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    BindToDevice(fd, namedIfIndex);
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    open_ = true;
    return true;
}

void UdpSocket::Close() {
    if (open_) ::close(Fd(handle_));
    open_ = false;
    handle_ = -1;
}

int UdpSocket::Broadcast(const std::uint8_t* data, std::size_t size, std::uint16_t port,
                         std::int32_t ifIndex, std::uint32_t sourceAddress) {
    const int fd = Fd(handle_);
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) return -1;

    SocketMessage m(data, size);
    m.To(INADDR_BROADCAST, port);
    if (ifIndex >= 0) m.From(ifIndex, sourceAddress);
    else m.WithoutControl();
    ssize_t sent;
    do {
        sent = ::sendmsg(fd, &m.msg, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

UdpSocket::Read UdpSocket::Receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& count,
                                   std::int32_t& arrival) {
    SocketMessage m(buffer, capacity);
    const ssize_t got = ::recvmsg(Fd(handle_), &m.msg, MSG_DONTWAIT);
    if (got < 0) return errno == EINTR ? Read::Skip : Read::Empty;
    arrival = m.ArrivalAdapter();
    count = static_cast<std::size_t>(got);
    return Read::Datagram;
}

}  // namespace valdrune
