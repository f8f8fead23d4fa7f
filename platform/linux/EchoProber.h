// ICMP echo on Linux without blocking and without privileges of its own: an unprivileged ping
// socket where net.ipv4.ping_group_range admits this process, else one run of the probe
// helper, which alone may hold CAP_NET_RAW. Each probe has its own socket or helper, watched
// on the event loop, and a time-out on the scheduler.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/linux/EchoSocket.h"
#include "platform/linux/NetProbe.h"
#include "protocol/Lifeline.h"
#include "protocol/Seams.h"

namespace valdrune {

class FdWatch;

// How this process can send echo now: Ping (its own ping socket), Raw (through the helper at
// helperPath), or None.
EchoSocketKind AvailableEchoSocket(const std::string& helperPath = DefaultNetProbePath());

class LinuxEchoProber final : public IEchoProber {
  public:
    explicit LinuxEchoProber(IScheduler& scheduler, std::string helperPath = DefaultNetProbePath());
    ~LinuxEchoProber() override;
    LinuxEchoProber(const LinuxEchoProber&) = delete;
    LinuxEchoProber& operator=(const LinuxEchoProber&) = delete;

    void Probe(std::uint32_t address, const std::string& data, Milliseconds timeout,
               std::function<void(int)> done) override;
    void CancelAll() override;
    bool CanProbe() const override;

    std::size_t Outstanding() const { return probes_.size() + helper_.Running(); }

  private:
    struct Pending;
    void OnReadable(std::uint64_t key);
    void Finish(std::uint64_t key, int code);

    IScheduler& scheduler_;
    NetProbeRunner helper_;
    std::uint64_t nextKey_ = 1;
    std::uint16_t nextSequence_;
    std::map<std::uint64_t, std::unique_ptr<Pending>> probes_;
    Lifeline results_;  // for the outcomes posted or handed over by the helper
};

}  // namespace valdrune
