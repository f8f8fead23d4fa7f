// Fakes for the host's adapters, ICMP echo and neighbour cache, driven by the virtual clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "protocol/Seams.h"

namespace valdrune::test {

class FakeHostNetwork : public IHostNetwork {
public:
    std::vector<HostAdapter> adapters;
    std::vector<HostInterfaceRow> rows;
    bool rowsReadable = true;
    std::uint32_t hostNameAddress = 0;
    int adapterCalls = 0;
    int rowCalls = 0;

    std::vector<HostAdapter> Adapters() override {
        ++adapterCalls;
        return adapters;
    }
    bool InterfaceRows(std::vector<HostInterfaceRow>& out) override {
        ++rowCalls;
        if (!rowsReadable) return false;
        out = rows;
        return true;
    }
    std::uint32_t HostNameAddress() override { return hostNameAddress; }

    // Adds an adapter and, when mac is not empty, its interface row.
    FakeHostNetwork& Add(std::string ipv4, std::int32_t index, std::string description,
                         std::vector<std::uint8_t> mac = {}, std::string gateway = "");
};

struct ProbeCall {
    Milliseconds time{0};
    std::uint32_t address = 0;
    std::string data;
    Milliseconds timeout{0};
};

// Answers each probe after a virtual delay: no-answer codes after the caller's time-out when
// they are ECHO_TIMED_OUT, every other code after `replyDelay`.
class FakeEchoProber : public IEchoProber {
public:
    explicit FakeEchoProber(IScheduler& clock) : clock_(clock) {}
    ~FakeEchoProber() override { CancelAll(); }

    void Probe(std::uint32_t address, const std::string& data, Milliseconds timeout,
               std::function<void(int)> done) override;
    void CancelAll() override;
    bool CanProbe() const override { return permitted_; }

    // Every probe of address gives code from now on.
    void SetResult(std::uint32_t address, int code);
    // The next probes of address give these codes in turn, then the fixed result.
    void Script(std::uint32_t address, std::vector<int> codes);
    // Result for addresses without a script or fixed result (ECHO_TIMED_OUT unless set).
    void SetDefault(int code) { default_ = code; }
    void SetPermitted(bool on) { permitted_ = on; }
    void SetReplyDelay(Milliseconds d) { replyDelay_ = d; }

    const std::vector<ProbeCall>& Calls() const { return calls_; }
    std::size_t Outstanding() const { return outstanding_.size(); }
    int Cancels() const { return cancels_; }

private:
    int NextCode(std::uint32_t address);

    IScheduler& clock_;
    bool permitted_ = true;
    int default_ = ECHO_TIMED_OUT;
    int cancels_ = 0;
    Milliseconds replyDelay_{5};
    std::map<std::uint32_t, int> fixed_;
    std::map<std::uint32_t, std::deque<int>> scripts_;
    std::vector<ProbeCall> calls_;
    std::vector<TimerId> outstanding_;
};

struct FlushCall {
    Milliseconds time{0};
    std::uint32_t address = 0;
};

class FakeNeighbourCache : public INeighbourCache {
public:
    explicit FakeNeighbourCache(const IScheduler* clock = nullptr) : clock_(clock) {}
    void Flush(std::uint32_t address) override {
        flushes_.push_back(FlushCall{clock_ ? clock_->Now() : Milliseconds{0}, address});
    }
    bool CanFlush() const override { return permitted_; }
    void SetPermitted(bool on) { permitted_ = on; }
    const std::vector<FlushCall>& Flushes() const { return flushes_; }

private:
    const IScheduler* clock_;
    bool permitted_ = true;
    std::vector<FlushCall> flushes_;
};

}  // namespace valdrune::test
