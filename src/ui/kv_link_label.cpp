#include "ui/kv_link_label.h"

#include <shellapi.h>

#include "framework/kv_subclass.h"

namespace {

constexpr char kHoverProp[] = "kvHover";

LRESULT CALLBACK LinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETCURSOR:
        SetCursor(LoadCursor(nullptr, IDC_HAND));
        return TRUE;
    case WM_MOUSEMOVE:
        if (GetPropA(window, kHoverProp) == nullptr) {
            SetPropA(window, kHoverProp, window);
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
            TrackMouseEvent(&track);
            SendMessageA(GetParent(window), kLinkHoverMessage, 1, reinterpret_cast<LPARAM>(window));
        }
        break;
    case WM_MOUSELEAVE:
        RemovePropA(window, kHoverProp);
        SendMessageA(GetParent(window), kLinkHoverMessage, 0, reinterpret_cast<LPARAM>(window));
        break;
    case WM_NCDESTROY: {
        RemovePropA(window, kHoverProp);
        const WNDPROC previous = TkvSubclass::Remove(window);
        return CallWindowProcA(previous, window, message, wParam, lParam);
    }
    }
    return TkvSubclass::CallPrevious(window, message, wParam, lParam);
}

} // namespace

void MakeLinkLabel(HWND label) {
    TkvSubclass::Install(label, &LinkProc, nullptr);
}

void OpenInBrowser(HWND owner, const char* address) {
    ShellExecuteA(owner, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}
