// Window-timer behaviour on virtual time.

#include <gtest/gtest.h>

#include "core/timer.h"
#include "core/virtual_time.h"

namespace tolvar {
namespace {

TEST(Timer, FiresAtItsDeadlineAndNotEarlier) {
    VirtualTime vt;
    Timer t(vt, 200);
    int fired = 0;
    t.OnTimer = [&] { ++fired; };
    t.SetEnabled(true);
    vt.Advance(199);
    EXPECT_EQ(fired, 0);
    vt.Advance(1);
    EXPECT_EQ(fired, 1);
    vt.Advance(400);
    EXPECT_EQ(fired, 3);  // it repeats
}

TEST(Timer, DisableAndEnableRestartsTheInterval) {
    VirtualTime vt;
    Timer t(vt, 1000);
    int fired = 0;
    t.OnTimer = [&] { ++fired; };
    t.SetEnabled(true);
    vt.Advance(900);
    t.SetEnabled(false);
    t.SetEnabled(true);
    vt.Advance(999);
    EXPECT_EQ(fired, 0);
    vt.Advance(1);
    EXPECT_EQ(fired, 1);
}

TEST(Timer, EnablingAnEnabledTimerChangesNothing) {
    VirtualTime vt;
    Timer t(vt, 1000);
    int fired = 0;
    t.OnTimer = [&] { ++fired; };
    t.SetEnabled(true);
    vt.Advance(600);
    t.SetEnabled(true);
    vt.Advance(400);
    EXPECT_EQ(fired, 1);
}

TEST(Timer, OneShotUseDisablesItselfInItsHandler) {
    VirtualTime vt;
    Timer t(vt, 50);
    int fired = 0;
    t.OnTimer = [&] {
        ++fired;
        t.SetEnabled(false);
    };
    t.SetEnabled(true);
    vt.Advance(1000);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(t.Enabled());
    EXPECT_EQ(vt.PendingTimers(), 0u);
}

TEST(Timer, IntervalChangeInHandlerTakesEffect) {
    // As the D-Mail sender does: packet delay first, then the acknowledgement time-out.
    VirtualTime vt;
    Timer t(vt, 20);
    std::vector<std::uint64_t> at;
    t.OnTimer = [&] {
        at.push_back(vt.TickCount());
        t.SetInterval(12000);
    };
    t.SetEnabled(true);
    vt.Advance(13000);
    EXPECT_EQ(at, (std::vector<std::uint64_t>{20, 12020}));
}

TEST(Timer, IntervalZeroNeverFiresAndDestructionCancels) {
    VirtualTime vt;
    int fired = 0;
    {
        Timer t(vt, 0);
        t.OnTimer = [&] { ++fired; };
        t.SetEnabled(true);
        vt.Advance(10000);
        t.SetInterval(10);
    }
    vt.Advance(10000);
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(vt.PendingTimers(), 0u);
}

}  // namespace
}  // namespace tolvar
