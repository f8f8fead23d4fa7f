#include "platform/UdpTransport.h"

#include "platform/qt/FdWatch.h"

namespace valdrune {
namespace {
constexpr int BIND_FAILED = -12;
}  // namespace

UdpTransport::UdpTransport(std::uint16_t localPort, std::uint16_t remotePort)
    : localPort_(localPort), remotePort_(remotePort) {}

UdpTransport::~UdpTransport() { Close(); }

void UdpTransport::Close() {
    ++generation_;
    watch_.reset();  // before the socket goes
    socket_.Close();
    ifIndex_ = -1;
    sourceAddress_ = 0;
}

int UdpTransport::CreateAndBind(const std::string& bindAddress, std::int32_t ifIndex) {
    Close();

    std::uint32_t address = 0;
    if (!bindAddress.empty() && !UdpSocket::ParseAddress(bindAddress, address)) return BIND_FAILED;
    if (ifIndex >= 0 && !UdpSocket::AdapterExists(ifIndex)) return BIND_FAILED;
    const std::int32_t named = ifIndex;
    if (!bindAddress.empty()) {
        // The address must be ours, as a bind to it would require.
        const std::int32_t holder = UdpSocket::AdapterOf(address);
        if (holder < 0) return BIND_FAILED;
        if (ifIndex < 0) ifIndex = holder;
    }
    if (!socket_.Open(localPort_, named, ifIndex)) return BIND_FAILED;
    ifIndex_ = ifIndex;
    sourceAddress_ = address;
    watch_ = std::make_unique<FdWatch>(socket_.Handle(), [this]() { OnReadable(); });
    return 0;
}

int UdpTransport::SendBroadcast(const std::uint8_t* data, std::size_t size) {
    if (!socket_.Open()) return -1;
    return socket_.Broadcast(data, size, remotePort_, ifIndex_, sourceAddress_);
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
    // flood from starving the event loop; the socket stays readable and comes back.
    const std::uint64_t generation = generation_;
    std::uint8_t scratch[LARGEST_DATAGRAM_READ];
    for (int round = 0; round < 256 && socket_.Open() && generation == generation_; ++round) {
        std::uint8_t* target = buffer_ != nullptr ? buffer_ : scratch;
        std::size_t room = buffer_ != nullptr ? capacity_ : sizeof scratch;
        if (room > LARGEST_DATAGRAM_READ) room = LARGEST_DATAGRAM_READ;

        std::size_t count = 0;
        std::int32_t arrival = -1;
        const UdpSocket::Read read = socket_.Receive(target, room, count, arrival);
        if (read == UdpSocket::Read::Empty) return;
        if (read == UdpSocket::Read::Skip) continue;
        if (ifIndex_ >= 0 && arrival != ifIndex_) {
            ++foreignDropped_;
            continue;
        }
        if (count == 0 || buffer_ == nullptr || !onReceived_) continue;
        const auto handler = onReceived_;  // may be replaced from inside
        handler(count);
    }
}

}  // namespace valdrune
