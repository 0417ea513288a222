#pragma once
#include <windows.h>

// Replaces the window procedure of a window made elsewhere and keeps the previous procedure and
// an owner with the window itself, so that one replacement procedure can serve many windows.
// Owning thread of the window only.
class TkvSubclass {
public:
    static void Install(HWND window, WNDPROC procedure, void* owner);
    // Puts the previous procedure back and returns it; null for a window not subclassed.
    static WNDPROC Remove(HWND window);
    // The owner given to Install, or null once removed.
    template <class T> static T* Owner(HWND window) { return static_cast<T*>(OwnerOf(window)); }
    // What the previous procedure answers; the default answer once removed.
    static LRESULT CallPrevious(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    static void* OwnerOf(HWND window);
};
