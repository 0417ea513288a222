#pragma once
#include <cstdint>
#include <functional>

// The engine's timers and clock. In the plug-in they are window timers of a window of the UI
// thread (engine/hid_window_scheduler.h); tests advance a clock of their own by hand, so the
// burst, repeat and retry rules are tested in milliseconds without waiting for them.
class THidScheduler {
public:
    using TTimerEvent = std::function<void(std::uint32_t id)>;

    virtual ~THidScheduler() = default;
    // Timer `id` ticks `ms` after now, and again every `ms` when periodic. Starting a running
    // timer gives it a fresh period. A window timer never fires at 0 ms, so 0 asks for the
    // earliest tick, 1 ms away. A one-shot timer has stopped by the time its tick runs.
    virtual void Start(std::uint32_t id, std::uint32_t ms, bool periodic = false) = 0;
    // No tick of `id` runs after this; stopping a stopped timer does nothing.
    virtual void Stop(std::uint32_t id) = 0;
    // Milliseconds, wrapping: the clock of the timers and of the reports' stamps.
    virtual std::uint32_t Now() const = 0;

    // Runs each tick, on the thread that started the timer.
    TTimerEvent OnTimer;
};
