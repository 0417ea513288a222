// Every dialog at the display scales of today's laptops: each control's text fits inside it with
// the control's own font, and no control leaves its dialog or covers a sibling.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/hid_processor.h"
#include "hid/sim_test_support.h"
#include "sim/sim_bus.h"
#include "ui/frm_action_edit.h"
#include "ui/frm_config.h"
#include "ui/kv_dialog.h"
#include "ui/ui_ids.h"
#include "ui_driver.h"

namespace {

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string Describe(HWND control) {
    return ClassOf(control) + " " + std::to_string(GetDlgCtrlID(control)) + " \"" +
           WindowText(control) + "\"";
}

// The room the control's text needs, measured as the control draws it: with its font, and
// wrapped at its width where it wraps.
RECT TextExtent(HWND control, const std::string& text, UINT format, int width) {
    const HDC dc = GetDC(control);
    const HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT extent{0, 0, width, 0};
    DrawTextA(dc, text.c_str(), -1, &extent, format | DT_CALCRECT | DT_EXPANDTABS);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return extent;
}

// What does not fit in one control, or nothing.
std::string TextFault(HWND control, int dpi) {
    const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
    const std::string kind = ClassOf(control);
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    RECT room{};
    GetClientRect(control, &room);
    std::string text = WindowText(control);
    UINT format = DT_SINGLELINE;
    if (lstrcmpiA(kind.c_str(), "Static") == 0) {
        const LONG type = style & SS_TYPEMASK;
        if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT && type != SS_LEFTNOWORDWRAP)
            return {};
        if (type != SS_LEFTNOWORDWRAP)
            format = DT_WORDBREAK;
        if ((style & SS_NOPREFIX) != 0)
            format |= DT_NOPREFIX;
    } else if (lstrcmpiA(kind.c_str(), "Button") == 0) {
        const LONG type = style & BS_TYPEMASK;
        if (type == BS_GROUPBOX)
            return {};
        if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
            type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE)
            room.right -= scaled(13 + 4); // the box and the gap before the text
        else
            InflateRect(&room, -scaled(3), -scaled(2)); // the push button's frame
    } else if (lstrcmpiA(kind.c_str(), "Edit") == 0) {
        format |= DT_NOPREFIX;
        if ((style & ES_MULTILINE) != 0 || text.empty())
            text = "Ag"; // a line must show whole
    } else {
        return {};
    }
    if (text.empty())
        return {};
    const RECT need = TextExtent(control, text, format, room.right - room.left);
    if (need.right - need.left <= room.right - room.left &&
        need.bottom - need.top <= room.bottom - room.top)
        return {};
    return Describe(control) + " needs " + std::to_string(need.right - need.left) + "x" +
           std::to_string(need.bottom - need.top) + ", has " +
           std::to_string(room.right - room.left) + "x" + std::to_string(room.bottom - room.top);
}

// The visible controls of `dialog` whose text does not fit, that stick out of the client area or
// that overlap a sibling. The tab control lies under its pages' controls on purpose.
std::vector<std::string> LayoutFaults(HWND dialog, int dpi) {
    std::vector<std::string> faults;
    RECT client{};
    GetClientRect(dialog, &client);
    std::vector<std::pair<HWND, RECT>> placed;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child))
            continue;
        if (std::string fault = TextFault(child, dpi); !fault.empty())
            faults.push_back(fault);
        RECT bounds{};
        GetWindowRect(child, &bounds);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&bounds), 2);
        RECT inside{};
        IntersectRect(&inside, &bounds, &client);
        if (!EqualRect(&inside, &bounds))
            faults.push_back(Describe(child) + " lies outside the dialog");
        const bool underlay = ClassOf(child) == WC_TABCONTROLA ||
                              (GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
        if (underlay)
            continue;
        for (const auto& [other, otherBounds] : placed) {
            RECT common{};
            if (IntersectRect(&common, &bounds, &otherBounds))
                faults.push_back(Describe(child) + " overlaps " + Describe(other));
        }
        placed.emplace_back(child, bounds);
    }
    return faults;
}

void ShowTab(HWND dialog, int position) {
    const HWND pages = GetDlgItem(dialog, idPages);
    SendMessageA(pages, TCM_SETCURSEL, position, 0);
    NMHDR header{pages, static_cast<UINT_PTR>(idPages), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageA(dialog, WM_NOTIFY, idPages, reinterpret_cast<LPARAM>(&header));
}

class DialogLayout : public testing::TestWithParam<int> {
protected:
    DialogLayout() {
        bus_.AddDevice(TSimDevice{});
        SetDialogDpiOverride(GetParam());
    }
    ~DialogLayout() override { SetDialogDpiOverride(0); }
    void Check(HWND dialog, const std::string& where) {
        for (const std::string& fault : LayoutFaults(dialog, GetParam()))
            ADD_FAILURE() << where << " at " << GetParam() << " DPI: " << fault;
    }
    TBindingReset reset_;
    TSimBus bus_;
};

TEST_P(DialogLayout, EveryTextFitsAndNoControlLeavesItsPlace) {
    THidProcessor engine;
    TfmConfig config(engine);
    TWatchdog watchdog(60000, "the dialogs");
    std::thread user([&] {
        const HWND dialog = WaitForDialog("HID Plugin - " TRELVON_MAKER_NAME);
        ASSERT_NE(dialog, nullptr);
        Check(dialog, "Simple page");
        Click(dialog, idMore);
        PumpUntil([&] { return IsWindowVisible(GetDlgItem(dialog, idActions)) != FALSE; });
        Check(dialog, "Extended page");
        Click(dialog, idAdd);
        if (const HWND edit = WaitForDialog("Action")) {
            Check(edit, "Action dialog");
            PostMessageA(edit, WM_COMMAND, IDCANCEL, 0);
            WaitGone(edit);
        } else {
            ADD_FAILURE() << "no Action dialog";
        }
        SendDlgItemMessageA(dialog, idAboutTitle, WM_LBUTTONDBLCLK, 0, 0);
        ShowTab(dialog, 1);
        Check(dialog, "HID page");
        ShowTab(dialog, 2);
        Check(dialog, "About page");
        ShowTab(dialog, 1);
        Click(dialog, idAutodetect);
        if (const HWND learning = WaitForDialog("Detection an active HID")) {
            Check(learning, "Learning dialog");
            PostMessageA(learning, WM_COMMAND, IDCANCEL, 0);
            WaitGone(learning);
        } else {
            ADD_FAILURE() << "no learning dialog";
        }
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    config.ShowModal(nullptr);
    user.join();
}

// Moved to a monitor of another scale in a host that follows each monitor's, a dialog lays itself
// out again for it and takes the place Windows suggests.
TEST(DialogDpiChange, LaysTheDialogOutAgainAtTheNewDpi) {
    SetDialogDpiOverride(96);
    TfmActionEdit edit;
    std::thread user([&] {
        const HWND dialog = WaitForDialog("Action");
        ASSERT_NE(dialog, nullptr);
        RECT suggested{};
        GetWindowRect(dialog, &suggested);
        suggested.right = suggested.left + MulDiv(suggested.right - suggested.left, 3, 2);
        suggested.bottom = suggested.top + MulDiv(suggested.bottom - suggested.top, 3, 2);
        SendMessageA(dialog, 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144),
                     reinterpret_cast<LPARAM>(&suggested));
        RECT now{}, ok{};
        GetWindowRect(dialog, &now);
        EXPECT_TRUE(EqualRect(&now, &suggested));
        GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
        EXPECT_EQ(ok.right - ok.left, 113); // 75 at 96 DPI
        for (const std::string& fault : LayoutFaults(dialog, 144))
            ADD_FAILURE() << "after the change to 144 DPI: " << fault;
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    edit.ShowModal(nullptr);
    user.join();
    SetDialogDpiOverride(0);
}

INSTANTIATE_TEST_SUITE_P(DisplayScales, DialogLayout, testing::Values(96, 120, 144, 192));

} // namespace
