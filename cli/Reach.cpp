#include "cli/Reach.h"

#include <unistd.h>

#include <algorithm>
#include <memory>

#include "browser/core/SiteList.h"
#include "cli/ExitCodes.h"
#include "platform/StopRequest.h"

namespace valdrune::cli {
namespace {

bool SameChange(const ReachEntry& a, const ReachEntry& b) {
    return a.netns == b.netns && a.ifIndex == b.ifIndex && a.source == b.source &&
           a.device == b.device && a.pid == b.pid;
}

bool Forget(IReachRoutes& routes, const ReachEntry& e) {
    return routes.UpdateState([&](const std::string& text) {
        auto entries = ParseReachEntries(text);
        std::erase_if(entries, [&](const ReachEntry& x) { return SameChange(x, e); });
        return FormatReachEntries(entries);
    });
}

struct Borrow {
    Session& s;
    IReachRoutes& routes;
    ReachEntry entry;
    std::string url;
    std::vector<std::uint32_t> candidates;
    std::function<void(ReachOutcome)> done;

    void Finish(int code) { done(ReachOutcome{code, std::nullopt, url}); }

    void Next(std::size_t i) {
        const _NetInfo& local = s.Engine().LocalInterface();
        for (; i < candidates.size(); ++i) {
            if (!routes.InUse(entry.ifIndex, local.mac, candidates[i])) break;
            s.Err() << Ipv4Text(candidates[i]) << " is in use; trying the next address.\n";
        }
        if (i == candidates.size()) {
            s.Err() << "No free address was found in the subnet of " << Ipv4Text(entry.device)
                    << ".\n";
            Finish(EXIT_CONFLICT);
            return;
        }
        entry.source = candidates[i];
        // Recorded first, so that a run killed halfway still has its change undone later.
        if (!routes.UpdateState([&](const std::string& text) {
                auto entries = ParseReachEntries(text);
                entries.push_back(entry);
                return FormatReachEntries(entries);
            })) {
            s.Err() << "There is no private place to record the change (" << routes.StatePlace()
                    << "), so nothing was changed.\n";
            Finish(EXIT_FAILED);
            return;
        }
        std::string error;
        switch (routes.Add(entry, error)) {
            case ReachAdd::Added:
                done(ReachOutcome{EXIT_OK, entry, url});
                return;
            case ReachAdd::InUse:
                Forget(routes, entry);
                s.Err() << Ipv4Text(entry.source) << " is in use (" << error
                        << "); trying the next address.\n";
                Next(i + 1);
                return;
            case ReachAdd::Failed:
                Forget(routes, entry);
                s.Err() << error << "; nothing was changed.\n";
                Finish(EXIT_FAILED);
                return;
            case ReachAdd::Partial:  // the record stays, so that the next run undoes it
                s.Err() << error << " (it is removed at the next start of valdrune-cli reach).\n";
                Finish(EXIT_FAILED);
                return;
        }
    }
};

}  // namespace

void RemoveLeftovers(IReachRoutes& routes, std::ostream& err) {
    const std::uint64_t here = routes.Namespace();
    std::vector<ReachEntry> stale;
    routes.UpdateState([&](const std::string& text) {
        auto entries = ParseReachEntries(text);
        std::vector<ReachEntry> kept;
        for (const auto& e : entries) {
            // Another namespace's entries are undone from there; running ones by themselves.
            (e.netns == here && !routes.Alive(e.pid) ? stale : kept).push_back(e);
        }
        std::vector<ReachEntry> failed;
        for (const auto& e : stale) {
            std::string error;
            if (routes.Remove(e, error)) {
                err << "Removed " << Ipv4Text(e.source) << " and the route to "
                    << Ipv4Text(e.device) << " left by an earlier run.\n";
            } else {
                err << "Could not remove what an earlier run left (" << error << ").\n";
                failed.push_back(e);
            }
        }
        kept.insert(kept.end(), failed.begin(), failed.end());
        return FormatReachEntries(kept);
    });
}

void RunReach(Session& s, IReachRoutes& routes, const ReachOptions& o,
              std::function<void(ReachOutcome)> done) {
    if (const std::string why = routes.Unsupported(); !why.empty()) {
        s.Err() << "valdrune-cli reach cannot change addresses and routes on this system: " << why
                << '\n';
        done(ReachOutcome{EXIT_FAILED, std::nullopt, {}});
        return;
    }
    if (!routes.Permitted()) {
        s.Err() << "valdrune-cli reach adds an address and a route to the adapter, which needs "
                << s.Rights().reach << '\n';
        done(ReachOutcome{EXIT_NOT_PERMITTED, std::nullopt, {}});
        return;
    }
    RemoveLeftovers(routes, s.Err());
    if (int rc = s.OpenInterface(o.interface); rc != EXIT_OK) {
        done(ReachOutcome{rc, std::nullopt, {}});
        return;
    }
    s.Engine().ClearDevices();
    const MacAddress mac = o.mac;
    s.Search([mac](const _CommandDataTable& r) { return r.primary.mac == mac; },
             [&s, &routes, o, done](bool) {
                 auto record = s.Engine().FindDevice(o.macText);
                 if (!record) {
                     s.Err() << "Device " << o.macText << " did not answer the search.\n";
                     done(ReachOutcome{EXIT_NOT_FOUND, std::nullopt, {}});
                     return;
                 }
                 const std::uint32_t device = record->primary.ipAddress;
                 const std::string url = DeviceUrl(*record);
                 if (device == 0) {
                     s.Err() << "Device " << o.macText << " reports no IPv4 address.\n";
                     done(ReachOutcome{EXIT_NOT_FOUND, std::nullopt, {}});
                     return;
                 }
                 if (InsideAny(device, routes.Networks())) {
                     s.Err() << Ipv4Text(device)
                             << " is in the subnet of an adapter already; nothing to change.\n";
                     done(ReachOutcome{EXIT_OK, std::nullopt, url});
                     return;
                 }
                 auto b = std::make_shared<Borrow>(Borrow{s, routes, {}, url, {}, done});
                 b->entry.netns = routes.Namespace();
                 b->entry.ifIndex = s.Engine().LocalInterface().ifIndex;
                 b->entry.device = device;
                 b->entry.pid = static_cast<int>(getpid());
                 b->candidates = BorrowCandidates(device, record->primary.subnetMask);
                 b->Next(0);
             });
}

int HoldUntilStopped(IReachRoutes& routes, const ReachOutcome& outcome, std::ostream& out,
                     std::ostream& err) {
    out << outcome.url << std::endl;
    const ReachEntry& e = *outcome.entry;
    err << "Borrowed " << Ipv4Text(e.source) << " on the adapter with a route to "
        << Ipv4Text(e.device) << "; stop with Ctrl-C to remove them.\n";
    WaitForStopRequest();
    std::string error;
    if (!routes.Remove(e, error)) {
        err << error << " (it is removed at the next start of valdrune-cli reach).\n";
        return EXIT_FAILED;
    }
    Forget(routes, e);
    return EXIT_OK;
}

}  // namespace valdrune::cli
