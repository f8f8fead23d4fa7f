#include "platform/linux/UdpTransport.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/qt/FdWatch.h"

namespace valdrune {
namespace {

// Several sockets on port 10669 (one per adapter searched at once) each get only their own
// adapter's datagrams, unicast answers included; without it the kernel hands a unicast answer
// to just one of them. Allowed without privileges before bind (Linux 5.7 and later); where it
// is refused the arrival-adapter filter still keeps other adapters' datagrams out.
void BindToDevice(int fd, const char* name) {
    if (name[0] == '\0') return;
    (void)::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, name,
                       static_cast<socklen_t>(std::strlen(name)));
}

constexpr int BIND_FAILED = -12;

// Index of the adapter that holds this address (network order), -1 when none does.
std::int32_t AdapterOfAddress(std::uint32_t address) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return -1;
    std::int32_t found = -1;
    for (ifaddrs* it = list; it != nullptr && found < 0; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
        sockaddr_in in{};
        std::memcpy(&in, it->ifa_addr, sizeof in);
        if (in.sin_addr.s_addr == address)
            found = static_cast<std::int32_t>(if_nametoindex(it->ifa_name));
    }
    freeifaddrs(list);
    return found > 0 ? found : -1;
}

}  // namespace

UdpTransport::UdpTransport(std::uint16_t localPort, std::uint16_t remotePort)
    : localPort_(localPort), remotePort_(remotePort) {}

UdpTransport::~UdpTransport() { Close(); }

void UdpTransport::Close() {
    ++generation_;
    watch_.reset();  // before the descriptor goes
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ifIndex_ = -1;
    sourceAddress_ = 0;
}

int UdpTransport::CreateAndBind(const std::string& bindAddress, std::int32_t ifIndex) {
    Close();

    in_addr address{};
    if (!bindAddress.empty() && inet_pton(AF_INET, bindAddress.c_str(), &address) != 1)
        return BIND_FAILED;
    char name[IF_NAMESIZE] = {};
    if (ifIndex >= 0 && if_indextoname(static_cast<unsigned>(ifIndex), name) == nullptr)
        return BIND_FAILED;
    if (!bindAddress.empty()) {
        // The address must be ours, as a bind to it would require.
        const std::int32_t holder = AdapterOfAddress(address.s_addr);
        if (holder < 0) return BIND_FAILED;
        if (ifIndex < 0) ifIndex = holder;
    }

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return BIND_FAILED;
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(localPort_);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    BindToDevice(fd, name);
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return BIND_FAILED;
    }
    fd_ = fd;
    ifIndex_ = ifIndex;
    sourceAddress_ = address.s_addr;
    watch_ = std::make_unique<FdWatch>(fd_, [this]() { OnReadable(); });
    return 0;
}

int UdpTransport::SendBroadcast(const std::uint8_t* data, std::size_t size) {
    if (fd_ < 0) return -1;
    const int on = 1;
    if (::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) return -1;

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(remotePort_);
    remote.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    iovec iov{const_cast<std::uint8_t*>(data), size};
    msghdr msg{};
    msg.msg_name = &remote;
    msg.msg_namelen = sizeof remote;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;

    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (ifIndex_ >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* cmsg = CMSG_FIRSTHDR(&msg);
        cmsg->cmsg_level = IPPROTO_IP;
        cmsg->cmsg_type = IP_PKTINFO;
        cmsg->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = ifIndex_;
        info.ipi_spec_dst.s_addr = sourceAddress_;
        std::memcpy(CMSG_DATA(cmsg), &info, sizeof info);
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

void UdpTransport::SetReceiver(std::uint8_t* buffer, std::size_t capacity,
                               std::function<void(std::size_t)> onReceived) {
    buffer_ = buffer;
    capacity_ = capacity;
    onReceived_ = std::move(onReceived);
}

void UdpTransport::OnReadable() {
    // Read everything pending, one datagram at a time: each is handed over (and decoded by
    // the receiver) before the next read may overwrite the shared buffer. A bound keeps a
    // flood from starving the event loop; the descriptor stays readable and comes back.
    const std::uint64_t generation = generation_;
    std::uint8_t scratch[LARGEST_DATAGRAM_READ];
    for (int round = 0; round < 256 && fd_ >= 0 && generation == generation_; ++round) {
        std::uint8_t* target = buffer_ != nullptr ? buffer_ : scratch;
        std::size_t room = buffer_ != nullptr ? capacity_ : sizeof scratch;
        if (room > LARGEST_DATAGRAM_READ) room = LARGEST_DATAGRAM_READ;

        iovec iov{target, room};
        sockaddr_in from{};
        alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t count = ::recvmsg(fd_, &msg, MSG_DONTWAIT);
        if (count < 0) {
            if (errno == EINTR) continue;
            return;  // EAGAIN or a pending error: nothing to hand over
        }

        std::int32_t arrival = -1;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO &&
                c->cmsg_len >= CMSG_LEN(sizeof(in_pktinfo))) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                arrival = info.ipi_ifindex;
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
