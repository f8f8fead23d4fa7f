// valdrune-cli reach: makes a device outside every adapter's subnet reachable for as long as
// the command runs (see protocol/Reach.h). Changing addresses and routes needs root (an
// elevated administrator on Windows); the tool holds no capabilities of its own, so without
// the right it says so and changes nothing.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "cli/Session.h"
#include "protocol/Reach.h"

namespace valdrune::cli {

struct ReachOptions {
    std::string interface;
    std::string macText;
    MacAddress mac{};
};

struct ReachOutcome {
    int exitCode = 0;
    std::optional<ReachEntry> entry;  // what now has to be undone
    std::string url;
};

// Undoes what killed runs in this namespace left behind. Synchronous.
void RemoveLeftovers(IReachRoutes& routes, std::ostream& err);

// Checks the right, removes leftovers, finds the device, and borrows an address and adds the
// route when they are needed; done() once with the outcome.
void RunReach(Session& s, IReachRoutes& routes, const ReachOptions& o,
              std::function<void(ReachOutcome)> done);

// Prints the URL, waits for a stop request and undoes the change; the exit status.
int HoldUntilStopped(IReachRoutes& routes, const ReachOutcome& outcome, std::ostream& out,
                     std::ostream& err);

}  // namespace valdrune::cli
