#include "ui/kv_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

#include "framework/kv_error.h"
#include "framework/kv_module.h"

namespace {

// The fonts live as long as the module; a dialog may be opened many times.
struct TFontCache {
    ~TFontCache() {
        for (auto& [key, font] : Fonts)
            DeleteObject(font);
    }
    std::map<std::tuple<int, int, bool>, HFONT> Fonts; // by DPI, points and boldness
};

int dpiOverride = 0;
// WM_DPICHANGED, which the headers for XP leave out.
constexpr UINT kDpiChanged = 0x02E0;
// Rows of the reading order: controls whose tops lie closer than this (at 96 DPI) share a row.
constexpr int kRowTolerance = 10;
// Watches the keys of this thread's modal loops while any dialog of this module runs.
HHOOK keyFilter = nullptr;

// The dialogs of this module inside ShowModal, innermost last. All run on one thread.
std::vector<TkvDialog*>& RunningDialogs() {
    static std::vector<TkvDialog*> running;
    return running;
}

void InitControls() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                                   ICC_TAB_CLASSES | ICC_PROGRESS_CLASS |
                                                   ICC_ANIMATE_CLASS | ICC_STANDARD_CLASSES};
        return InitCommonControlsEx(&init) != FALSE;
    }();
    (void)done;
}

} // namespace

HFONT DialogFont(TkvFontStyle style, int dpi) {
    static TFontCache cache;
    HFONT& font = cache.Fonts[{dpi, style.Points, style.Bold}];
    if (font == nullptr)
        font = CreateFontA(-MulDiv(style.Points, dpi, 72), 0, 0, 0,
                           style.Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    return font;
}

int WindowDpi(HWND window) {
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr && window != nullptr)
        if (const UINT dpi = getDpiForWindow(window); dpi != 0)
            return static_cast<int>(dpi);
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

void SetDialogDpiOverride(int dpi) {
    dpiOverride = dpi;
}

TkvDialog::TkvDialog(std::string caption, int clientWidth, int clientHeight, bool toolWindow)
    : caption_(std::move(caption)), clientWidth_(clientWidth), clientHeight_(clientHeight),
      toolWindow_(toolWindow) {}

TkvDialog::~TkvDialog() {
    for (auto& [control, colors] : colors_)
        if (colors.Background != nullptr)
            DeleteObject(colors.Background);
}

INT_PTR TkvDialog::ShowModal(HWND owner) {
    InitControls();
    // An empty template: the controls come from FormCreate, the size from the client area.
    struct alignas(DWORD) {
        DLGTEMPLATE Header;
        WORD Menu, Class, Title;
    } dialogTemplate{};
    dialogTemplate.Header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    dialogTemplate.Header.dwExtendedStyle = toolWindow_ ? WS_EX_TOOLWINDOW : WS_EX_DLGMODALFRAME;
    error_ = nullptr;
    closing_ = false;
    if (RunningDialogs().empty())
        keyFilter = SetWindowsHookExA(WH_MSGFILTER, &KeyFilter, nullptr, GetCurrentThreadId());
    RunningDialogs().push_back(this);
    const INT_PTR result = DialogBoxIndirectParamA(kvThisModule(), &dialogTemplate.Header, owner,
                                                   &DialogProc, reinterpret_cast<LPARAM>(this));
    std::erase(RunningDialogs(), this);
    if (RunningDialogs().empty() && keyFilter != nullptr)
        UnhookWindowsHookEx(std::exchange(keyFilter, nullptr));
    handle_ = nullptr;
    placed_.clear();
    if (error_)
        std::rethrow_exception(std::exchange(error_, nullptr));
    if (result == -1)
        throw EkvError("Cannot create the dialog \"" + caption_ + "\"");
    return result;
}

void TkvDialog::EndModal(INT_PTR result) {
    if (closing_ || handle_ == nullptr)
        return;
    closing_ = true;
    try {
        FormClose(result);
    } catch (...) {
        if (!error_)
            error_ = std::current_exception();
    }
    EndDialog(handle_, result);
}

TkvDialog* TkvDialog::Innermost() {
    return RunningDialogs().empty() ? nullptr : RunningDialogs().back();
}

void TkvDialog::CancelAll() {
    // A copy: the list changes only when a loop unwinds, but EndModal runs foreign code.
    const std::vector<TkvDialog*> running = RunningDialogs();
    for (auto dialog = running.rbegin(); dialog != running.rend(); ++dialog)
        (*dialog)->EndModal(IDCANCEL);
}

HWND TkvDialog::AddControl(const TkvControlArgs& args) {
    const HWND control = CreateWindowExA(
        args.ExStyle, args.Class, args.Text, WS_CHILD | WS_VISIBLE | args.Style, 0, 0, 0, 0,
        handle_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(args.Id)), kvThisModule(), nullptr);
    if (control == nullptr)
        throw EkvError(std::string("Cannot create a control of class ") + args.Class);
    Arrange(control, args.Bounds, args.Font);
    return control;
}

void TkvDialog::Arrange(HWND control, TkvBounds bounds, TkvFontStyle font) {
    Place(placed_.emplace_back(TPlaced{control, bounds, font}));
}

void TkvDialog::Layout() {
    for (const TPlaced& placed : placed_)
        Place(placed);
}

void TkvDialog::Place(const TPlaced& placed) {
    // Each edge is scaled from its 96-DPI place, so controls that touch there touch here too.
    const TkvBounds& at = placed.Bounds;
    const int left = Scaled(at.X), top = Scaled(at.Y);
    SetWindowPos(placed.Control, nullptr, left, top, Scaled(at.X + at.Width) - left,
                 Scaled(at.Y + at.Height) - top, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageA(placed.Control, WM_SETFONT,
                 reinterpret_cast<WPARAM>(DialogFont(placed.Font, dpi_)), TRUE);
}

std::vector<HWND> TkvDialog::TabStops() const {
    struct TStop {
        HWND Control;
        RECT Bounds;
        int Row;
    };
    std::vector<TStop> stops;
    for (HWND child = GetWindow(handle_, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        // The style, not IsWindowVisible: the dialog itself is still hidden while it opens.
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if ((style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) != (WS_TABSTOP | WS_VISIBLE))
            continue;
        RECT bounds{};
        GetWindowRect(child, &bounds);
        stops.push_back({child, bounds, 0});
    }
    std::stable_sort(stops.begin(), stops.end(),
                     [](const TStop& a, const TStop& b) { return a.Bounds.top < b.Bounds.top; });
    int row = 0;
    for (std::size_t i = 0, rowStart = 0; i < stops.size(); ++i) {
        if (stops[i].Bounds.top - stops[rowStart].Bounds.top >= Scaled(kRowTolerance)) {
            rowStart = i;
            ++row;
        }
        stops[i].Row = row;
    }
    std::stable_sort(stops.begin(), stops.end(), [](const TStop& a, const TStop& b) {
        return std::tie(a.Row, a.Bounds.left, a.Bounds.top) <
               std::tie(b.Row, b.Bounds.left, b.Bounds.top);
    });
    std::vector<HWND> order;
    for (const TStop& stop : stops)
        order.push_back(stop.Control);
    return order;
}

HWND TkvDialog::FirstControl() {
    const std::vector<HWND> stops = TabStops();
    return stops.empty() ? nullptr : stops.front();
}

void TkvDialog::FocusControl(HWND control) {
    // Through the dialog manager, which also moves the default button and selects an edit's text.
    if (control != nullptr)
        SendMessageA(handle_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void TkvDialog::MoveFocus(bool back) {
    const std::vector<HWND> stops = TabStops();
    if (stops.empty())
        return;
    // The focus may lie in a part of a control, such as a combo box's edit.
    HWND focus = GetFocus();
    while (focus != nullptr && GetParent(focus) != handle_)
        focus = GetParent(focus);
    const auto at = std::find(stops.begin(), stops.end(), focus);
    const auto count = static_cast<std::ptrdiff_t>(stops.size());
    std::ptrdiff_t next = back ? count - 1 : 0;
    if (at != stops.end())
        next = ((at - stops.begin()) + (back ? count - 1 : 1)) % count;
    FocusControl(stops[static_cast<std::size_t>(next)]);
}

bool TkvDialog::PreviewKey(const MSG& message) {
    if (message.wParam != VK_TAB)
        return KeyDown(message.hwnd, message.wParam);
    const bool shift = GetKeyState(VK_SHIFT) < 0;
    if (GetKeyState(VK_CONTROL) < 0)
        return SwitchPage(shift);
    MoveFocus(shift);
    return true;
}

LRESULT CALLBACK TkvDialog::KeyFilter(int code, WPARAM wParam, LPARAM lParam) {
    // The modal loops of DialogBox and of message boxes hand every message here before the
    // dialog manager: the only place to see Tab and Enter before it acts on them.
    TkvDialog* dialog = Innermost();
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == MSGF_DIALOGBOX && dialog != nullptr && dialog->handle_ != nullptr &&
        message->message == WM_KEYDOWN &&
        (message->hwnd == dialog->handle_ || IsChild(dialog->handle_, message->hwnd))) {
        try {
            if (dialog->PreviewKey(*message))
                return 1;
        } catch (...) {
            try {
                dialog->HandleError(std::current_exception());
            } catch (...) {
                // Nothing more can be done for this key.
            }
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void TkvDialog::SetControlColors(HWND control, COLORREF text, COLORREF background) {
    TColors& colors = colors_[control];
    colors.Text = text;
    if (background != CLR_INVALID) {
        if (colors.Background != nullptr)
            DeleteObject(colors.Background);
        colors.Background = CreateSolidBrush(background);
    }
    InvalidateRect(control, nullptr, TRUE);
}

void TkvDialog::HandleError(std::exception_ptr error) {
    if (!error_)
        error_ = error;
    if (handle_ != nullptr && !closing_)
        EndModal(IDCANCEL);
}

INT_PTR CALLBACK TkvDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        reinterpret_cast<TkvDialog*>(lParam)->handle_ = window;
    }
    auto* dialog = reinterpret_cast<TkvDialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (dialog == nullptr)
        return FALSE;
    try {
        return dialog->Dispatch(message, wParam, lParam);
    } catch (...) {
        try {
            dialog->HandleError(std::current_exception());
        } catch (...) {
            // Nothing more can be done for this message.
        }
        return FALSE;
    }
}

INT_PTR TkvDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowTextA(handle_, caption_.c_str());
        dpi_ = dpiOverride != 0 ? dpiOverride : WindowDpi(handle_);
        RECT frame{0, 0, Scaled(clientWidth_), Scaled(clientHeight_)};
        AdjustWindowRectEx(&frame, GetWindowLongA(handle_, GWL_STYLE), FALSE,
                           GetWindowLongA(handle_, GWL_EXSTYLE));
        const int width = frame.right - frame.left, height = frame.bottom - frame.top;
        RECT work{};
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
        SetWindowPos(handle_, nullptr, work.left + (work.right - work.left - width) / 2,
                     work.top + (work.bottom - work.top - height) / 2, width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        FormCreate();
        FormShow();
        if (const HWND first = FirstControl()) {
            FocusControl(first);
            return FALSE;
        }
        return TRUE;
    }
    case kDpiChanged: {
        // Moved to a monitor of another scale in a host that follows each monitor's.
        dpi_ = HIWORD(wParam);
        Layout();
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(handle_, nullptr, suggested.left, suggested.top,
                     suggested.right - suggested.left, suggested.bottom - suggested.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        DpiChanged();
        return TRUE;
    }
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        Command(id, HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        // OK and Cancel buttons carry their modal result as their id; Enter without an OK
        // button does nothing, Esc always cancels.
        if ((id == IDOK && Control(IDOK) != nullptr && CanAccept()) || id == IDCANCEL)
            EndModal(id);
        return TRUE;
    }
    case WM_NOTIFY:
        SetWindowLongPtrA(handle_, DWLP_MSGRESULT, Notify(*reinterpret_cast<NMHDR*>(lParam)));
        return TRUE;
    case WM_TIMER:
        Timer(wParam);
        return TRUE;
    case WM_CLOSE:
        EndModal(IDCANCEL);
        return TRUE;
    case WM_CTLCOLORSTATIC: {
        const auto found = colors_.find(reinterpret_cast<HWND>(lParam));
        if (found == colors_.end())
            return FALSE;
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, found->second.Text);
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<INT_PTR>(found->second.Background != nullptr
                                             ? found->second.Background
                                             : GetSysColorBrush(COLOR_BTNFACE));
    }
    default: {
        LRESULT result = 0;
        if (!Message(message, wParam, lParam, result))
            return FALSE;
        SetWindowLongPtrA(handle_, DWLP_MSGRESULT, result);
        return TRUE;
    }
    }
}
