// What a transport handed over, a datagram an entry, each as it stood in the buffer then.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "platform/UdpTransport.h"

namespace valdrune::test {

template <std::size_t Size>
struct DatagramLog {
    void Attach(UdpTransport& t) {
        t.SetReceiver(buffer, Size, [this](std::size_t n) {
            received.emplace_back(buffer, buffer + n);
            // Scribble over it: the next datagram must be read afresh, not appended.
            std::fill(std::begin(buffer), std::end(buffer), 0xEE);
        });
    }

    std::uint8_t buffer[Size] = {};
    std::vector<std::vector<std::uint8_t>> received;
};

}  // namespace valdrune::test
