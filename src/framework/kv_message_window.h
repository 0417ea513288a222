#pragma once
#include <windows.h>

// A hidden message-only window of the module that contains this code, for objects that receive
// timer ticks or posted messages on the thread that created them. A hidden top-level one instead
// also gets what the system broadcasts to top-level windows only (device node changes, power
// events); it is never shown. The window class stays
// registered only while the module has such windows. So the module can be unloaded after quit
// and loaded again, with no class left behind that points into freed code.
class TkvMessageWindow {
public:
    // Raises EkvError when the class cannot be registered or the window created. `owner` is
    // what Owner() returns inside `procedure`.
    TkvMessageWindow(const char* className, WNDPROC procedure, void* owner, bool topLevel = false);
    ~TkvMessageWindow();
    TkvMessageWindow(const TkvMessageWindow&) = delete;
    TkvMessageWindow& operator=(const TkvMessageWindow&) = delete;

    HWND Handle() const { return window_; }

    // The owner given at construction, or null once the window is being destroyed.
    template <class T> static T* Owner(HWND window) {
        return reinterpret_cast<T*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    }

private:
    const char* className_;
    HWND window_ = nullptr;
};
