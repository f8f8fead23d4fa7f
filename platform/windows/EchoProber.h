// ICMP echo on Windows without blocking the caller: each probe's IcmpSendEcho2 waits on a
// worker thread of its own, which hands the outcome back to the owning thread's event loop;
// a time-out on the scheduler bounds it as well.
#pragma once

#include <cstdint>
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/Lifeline.h"
#include "protocol/Seams.h"

namespace valdrune {

// The outcome code for one IP_ECHO_REPLY status. replyAddress and target in host order.
// Success from a zero address means nothing was received; an ICMP error is judged by the
// shared table (protocol/EchoStatus.h); a failure of the local stack means nothing was sent:
// no answer.
int EchoCodeForStatus(unsigned long status, std::uint32_t replyAddress, std::uint32_t target);

class WindowsEchoProber final : public IEchoProber {
  public:
    explicit WindowsEchoProber(IScheduler& scheduler);
    ~WindowsEchoProber() override;
    WindowsEchoProber(const WindowsEchoProber&) = delete;
    WindowsEchoProber& operator=(const WindowsEchoProber&) = delete;

    void Probe(std::uint32_t address, const std::string& data, Milliseconds timeout,
               std::function<void(int)> done) override;
    void CancelAll() override;
    bool CanProbe() const override;

    std::size_t Outstanding() const { return probes_.size(); }

  private:
    struct Pending {
        TimerId timer = 0;
        std::function<void(int)> done;
    };
    struct Mailbox;
    void Finish(std::uint64_t key, int code);

    IScheduler& scheduler_;
    std::uint64_t nextKey_ = 1;
    std::map<std::uint64_t, Pending> probes_;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
    };
    void ReapWorkers(bool all);

    std::shared_ptr<Mailbox> mailbox_;  // shared with the workers
    // Joined, not detached: a process that ends while a request is still inside the system's
    // ICMP service can leave that service stuck for the next program.
    std::vector<Worker> workers_;
    Lifeline results_;  // for the outcomes of probes that failed at once
};

}  // namespace valdrune
