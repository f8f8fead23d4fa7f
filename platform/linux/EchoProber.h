// ICMP echo on Linux without blocking: an unprivileged ping socket where
// net.ipv4.ping_group_range lets this process use one, else a raw socket (CAP_NET_RAW).
// Each probe has its own socket, watched on the event loop, and a time-out on the scheduler.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "protocol/Seams.h"

namespace valdrune {

class FdWatch;

enum class EchoSocketKind { None, Ping, Raw };

// Which kind of ICMP socket this process can open now (tries ping first).
EchoSocketKind AvailableEchoSocket();

class LinuxEchoProber final : public IEchoProber {
  public:
    explicit LinuxEchoProber(IScheduler& scheduler);
    ~LinuxEchoProber() override;
    LinuxEchoProber(const LinuxEchoProber&) = delete;
    LinuxEchoProber& operator=(const LinuxEchoProber&) = delete;

    void Probe(std::uint32_t address, const std::string& data, Milliseconds timeout,
               std::function<void(int)> done) override;
    void CancelAll() override;
    bool CanProbe() const override;

    std::size_t Outstanding() const { return probes_.size(); }

  private:
    struct Pending;
    void OnReadable(std::uint64_t key);
    void Finish(std::uint64_t key, int code);
    void PostResult(std::function<void(int)> done, int code);

    IScheduler& scheduler_;
    std::uint64_t nextKey_ = 1;
    std::uint16_t rawId_;
    std::map<std::uint64_t, std::unique_ptr<Pending>> probes_;
    std::shared_ptr<bool> alive_;
};

}  // namespace valdrune
