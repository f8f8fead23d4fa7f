#include "platform/linux/EchoProber.h"

#include <linux/capability.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/linux/PendingEntries.h"
#include "platform/qt/FdWatch.h"
#include "protocol/Protocol.h"

namespace valdrune {
namespace {

static_assert(std::string_view(ECHO_DATA) == kHelperEchoData,
              "the helper sends the probe data itself");

bool IsPermissionError(int error) { return error == EACCES || error == EPERM; }

int CodeFor(IcmpVerdict verdict) {
    switch (verdict) {
        case IcmpVerdict::Answered:
            return ECHO_ANSWERED;
        case IcmpVerdict::NetUnreachable:
            return ECHO_NET_UNREACHABLE;
        case IcmpVerdict::HostUnreachable:
            return ECHO_HOST_UNREACHABLE;
        case IcmpVerdict::Unrelated:
            break;
    }
    return ECHO_TIMED_OUT;
}

// The helper's line; anything else (not there, refused, failed) means the probe cannot run.
int CodeForHelperLine(const std::string& line) {
    if (line == kNetProbeAnswered) return ECHO_ANSWERED;
    if (line == kNetProbeNetUnreachable) return ECHO_NET_UNREACHABLE;
    if (line == kNetProbeHostUnreachable) return ECHO_HOST_UNREACHABLE;
    if (line == kNetProbeTimedOut) return ECHO_TIMED_OUT;
    return ECHO_NOT_PERMITTED;
}

bool PingSocketOpens() {
    const int fd = OpenEchoSocket(EchoSocketKind::Ping);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace

EchoSocketKind AvailableEchoSocket(const std::string& helperPath) {
    if (PingSocketOpens()) return EchoSocketKind::Ping;
    if (NetProbeMayHold(helperPath, CAP_NET_RAW)) return EchoSocketKind::Raw;
    return EchoSocketKind::None;
}

struct LinuxEchoProber::Pending {
    int fd = -1;
    EchoMatch match;
    TimerId timer = 0;
    std::unique_ptr<FdWatch> watch;
    std::function<void(int)> done;

    ~Pending() {
        watch.reset();
        if (fd >= 0) ::close(fd);
    }
};

LinuxEchoProber::LinuxEchoProber(IScheduler& scheduler, std::string helperPath)
    : scheduler_(scheduler),
      helper_(scheduler, std::move(helperPath)),
      nextSequence_(RandomEchoWord()) {}

LinuxEchoProber::~LinuxEchoProber() { CancelAll(); }

bool LinuxEchoProber::CanProbe() const {
    return AvailableEchoSocket(helper_.Path()) != EchoSocketKind::None;
}

void LinuxEchoProber::Probe(std::uint32_t address, const std::string& data, Milliseconds timeout,
                            std::function<void(int)> done) {
    const int fd = OpenEchoSocket(EchoSocketKind::Ping);
    if (fd < 0) {
        // Not admitted by ping_group_range, or a kernel without ping sockets: the helper.
        const int pingError = errno;
        if (data == kHelperEchoData && NetProbeMayHold(helper_.Path(), CAP_NET_RAW)) {
            helper_.Run(NetProbeOperation::Echo, address, 0, timeout,
                        [alive = results_.Hold(), done = std::move(done)](const std::string& line) {
                            if (Lifeline::Alive(alive) && done) done(CodeForHelperLine(line));
                        });
            return;
        }
        const bool refused = IsPermissionError(pingError) || pingError == EAFNOSUPPORT ||
                             pingError == EPROTONOSUPPORT;
        // Never call back from inside Probe: the caller is usually still setting up.
        results_.PostResult(scheduler_, std::move(done),
                            refused ? ECHO_NOT_PERMITTED : ECHO_NOT_PREPARED);
        return;
    }
    auto pending = std::make_unique<Pending>();
    pending->fd = fd;
    pending->match.target = address;
    pending->match.sequence = nextSequence_++;
    pending->match.data = data;
    if (const int error = SendEcho(fd, EchoSocketKind::Ping, pending->match); error != 0) {
        // Sent nowhere: no answer. The kernel sometimes already knows why.
        results_.PostResult(scheduler_, std::move(done),
                            error == EHOSTUNREACH ? ECHO_HOST_UNREACHABLE : ECHO_NET_UNREACHABLE);
        return;
    }

    const std::uint64_t key = nextKey_++;
    pending->done = std::move(done);
    pending->watch = std::make_unique<FdWatch>(fd, [this, key]() { OnReadable(key); });
    pending->timer = scheduler_.StartTimer(timeout, false, [this, key]() {
        const auto it = probes_.find(key);
        if (it != probes_.end()) it->second->timer = 0;
        Finish(key, ECHO_TIMED_OUT);
    });
    probes_.emplace(key, std::move(pending));
}

void LinuxEchoProber::OnReadable(std::uint64_t key) {
    const auto it = probes_.find(key);
    if (it == probes_.end()) return;
    const IcmpVerdict verdict =
        ReadEchoOutcome(it->second->fd, EchoSocketKind::Ping, it->second->match);
    if (verdict != IcmpVerdict::Unrelated) Finish(key, CodeFor(verdict));
}

void LinuxEchoProber::Finish(std::uint64_t key, int code) {
    std::unique_ptr<Pending> p = TakeEntry(probes_, key, scheduler_);
    if (!p) return;
    auto done = std::move(p->done);
    p.reset();  // socket closed before the caller sees the outcome
    if (done) done(code);
}

void LinuxEchoProber::CancelAll() {
    DropEntries(probes_, scheduler_);
    helper_.CancelAll();
    // The posted results of probes that failed at once are dropped too.
    results_.Cut();
}

}  // namespace valdrune
