#include "framework/kv_subclass.h"

namespace {

constexpr char kPreviousProp[] = "TkvSubclass.Previous";
constexpr char kOwnerProp[] = "TkvSubclass.Owner";

WNDPROC Previous(HWND window) {
    return reinterpret_cast<WNDPROC>(GetPropA(window, kPreviousProp));
}

} // namespace

void TkvSubclass::Install(HWND window, WNDPROC procedure, void* owner) {
    if (Previous(window) != nullptr)
        Remove(window);
    SetPropA(window, kOwnerProp, owner);
    SetPropA(window, kPreviousProp,
             reinterpret_cast<HANDLE>(GetWindowLongPtrA(window, GWLP_WNDPROC)));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
}

WNDPROC TkvSubclass::Remove(HWND window) {
    const WNDPROC previous = Previous(window);
    if (previous != nullptr)
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    RemovePropA(window, kPreviousProp);
    RemovePropA(window, kOwnerProp);
    return previous;
}

LRESULT TkvSubclass::CallPrevious(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const WNDPROC previous = Previous(window);
    return previous != nullptr ? CallWindowProcA(previous, window, message, wParam, lParam)
                               : DefWindowProcA(window, message, wParam, lParam);
}

void* TkvSubclass::OwnerOf(HWND window) {
    return GetPropA(window, kOwnerProp);
}
