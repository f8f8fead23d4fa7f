// Destroying the engine stops everything: no timer, posted message or probe answer runs later.
#include <gmock/gmock.h>

#include "EngineTest.h"

namespace valdrune::test {
namespace {

using std::chrono::milliseconds;

TEST(Lifetime, DestroyingDuringTheSearchCycleLeavesNoTimerBehind) {
    EngineRig rig;
    rig.StartWithDefaultAdapter();
    rig.engine->StartSearch();
    rig.clock.Advance(milliseconds(100));
    rig.engine.reset();
    EXPECT_EQ(rig.clock.LiveTimers(), 0u);
    rig.clock.Advance(milliseconds(20000));
    EXPECT_EQ(rig.transport.Sent().size(), 1u);
    EXPECT_FALSE(rig.transport.IsOpen());
    EXPECT_FALSE(rig.transport.HasReceiver());
}

TEST(Lifetime, DestroyingMidTransactionCancelsRepeatsTimeoutConfirmationAndRestartWait) {
    EngineRig rig;
    rig.StartWithDefaultAdapter();
    const MacAddress target = Mac(0x42);
    rig.engine->StartRestartWait(Mac(0x43));
    rig.engine->SendSettings(Device(target, "10.0.0.42"), CMD_SETUP_V2, MASK_STANDARD);
    rig.Deliver(AnswerBuilder(CMD_SETUP_V2_REPLY, target));
    rig.engine.reset();
    EXPECT_EQ(rig.clock.LiveTimers(), 0u);
    rig.clock.Advance(milliseconds(200000));
    EXPECT_EQ(rig.transport.Sent().size(), 1u);
    EXPECT_EQ(rig.owner.Count(WM_SETUP_ACCEPTED), 0u);
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FAILED), 0u);
}

TEST(Lifetime, PostedMessageQueuedBeforeDestructionIsNotDelivered) {
    EngineRig rig;
    rig.StartWithDefaultAdapter();
    rig.engine->StartRestartWait(Mac(0x44));
    rig.Deliver(SearchAnswer(Mac(0x44), "10.0.0.44"));
    ASSERT_EQ(rig.clock.PendingPosts(), 1u);
    rig.engine.reset();
    rig.clock.RunPosted();
    EXPECT_EQ(rig.owner.Count(WM_SETUP_FINISHED), 0u);
}

TEST(Lifetime, AddressCheckInProgressNeverCompletes) {
    EngineRig rig;
    rig.StartWithDefaultAdapter();
    bool called = false;
    rig.engine->CheckAddressInUse(Device(Mac(0x45), "10.0.0.45"), false,
                                  [&](int) { called = true; });
    rig.clock.Advance(milliseconds(150));
    ASSERT_EQ(rig.prober.Outstanding(), 1u);
    rig.engine.reset();
    EXPECT_EQ(rig.prober.Outstanding(), 0u);
    rig.clock.Advance(milliseconds(10000));
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace valdrune::test
