#pragma once
// Drives dialogs from a second thread through window messages, as a user would, while the
// dialog runs modally on the test's main thread.
#include <windows.h>
#include <commctrl.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/win_test_support.h"

// A dialog of this process with `caption`, once it is visible; null after timeoutMs.
inline HWND WaitForDialog(const std::string& caption, DWORD timeoutMs = 5000) {
    HWND found = nullptr;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        found = FindWindowA("#32770", caption.c_str());
        if (found != nullptr && IsWindowVisible(found))
            return found;
        Sleep(20);
    }
    return nullptr;
}

// Waits until the dialog has gone.
inline bool WaitGone(HWND dialog, DWORD timeoutMs = 5000) {
    const DWORD start = GetTickCount();
    while (IsWindow(dialog)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

inline std::string WindowText(HWND window) {
    char text[1024] = {};
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

inline std::string ItemText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

// Posted, since the click may open a modal dialog of its own.
inline void Click(HWND dialog, int id) {
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// Picks an item of a drop-down list as the user does: selection, then the change notice.
inline void PickItem(HWND dialog, int id, int index) {
    const HWND box = GetDlgItem(dialog, id);
    SendMessageA(box, CB_SETCURSEL, index, 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
}

inline std::vector<std::string> ComboItems(HWND dialog, int id) {
    const HWND box = GetDlgItem(dialog, id);
    std::vector<std::string> items;
    const auto count = SendMessageA(box, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[512] = {};
        SendMessageA(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        items.emplace_back(text);
    }
    return items;
}

inline int ComboSelection(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}

// The rows of a report-style list view, columns joined by " | ".
inline std::vector<std::string> ListRows(HWND dialog, int id, int columns) {
    const HWND list = GetDlgItem(dialog, id);
    std::vector<std::string> rows;
    const auto count = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    for (LRESULT row = 0; row < count; ++row) {
        std::string line;
        for (int column = 0; column < columns; ++column) {
            char text[512] = {};
            LVITEMA item{};
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
            line += (column == 0 ? "" : " | ") + std::string(text);
        }
        rows.push_back(line);
    }
    return rows;
}

// Presses `key` with `held` (VK_CONTROL, VK_SHIFT, VK_MENU) held down, through the system's input
// queue as a keyboard does, so that the key state the dialog manager reads is real.
inline void PressKey(WORD key, std::initializer_list<WORD> held = {}) {
    std::vector<INPUT> inputs;
    const auto add = [&](WORD virtualKey, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = virtualKey;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    for (const WORD modifier : held)
        add(modifier, false);
    add(key, false);
    add(key, true);
    for (auto modifier = held.end(); modifier != held.begin();)
        add(*--modifier, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// The control id of the focus in `window`'s thread, 0 for none.
inline int FocusedId(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus != nullptr ? GetDlgCtrlID(info.hwndFocus) : 0;
}
