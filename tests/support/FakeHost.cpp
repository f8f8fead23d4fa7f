#include "tests/support/FakeHost.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace valdrune::test {

FakeHostNetwork& FakeHostNetwork::Add(std::string ipv4, std::int32_t index,
                                      std::string description, std::vector<std::uint8_t> mac,
                                      std::string gateway) {
    adapters.push_back(HostAdapter{std::move(ipv4), std::move(gateway), index,
                                   std::move(description)});
    if (!mac.empty()) rows.push_back(HostInterfaceRow{index, std::move(mac)});
    return *this;
}

void FakeEchoProber::SetResult(std::uint32_t address, int code) { fixed_[address] = code; }

void FakeEchoProber::Script(std::uint32_t address, std::vector<int> codes) {
    auto& q = scripts_[address];
    q.insert(q.end(), codes.begin(), codes.end());
}

int FakeEchoProber::NextCode(std::uint32_t address) {
    auto s = scripts_.find(address);
    if (s != scripts_.end() && !s->second.empty()) {
        const int code = s->second.front();
        s->second.pop_front();
        return code;
    }
    auto f = fixed_.find(address);
    return f != fixed_.end() ? f->second : default_;
}

void FakeEchoProber::Probe(std::uint32_t address, const std::string& data,
                           Milliseconds timeout, std::function<void(int)> done) {
    calls_.push_back(ProbeCall{clock_.Now(), address, data, timeout});
    const int code = permitted_ ? NextCode(address) : ECHO_NOT_PERMITTED;
    Milliseconds delay = code == ECHO_TIMED_OUT ? timeout : replyDelay_;
    if (delay > timeout) delay = timeout;
    // The id is known only after StartTimer returns; the callback looks it up through a box.
    auto box = std::make_shared<TimerId>(0);
    *box = clock_.StartTimer(delay, false, [this, box, code, done = std::move(done)] {
        outstanding_.erase(std::remove(outstanding_.begin(), outstanding_.end(), *box),
                           outstanding_.end());
        done(code);
    });
    outstanding_.push_back(*box);
}

void FakeEchoProber::CancelAll() {
    ++cancels_;
    for (TimerId id : outstanding_) clock_.CancelTimer(id);
    outstanding_.clear();
}

}  // namespace valdrune::test
