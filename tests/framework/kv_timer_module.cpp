// A module of its own that uses timers, to show it can be unloaded and loaded again.
#include <windows.h>

#include "framework/kv_timer.h"
#include "support/win_test_support.h"

extern "C" __declspec(dllexport) unsigned CountTicks(unsigned wanted) {
    unsigned ticks = 0;
    TkvTimer timer;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TkvTimer*) { ++ticks; });
    PumpUntil([&] { return ticks >= wanted; }, 3000);
    return ticks;
}
