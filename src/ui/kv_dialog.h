#pragma once
#include <windows.h>

#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The dialogs' font, MS Sans Serif: plain 8 pt, bold, or bold at another size.
struct TkvFontStyle {
    bool Bold = false;
    int Points = 8;
};
// The font for a dialog shown at `dpi`; it lives as long as the module.
HFONT DialogFont(TkvFontStyle style, int dpi);

// The DPI a window is shown at: GetDpiForWindow where the system has it (not on XP), else the
// screen's LOGPIXELSY.
int WindowDpi(HWND window);
// Every dialog opened from now on is laid out for `dpi` instead of its window's own; 0 ends it.
// Lets tests see the dialogs at display scales the test machine does not have.
void SetDialogDpiOverride(int dpi);

// A place in a dialog's client area, in pixels of the dialog at 96 DPI.
struct TkvBounds {
    int X, Y, Width, Height;
};

// What AddControl creates: a child window of a class at a position of the client area.
struct TkvControlArgs {
    const char* Class;
    const char* Text = "";
    DWORD Style = 0; // WS_CHILD and WS_VISIBLE are always added
    TkvBounds Bounds{};
    int Id = 0;
    TkvFontStyle Font{};
    DWORD ExStyle = 0;
};

// A modal dialog whose controls are created in code. Positions and sizes are given as at 96 DPI
// and scaled once to the window's DPI, font included, so the dialog reads the same at every
// display scale; WM_DPICHANGED lays it out again. The dialog manager still runs the modal loop,
// so Enter reaches the default button (IDOK), Esc and the frame's close box reach IDCANCEL, and
// Alt+letter reaches the control with that underlined letter. Tab and Shift+Tab go through the
// visible controls in reading order, Ctrl+Tab and Ctrl+Shift+Tab switch pages where there are.
//
// No exception leaves the dialog procedure: one raised while the dialog runs is kept, the
// dialog ends, and ShowModal raises it again in the caller, unless HandleError deals with it.
class TkvDialog {
public:
    virtual ~TkvDialog();
    TkvDialog(const TkvDialog&) = delete;
    TkvDialog& operator=(const TkvDialog&) = delete;

    // Runs the dialog owned by `owner` (may be null) and returns its modal result.
    INT_PTR ShowModal(HWND owner);
    HWND Handle() const { return handle_; }
    // Ends the modal loop with `result` after FormClose has run.
    void EndModal(INT_PTR result);
    // The innermost dialog of this module that is running, or none.
    static TkvDialog* Innermost();
    // Ends every running dialog of this module as Cancel would, the innermost first, so that
    // each one's FormClose has run before its owner's does.
    static void CancelAll();
    HWND Control(int id) const { return GetDlgItem(handle_, id); }

protected:
    TkvDialog(std::string caption, int clientWidth, int clientHeight, bool toolWindow = false);

    HWND AddControl(const TkvControlArgs& args);
    // Places a control created elsewhere as AddControl places its own, now and at each new DPI.
    void Arrange(HWND control, TkvBounds bounds, TkvFontStyle font = {});
    int Dpi() const { return dpi_; }
    // Pixels at 96 DPI in pixels of this dialog.
    int Scaled(int pixels) const { return MulDiv(pixels, dpi_, 96); }
    // Text colour of a static control (labels, check boxes, read-only edits), and its
    // background; CLR_INVALID keeps the background set before, or the dialog's own.
    void SetControlColors(HWND control, COLORREF text, COLORREF background = CLR_INVALID);
    void SetCaption(const std::string& text) { SetWindowTextA(handle_, text.c_str()); }

    // WM_INITDIALOG: create the controls, then show.
    virtual void FormCreate() = 0;
    virtual void FormShow() {}
    // Runs once however the dialog ends, before it is destroyed.
    virtual void FormClose(INT_PTR) {}
    virtual void Command(int, int, HWND) {}
    // OK ends the dialog only when this agrees; a refusal says why itself.
    virtual bool CanAccept() { return true; }
    virtual LRESULT Notify(const NMHDR&) { return 0; }
    // After the controls have been laid out at a new DPI: for what sizes itself in pixels.
    virtual void DpiChanged() {}
    // The control that has the focus when the dialog opens; none: the first in reading order.
    virtual HWND FirstControl();
    // A key pressed in the dialog before the dialog manager sees it; true when handled.
    virtual bool KeyDown(HWND, WPARAM) { return false; }
    // Ctrl+Tab (or with Shift, `back`); true when the dialog has pages and switched.
    virtual bool SwitchPage(bool) { return false; }
    // The visible, enabled controls that Tab stops at, in reading order: by rows, then left to
    // right.
    std::vector<HWND> TabStops() const;
    void FocusControl(HWND control);
    virtual void Timer(UINT_PTR) {}
    // Any other message; true when handled, with its result.
    virtual bool Message(UINT, WPARAM, LPARAM, LRESULT&) { return false; }
    // The default keeps the error for ShowModal and ends the dialog.
    virtual void HandleError(std::exception_ptr error);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK KeyFilter(int code, WPARAM wParam, LPARAM lParam);
    bool PreviewKey(const MSG& message);
    void MoveFocus(bool back);
    // Every control placed again at dpi_, as on a DPI change.
    void Layout();
    struct TPlaced {
        HWND Control;
        TkvBounds Bounds;
        TkvFontStyle Font;
    };
    void Place(const TPlaced& placed);
    struct TColors {
        COLORREF Text;
        HBRUSH Background;
    };
    std::string caption_;
    int clientWidth_, clientHeight_;
    bool toolWindow_;
    HWND handle_ = nullptr;
    bool closing_ = false;
    std::exception_ptr error_;
    std::map<HWND, TColors> colors_;
    int dpi_ = 96;
    std::vector<TPlaced> placed_;
};
