// valdrune-cli reach over a recording stand-in for the system's address and route calls: what
// is recorded when, what a failed or refused run leaves, and which leftovers a run removes.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "cli/ExitCodes.h"
#include "cli/Reach.h"
#include "tests/unit/cli/CliRig.h"

namespace valdrune::cli::test {
namespace {

class RecordingRoutes final : public IReachRoutes {
  public:
    std::string unsupported;
    bool permitted = true;
    bool statePlace = true;
    std::string state;
    std::set<std::uint32_t> taken;          // answer the address-resolution probe
    std::map<std::uint32_t, ReachAdd> add;  // Added when missing
    std::set<std::uint32_t> cannotRemove;   // by borrowed address
    std::set<int> alive;
    std::vector<std::string> calls;
    std::vector<std::string> stateSeenAtAdd;

    std::string Unsupported() override { return unsupported; }
    bool Permitted() override { return permitted; }
    std::string StatePlace() override { return "place P"; }
    std::uint64_t Namespace() override { return 7; }
    std::vector<Ipv4Network> Networks() override { return {{Ip("192.168.0.10"), 24}}; }
    ReachAdd Add(const ReachEntry& e, std::string& error) override {
        calls.push_back("add " + Ipv4Text(e.source));
        stateSeenAtAdd.push_back(state);
        const auto it = add.find(e.source);
        if (it == add.end()) return ReachAdd::Added;
        error = "refused by the stand-in";
        return it->second;
    }
    bool Remove(const ReachEntry& e, std::string& error) override {
        calls.push_back("remove " + Ipv4Text(e.source));
        if (!cannotRemove.count(e.source)) return true;
        error = "stuck";
        return false;
    }
    bool UpdateState(const std::function<std::string(const std::string&)>& change) override {
        if (!statePlace) return false;
        state = change(state);
        return true;
    }
    bool Alive(int pid) override { return alive.count(pid) > 0; }
    bool InUse(std::int32_t, const MacAddress&, std::uint32_t address) override {
        return taken.count(address) > 0;
    }
};

class ReachFlow : public ::testing::Test {
  protected:
    ReachFlow() {
        FakeDevice& dev = rig.AddDevice(9, DEVICE_KIND_STANDARD, "192.168.1.254");
        options.mac = dev.record.primary.mac;
        options.macText = MacText(dev.record.primary.mac);
    }

    ReachOutcome Run() {
        std::optional<ReachOutcome> outcome;
        RunReach(*rig.session, routes, options, [&](ReachOutcome o) {
            rig.exitCode = o.exitCode;
            outcome = o;
        });
        rig.Run();
        EXPECT_TRUE(outcome);
        return outcome.value_or(ReachOutcome{-1, std::nullopt, {}});
    }

    std::vector<ReachEntry> Recorded() const { return ParseReachEntries(routes.state); }

    CliRig rig;
    RecordingRoutes routes;
    ReachOptions options;
};

TEST_F(ReachFlow, RecordsTheChangeBeforeMakingIt) {
    const ReachOutcome o = Run();
    ASSERT_EQ(o.exitCode, EXIT_OK) << rig.err.str();
    ASSERT_TRUE(o.entry);
    EXPECT_EQ(o.entry->source, Ip("192.168.1.253"));
    EXPECT_EQ(o.entry->device, Ip("192.168.1.254"));
    EXPECT_EQ(o.entry->netns, 7u);
    EXPECT_EQ(o.entry->ifIndex, 2);
    EXPECT_EQ(o.url, "http://192.168.1.254:80");
    // Already on record when the change was made, so a run killed inside Add is undone later.
    ASSERT_EQ(routes.stateSeenAtAdd.size(), 1u);
    EXPECT_EQ(ParseReachEntries(routes.stateSeenAtAdd[0]).size(), 1u);
    EXPECT_EQ(Recorded().size(), 1u);
}

TEST_F(ReachFlow, SkipsAddressesTakenOnTheLinkOrFoundTakenWhileAdding) {
    routes.taken = {Ip("192.168.1.253")};
    routes.add[Ip("192.168.1.252")] = ReachAdd::InUse;
    const ReachOutcome o = Run();
    ASSERT_EQ(o.exitCode, EXIT_OK) << rig.err.str();
    EXPECT_EQ(o.entry->source, Ip("192.168.1.251"));
    EXPECT_EQ(routes.calls, (std::vector<std::string>{"add 192.168.1.252", "add 192.168.1.251"}));
    ASSERT_EQ(Recorded().size(), 1u);
    EXPECT_EQ(Recorded()[0].source, Ip("192.168.1.251"));
    EXPECT_NE(rig.err.str().find("192.168.1.252 is in use (refused by the stand-in)"),
              std::string::npos);
}

// A failed change leaves no record; one that could not be undone keeps its record for the
// next run. Neither reports success.
TEST_F(ReachFlow, AFailedChangeIsForgottenAndAHalfUndoneOneIsKept) {
    routes.add[Ip("192.168.1.253")] = ReachAdd::Failed;
    ReachOutcome o = Run();
    EXPECT_EQ(o.exitCode, EXIT_FAILED);
    EXPECT_FALSE(o.entry);
    EXPECT_TRUE(Recorded().empty());
    EXPECT_NE(rig.err.str().find("refused by the stand-in; nothing was changed."),
              std::string::npos);

    routes.add[Ip("192.168.1.253")] = ReachAdd::Partial;
    rig.exitCode.reset();
    o = Run();
    EXPECT_EQ(o.exitCode, EXIT_FAILED);
    EXPECT_FALSE(o.entry);
    EXPECT_EQ(Recorded().size(), 1u);
    EXPECT_NE(rig.err.str().find("removed at the next start"), std::string::npos);
}

TEST_F(ReachFlow, ChangesNothingWhenItMayNotOrCannotRecordIt) {
    struct Case {
        const char* what;
        void (*set)(RecordingRoutes&);
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {"unsupported", [](RecordingRoutes& r) { r.unsupported = "no calls."; }, EXIT_FAILED,
         "on this system: no calls."},
        {"not permitted", [](RecordingRoutes& r) { r.permitted = false; }, EXIT_NOT_PERMITTED,
         "which needs the right R."},
        {"no place", [](RecordingRoutes& r) { r.statePlace = false; }, EXIT_FAILED,
         "record the change (place P), so nothing was changed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CliRig fresh;
        fresh.session->SetRights({.reach = "the right R."});
        fresh.AddDevice(9, DEVICE_KIND_STANDARD, "192.168.1.254");
        RecordingRoutes r;
        c.set(r);
        std::optional<int> code;
        RunReach(*fresh.session, r, options, [&](ReachOutcome o) {
            code = o.exitCode;
            fresh.exitCode = o.exitCode;
        });
        fresh.Run();
        EXPECT_EQ(code, c.exitCode);
        EXPECT_NE(fresh.err.str().find(c.says), std::string::npos) << fresh.err.str();
        EXPECT_TRUE(r.calls.empty());
        EXPECT_TRUE(r.state.empty());
    }
}

TEST_F(ReachFlow, RemovesOnlyLeftoversOfEndedRunsInThisNamespace) {
    const std::vector<ReachEntry> before = {
        {7, 2, Ip("192.168.1.253"), Ip("192.168.1.254"), 100},  // ended: removed
        {7, 2, Ip("192.168.1.252"), Ip("192.168.1.254"), 101},  // still running
        {8, 2, Ip("192.168.1.251"), Ip("192.168.1.254"), 102},  // another namespace's
        {7, 2, Ip("192.168.1.250"), Ip("192.168.1.254"), 103},  // ended, cannot be removed
    };
    routes.state = FormatReachEntries(before);
    routes.alive = {101};
    routes.cannotRemove = {Ip("192.168.1.250")};
    std::ostringstream err;
    RemoveLeftovers(routes, err);
    EXPECT_EQ(routes.calls,
              (std::vector<std::string>{"remove 192.168.1.253", "remove 192.168.1.250"}));
    std::set<std::uint32_t> kept;
    for (const auto& e : Recorded()) kept.insert(e.source);
    EXPECT_EQ(kept, (std::set<std::uint32_t>{Ip("192.168.1.252"), Ip("192.168.1.251"),
                                             Ip("192.168.1.250")}));
    EXPECT_NE(err.str().find("Removed 192.168.1.253"), std::string::npos);
    EXPECT_NE(err.str().find("(stuck)"), std::string::npos);
}

}  // namespace
}  // namespace valdrune::cli::test
