#pragma once
#include <windows.h>

#include <cstdint>
#include <map>

#include "engine/hid_scheduler.h"

// Window timers of a window that the caller owns, one timer id per timer: the window's
// procedure hands its WM_TIMER messages to Tick. Many timers then cost one window, and they die
// with it.
class THidWindowScheduler final : public THidScheduler {
public:
    explicit THidWindowScheduler(HWND window) : window_(window) {}
    ~THidWindowScheduler() override;
    THidWindowScheduler(const THidWindowScheduler&) = delete;
    THidWindowScheduler& operator=(const THidWindowScheduler&) = delete;

    void Start(std::uint32_t id, std::uint32_t ms, bool periodic = false) override;
    void Stop(std::uint32_t id) override;
    // The reports' clock (kvReportClockMs), so that a burst's silence is measured from the
    // stamps its reports were read at.
    std::uint32_t Now() const override;
    // A WM_TIMER of the window. A tick of a timer stopped since it was queued is dropped.
    void Tick(std::uint32_t id);

private:
    HWND window_;
    // The running timers, and whether each is periodic.
    std::map<std::uint32_t, bool> running_;
};
