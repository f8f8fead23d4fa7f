#include "platform/StopRequest.h"

#include <pthread.h>
#include <signal.h>

#include <initializer_list>

namespace valdrune {
namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
    return set;
}

}  // namespace

void HoldStopRequests() {
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WaitForStopRequest() {
    const sigset_t set = StopSignals();
    int sig = 0;
    sigwait(&set, &sig);
}

}  // namespace valdrune
