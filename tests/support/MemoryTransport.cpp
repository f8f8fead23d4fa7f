#include "tests/support/MemoryTransport.h"

#include <algorithm>
#include <cstring>

namespace valdrune::test {

int MemoryTransport::CreateAndBind(const std::string& bindAddress, std::int32_t ifIndex) {
    if (open_) Close();
    binds_.push_back(BindCall{bindAddress, ifIndex});
    if (failBind_) return -12;
    open_ = true;
    boundAddress_ = bindAddress;
    boundIfIndex_ = ifIndex;
    return 0;
}

void MemoryTransport::Close() {
    if (open_) ++closes_;
    open_ = false;
}

int MemoryTransport::SendBroadcast(const std::uint8_t* data, std::size_t size) {
    if (!open_ || failAllSends_ || failSends_ > 0) {
        if (failSends_ > 0) --failSends_;
        ++failedSends_;
        return -1;
    }
    SentDatagram d;
    d.time = clock_ ? clock_->Now() : Milliseconds{0};
    d.bytes.assign(data, data + size);
    d.bindAddress = boundAddress_;
    d.ifIndex = boundIfIndex_;
    sent_.push_back(std::move(d));
    return 0;
}

void MemoryTransport::SetReceiver(std::uint8_t* buffer, std::size_t capacity,
                                  std::function<void(std::size_t)> onReceived) {
    buffer_ = buffer;
    capacity_ = capacity;
    onReceived_ = std::move(onReceived);
}

bool MemoryTransport::Deliver(std::span<const std::uint8_t> bytes) {
    if (!onReceived_ || !buffer_) return false;
    const std::size_t n = std::min(bytes.size(), capacity_);
    if (n) std::memcpy(buffer_, bytes.data(), n);
    auto cb = onReceived_;  // the receiver may replace itself
    cb(n);
    return true;
}

std::vector<SentDatagram> MemoryTransport::SentWithCommand(std::uint16_t command) const {
    std::vector<SentDatagram> out;
    std::copy_if(sent_.begin(), sent_.end(), std::back_inserter(out),
                 [command](const SentDatagram& d) { return d.Command() == command; });
    return out;
}

}  // namespace valdrune::test
