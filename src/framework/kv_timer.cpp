#include "framework/kv_timer.h"

namespace {
constexpr UINT_PTR kTimerId = 1;
} // namespace

TkvTimer::TkvTimer() : window_("TkvTimerWindow", &TkvTimer::WindowProc, this) {}

TkvTimer::~TkvTimer() {
    enabled_ = false;
    UpdateTimer();
}

void TkvTimer::SetEnabled(bool value) {
    if (value == enabled_)
        return;
    enabled_ = value;
    UpdateTimer();
}

void TkvTimer::SetOnTimer(TkvTimerEvent value) {
    onTimer_ = std::move(value);
    UpdateTimer();
}

void TkvTimer::Timer() {
    if (enabled_ && onTimer_)
        onTimer_(this);
}

void TkvTimer::UpdateTimer() {
    KillTimer(window_.Handle(), kTimerId);
    if (interval_ != 0 && enabled_ && onTimer_)
        SetTimer(window_.Handle(), kTimerId, interval_, nullptr);
}

LRESULT CALLBACK TkvTimer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimerId) {
        auto* timer = TkvMessageWindow::Owner<TkvTimer>(window);
        if (timer != nullptr) {
            try {
                timer->Timer();
            } catch (...) {
                // A failing tick handler must not take the message loop down; the timer runs on.
            }
        }
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
