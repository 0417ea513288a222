#include "framework/kv_timer.h"

#include <mutex>

#include "framework/kv_error.h"

// The module that contains this code: the plug-in DLL, or a test program.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr UINT_PTR kTimerId = 1;
constexpr char kWindowClass[] = "TkvTimerWindow";

HINSTANCE ThisModule() {
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

// The window class lives as long as this module has timers, so that the module can be unloaded
// and loaded again without a class left behind that points into unloaded code.
std::mutex classMutex;
int classUsers = 0;

bool AcquireWindowClass(WNDPROC proc) {
    std::lock_guard lock(classMutex);
    if (classUsers == 0) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = proc;
        wc.hInstance = ThisModule();
        wc.lpszClassName = kWindowClass;
        if (RegisterClassA(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return false;
    }
    ++classUsers;
    return true;
}

void ReleaseWindowClass() {
    std::lock_guard lock(classMutex);
    if (--classUsers == 0)
        UnregisterClassA(kWindowClass, ThisModule());
}

} // namespace

TkvTimer::TkvTimer() {
    if (!AcquireWindowClass(&TkvTimer::WindowProc))
        throw EkvError("Cannot register the timer window class");
    window_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              ThisModule(), nullptr);
    if (window_ == nullptr) {
        ReleaseWindowClass();
        throw EkvError("Cannot create the timer window");
    }
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TkvTimer::~TkvTimer() {
    enabled_ = false;
    UpdateTimer();
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    ReleaseWindowClass();
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
    KillTimer(window_, kTimerId);
    if (interval_ != 0 && enabled_ && onTimer_)
        SetTimer(window_, kTimerId, interval_, nullptr);
}

LRESULT CALLBACK TkvTimer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kTimerId) {
        auto* timer = reinterpret_cast<TkvTimer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
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
