// valdrune-netprobe: the only part of Valdrune that may carry capabilities. One operation per
// run, chosen by a fixed grammar, with nothing taken from the environment:
//
//   valdrune-netprobe echo  ADDRESS INDEX   one ICMP echo through a raw socket (CAP_NET_RAW)
//   valdrune-netprobe flush ADDRESS INDEX   drop one neighbour entry (CAP_NET_ADMIN)
//
// ADDRESS is a unicast IPv4 address in dotted decimal; INDEX an adapter index (for echo 0
// lets the routing table choose). It prints exactly one line on standard output (see
// NetProbeGrammar.h) and keeps only the capability its operation needs.
#include <linux/capability.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/linux/EchoSocket.h"
#include "platform/linux/NeighbourRequest.h"
#include "platform/linux/netprobe/NetProbeGrammar.h"

namespace valdrune {
namespace {

constexpr int kEchoTimeoutMs = 1000;

bool SetCapabilities(int keep) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    const bool had = keep >= 0 && (data[CAP_TO_INDEX(keep)].permitted & CAP_TO_MASK(keep)) != 0;
    for (auto& d : data) d.effective = d.permitted = d.inheritable = 0;
    if (had) {
        data[CAP_TO_INDEX(keep)].permitted = CAP_TO_MASK(keep);
        data[CAP_TO_INDEX(keep)].effective = CAP_TO_MASK(keep);
    }
    return ::syscall(SYS_capset, &header, data) == 0 && (keep < 0 || had);
}

int Finish(const char* line, int code) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? code : kNetProbeFailed;
}

int Echo(const NetProbeRequest& request) {
    const int fd = OpenEchoSocket(EchoSocketKind::Raw, request.ifIndex);
    if (fd < 0)
        return errno == EPERM || errno == EACCES ? Finish(kNetProbeNotPermitted, kNetProbeDenied)
                                                 : Finish(kNetProbeError, kNetProbeFailed);
    EchoMatch match;
    match.target = request.address;
    match.id = RandomEchoWord();
    match.sequence = RandomEchoWord();
    match.data = kHelperEchoData;
    if (const int error = SendEcho(fd, EchoSocketKind::Raw, match); error != 0) {
        // Sent nowhere: no answer, as the kernel already knows why.
        return Finish(error == EHOSTUNREACH ? kNetProbeHostUnreachable : kNetProbeNetUnreachable,
                      kNetProbeOk);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kEchoTimeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Finish(kNetProbeTimedOut, kNetProbeOk);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return Finish(kNetProbeError, kNetProbeFailed);
        switch (ReadEchoOutcome(fd, EchoSocketKind::Raw, match)) {
            case IcmpVerdict::Answered:
                return Finish(kNetProbeAnswered, kNetProbeOk);
            case IcmpVerdict::NetUnreachable:
                return Finish(kNetProbeNetUnreachable, kNetProbeOk);
            case IcmpVerdict::HostUnreachable:
                return Finish(kNetProbeHostUnreachable, kNetProbeOk);
            case IcmpVerdict::Unrelated:
                break;
        }
    }
}

int Flush(const NetProbeRequest& request) {
    switch (DeleteNeighbour(request.ifIndex, request.address)) {
        case 0:
            return Finish(kNetProbeFlushed, kNetProbeOk);
        case ENOENT:
            return Finish(kNetProbeNotCached, kNetProbeOk);
        case EPERM:
        case EACCES:
            return Finish(kNetProbeNotPermitted, kNetProbeDenied);
        default:
            return Finish(kNetProbeError, kNetProbeFailed);
    }
}

}  // namespace
}  // namespace valdrune

int main(int argc, char** argv) {
    using namespace valdrune;
    // Nothing from the caller is trusted: no environment, no inherited descriptors but the
    // three standard ones, no effective capability until the request is known to be sound.
    ::clearenv();
    ::close_range(3, ~0U, 0);
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        if (::syscall(SYS_capget, &header, data) == 0) {
            for (auto& d : data) d.effective = d.inheritable = 0;
            ::syscall(SYS_capset, &header, data);
        }
    }

    const auto request = ParseNetProbeArguments(argc, argv);
    if (!request) {
        SetCapabilities(-1);
        std::fputs("usage: valdrune-netprobe echo|flush ADDRESS INDEX\n", stderr);
        return Finish(kNetProbeRefused, kNetProbeUsage);
    }
    const bool echo = request->operation == NetProbeOperation::Echo;
    if (!SetCapabilities(echo ? CAP_NET_RAW : CAP_NET_ADMIN)) {
        SetCapabilities(-1);
        return Finish(kNetProbeNotPermitted, kNetProbeDenied);
    }
    return echo ? Echo(*request) : Flush(*request);
}
