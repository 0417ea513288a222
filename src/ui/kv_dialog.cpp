#include "ui/kv_dialog.h"

#include <commctrl.h>

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
    std::map<int, HFONT> Fonts;
};

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

HFONT DialogFont(bool bold, int points) {
    static TFontCache cache;
    const int key = points * 2 + (bold ? 1 : 0);
    HFONT& font = cache.Fonts[key];
    if (font == nullptr) {
        const HDC screen = GetDC(nullptr);
        const int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
        ReleaseDC(nullptr, screen);
        font = CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "MS Sans Serif");
    }
    return font;
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
    RunningDialogs().push_back(this);
    const INT_PTR result = DialogBoxIndirectParamA(kvThisModule(), &dialogTemplate.Header, owner,
                                                   &DialogProc, reinterpret_cast<LPARAM>(this));
    std::erase(RunningDialogs(), this);
    handle_ = nullptr;
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
        args.ExStyle, args.Class, args.Text, WS_CHILD | WS_VISIBLE | args.Style, args.Bounds.X,
        args.Bounds.Y, args.Bounds.Width, args.Bounds.Height, handle_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(args.Id)), kvThisModule(), nullptr);
    if (control == nullptr)
        throw EkvError(std::string("Cannot create a control of class ") + args.Class);
    SendMessageA(control, WM_SETFONT,
                 reinterpret_cast<WPARAM>(args.Font != nullptr ? args.Font : DialogFont()), 0);
    return control;
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
        RECT frame{0, 0, clientWidth_, clientHeight_};
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
