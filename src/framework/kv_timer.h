#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>

#include "framework/kv_message_window.h"

// A window timer on a hidden window of its own: ticks arrive as WM_TIMER on the thread that
// created the object. It runs while Enabled is true, Interval is not 0 and OnTimer is set.
class TkvTimer {
public:
    using TkvTimerEvent = std::function<void(TkvTimer* Sender)>;

    // Raises EkvError when the hidden window cannot be created.
    TkvTimer();
    virtual ~TkvTimer();
    TkvTimer(const TkvTimer&) = delete;
    TkvTimer& operator=(const TkvTimer&) = delete;

    bool Enabled() const { return enabled_; }
    // Writing the current value changes nothing, so the running period is not restarted;
    // switching off and on again starts a full period.
    void SetEnabled(bool value);

    std::uint32_t Interval() const { return interval_; }
    // Only stores the period: it applies when Enabled or OnTimer is written next. To change a
    // running timer, switch it off, write Interval and switch it on again.
    void SetInterval(std::uint32_t value) { interval_ = value; }

    const TkvTimerEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(TkvTimerEvent value);

    // The hidden window that receives the ticks.
    HWND Window() const { return window_.Handle(); }

protected:
    // Runs on every tick; calls OnTimer while enabled.
    virtual void Timer();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void UpdateTimer();

    std::uint32_t interval_ = 1000;
    TkvMessageWindow window_;
    TkvTimerEvent onTimer_;
    bool enabled_ = true;
};
