// Waiting for the user's stop request (Ctrl-C, or the system ending the session) in the
// main thread. One implementation per target: linux/StopRequest.cpp (blocked signals and
// sigwait), windows/StopRequest.cpp (a console control handler).
#pragma once

namespace valdrune {

// From here on a stop request no longer ends the process; WaitForStopRequest takes it up.
void HoldStopRequests();

// Returns once a stop request has arrived (also one that arrived since HoldStopRequests).
void WaitForStopRequest();

}  // namespace valdrune
