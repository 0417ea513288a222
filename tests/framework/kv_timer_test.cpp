#include <gtest/gtest.h>

#include <memory>

#include "framework/kv_error.h"
#include "framework/kv_timer.h"
#include "support/win_test_support.h"

namespace {

// Whether the window timer runs; stops it, so it is the last look at a timer.
bool StopIfRunning(TkvTimer& timer) {
    return KillTimer(timer.Window(), 1) != FALSE;
}

const auto kIgnore = [](TkvTimer*) {};

TEST(TkvTimerTest, RunsOnlyWithOnTimerSetWhileEnabledWithAnInterval) {
    TkvTimer idle;
    EXPECT_TRUE(idle.Enabled());
    EXPECT_EQ(idle.Interval(), 1000u);
    EXPECT_FALSE(StopIfRunning(idle));

    TkvTimer zero;
    zero.SetInterval(0);
    zero.SetOnTimer(kIgnore);
    EXPECT_FALSE(StopIfRunning(zero));

    TkvTimer off;
    off.SetEnabled(false);
    off.SetOnTimer(kIgnore);
    EXPECT_FALSE(StopIfRunning(off));
    off.SetEnabled(true);
    EXPECT_TRUE(StopIfRunning(off));
}

TEST(TkvTimerTest, TicksArriveOnTheCreatingThreadAndAFailingHandlerDoesNotStopThem) {
    TkvTimer timer;
    timer.SetInterval(10);
    int ticks = 0;
    DWORD thread = 0;
    timer.SetOnTimer([&](TkvTimer* sender) {
        EXPECT_EQ(sender, &timer);
        thread = GetCurrentThreadId();
        ++ticks;
        throw EkvError("tick fault");
    });
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
    EXPECT_EQ(thread, GetCurrentThreadId());
}

TEST(TkvTimerTest, RewritingEnabledKeepsThePeriodWhileSwitchingOffAndOnRestartsIt) {
    TkvTimer timer;
    timer.SetInterval(400);
    DWORD tickAt = 0;
    const DWORD start = GetTickCount();
    timer.SetOnTimer([&](TkvTimer*) { tickAt = GetTickCount(); });
    PumpUntil([&] { return GetTickCount() - start >= 250; }, 1000);
    timer.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return tickAt != 0; }));
    EXPECT_LT(tickAt - start, 600u); // a restart would tick 650 ms after the start at the earliest

    PumpUntil([&] { return GetTickCount() - tickAt >= 250; }, 1000);
    const DWORD restart = GetTickCount();
    tickAt = 0;
    timer.SetEnabled(false);
    timer.SetEnabled(true);
    ASSERT_TRUE(PumpUntil([&] { return tickAt != 0; }));
    EXPECT_GE(tickAt - restart, 350u);
}

TEST(TkvTimerTest, WindowClassLivesExactlyAsLongAsTheModuleHasTimers) {
    const HINSTANCE self = GetModuleHandleA(nullptr);
    WNDCLASSA info;
    auto timer = std::make_unique<TkvTimer>();
    EXPECT_TRUE(GetClassInfoA(self, "TkvTimerWindow", &info));
    timer.reset();
    EXPECT_FALSE(GetClassInfoA(self, "TkvTimerWindow", &info));

    for (int load = 0; load < 2; ++load) {
        const HMODULE module = LoadLibraryA("kv_timer_module.dll");
        ASSERT_NE(module, nullptr);
        const auto countTicks = reinterpret_cast<unsigned (*)(unsigned)>(
            reinterpret_cast<void*>(GetProcAddress(module, "CountTicks")));
        ASSERT_NE(countTicks, nullptr);
        EXPECT_GE(countTicks(2), 2u);
        EXPECT_FALSE(GetClassInfoA(module, "TkvTimerWindow", &info));
        FreeLibrary(module);
    }
}

} // namespace
