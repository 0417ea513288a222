// Renders every page and dialog of the configuration UI into BMP files, for the README's
// screenshots (scripts/screenshots converts them to PNG). Runs the real plug-in in the player
// stand-in on the simulated bus, as the UI tests do: ui_screenshots <output folder> [suffix].
// With a suffix, the stand-in is a DPI-aware host, so the dialogs show at the display's own
// scale (the prefix's LogPixels), and every file name ends with the suffix.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/hid_processor.h"
#include "host/host_log.h"
#include "host/host_plugin.h"
#include "host/player_window.h"
#include "shell/test_files.h"
#include "sim/sim_bus.h"
#include "ui/ui_ids.h"
#include "ui_driver.h"

namespace {

std::string folder;
std::string suffix;

// What a DPI-aware player does at its start; the call is missing before Vista.
void BecomeDpiAware() {
    using TSetProcessDPIAware = BOOL(WINAPI*)();
    if (const auto setAware = reinterpret_cast<TSetProcessDPIAware>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware"))))
        setAware();
}

// The window as it is on the screen, with `also` (a dropped-down list, say) when given, as a
// 24-bit BMP file.
void Capture(HWND window, const std::string& name, HWND also = nullptr) {
    Sleep(300); // let it paint
    RECT frame{};
    GetWindowRect(window, &frame);
    if (also != nullptr) {
        RECT extra{};
        GetWindowRect(also, &extra);
        UnionRect(&frame, &frame, &extra);
    }
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info),
                                            DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = (width * 3 + 3) & ~3u;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + stride * height;
    std::ofstream out(folder + "\\" + name + suffix + ".bmp", std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(static_cast<const char*>(bits), stride * height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::printf("%s%s\n", name.c_str(), suffix.c_str());
}

void ShowTab(HWND dialog, int position) {
    const HWND pages = GetDlgItem(dialog, idPages);
    SendMessageA(pages, TCM_SETCURSEL, position, 0);
    NMHDR header{pages, static_cast<UINT_PTR>(idPages), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageA(dialog, WM_NOTIFY, idPages, reinterpret_cast<LPARAM>(&header));
}

void Tour(TSimBus& bus, HWND dialog) {
    Capture(dialog, "config_simple");

    Click(dialog, idSimpleButton + 6); // Volume Up
    const HWND learning = WaitForDialog("HID Action: Volume Up");
    Sleep(1500);
    Capture(learning, "learning");
    // A remote with a toggle bit: the second press sends other bytes.
    const auto release = [&] {
        PumpUntil([&] {
            return ItemText(learning, idActionMessage).find("RELEASE") != std::string::npos;
        });
        bus.SendInput(1, {1, 0x00});
    };
    bus.SendInput(1, {1, 0xE9});
    release();
    PumpUntil([&] { return ItemText(learning, idActionMessage) == "Press the same button again"; });
    Sleep(1200);
    Capture(learning, "learning_again");
    bus.SendInput(1, {1, 0xE9, 0x80});
    release();
    PumpUntil([&] {
        return ItemText(learning, idActionMessage).find("alternating") != std::string::npos;
    });
    Capture(learning, "learning_alternating");
    WaitGone(learning);

    Click(dialog, idMore);
    Sleep(300);
    LVITEMA state{};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendDlgItemMessageA(dialog, idActions, LVM_SETITEMSTATE, 4, reinterpret_cast<LPARAM>(&state));
    Capture(dialog, "config_extended");

    Click(dialog, idEdit);
    const HWND edit = WaitForDialog("Action");
    Capture(edit, "action_edit");
    // Every command a button can have, in the order the list offers them.
    SendDlgItemMessageA(edit, idEditPlayerAction, CB_SHOWDROPDOWN, TRUE, 0);
    COMBOBOXINFO commands{};
    commands.cbSize = sizeof commands;
    GetComboBoxInfo(GetDlgItem(edit, idEditPlayerAction), &commands);
    SendMessageA(commands.hwndList, LB_SETTOPINDEX, 0, 0);
    Capture(edit, "action_commands", commands.hwndList);
    SendDlgItemMessageA(edit, idEditPlayerAction, CB_SHOWDROPDOWN, FALSE, 0);
    Click(edit, IDCANCEL);
    WaitGone(edit);

    ShowTab(dialog, 1); // About: the HID page is hidden
    Capture(dialog, "config_about");

    SendDlgItemMessageA(dialog, idAboutTitle, WM_LBUTTONDBLCLK, 0, 0);
    ShowTab(dialog, 1);
    SendDlgItemMessageA(dialog, idHidOpen, BM_CLICK, 0, 0);
    bus.WaitForConnections(1, 1, std::chrono::milliseconds(3000));
    bus.SendInput(1, {1, 0x00, 0x05});
    bus.SendInput(1, {1, 0xE9, 0x00}, std::chrono::milliseconds(100));
    Sleep(500);
    Capture(dialog, "config_hid");
    SendDlgItemMessageA(dialog, idHidOpen, BM_CLICK, 0, 0);
    PickItem(dialog, idDeviceBox, 1); // the keyboard
    SendDlgItemMessageA(dialog, idDeviceBox, CB_SHOWDROPDOWN, TRUE, 0);
    Sleep(500);
    Capture(dialog, "config_hid_keyboard");
    SendDlgItemMessageA(dialog, idDeviceBox, CB_SHOWDROPDOWN, FALSE, 0);

    Click(dialog, IDCANCEL);
}

} // namespace

int main(int argc, char** argv) {
    folder = argc > 1 ? argv[1] : ".";
    suffix = argc > 2 ? argv[2] : "";
    if (!suffix.empty())
        BecomeDpiAware();
    TSimBus bus;
    TSimDevice remote;
    remote.Product = L"Living Room Remote";
    remote.ButtonCaps[HidP_Input] = {TSimBus::ButtonRange(0x0c, 1, 16)};
    remote.ValueCaps[HidP_Input] = {TSimBus::Value(0x0c, 0xE9, 8)};
    remote.ButtonCaps[HidP_Output] = {TSimBus::ButtonRange(0x08, 1, 3)};
    bus.AddDevice(remote);
    TSimDevice second;
    second.Product = L"Media Keyboard";
    second.UsagePage = 0x01; // a keyboard to Windows
    second.Usage = 0x06;
    bus.AddDevice(second);

    const std::string settings = THidProcessor().DefaultSettingsPath();
    std::ofstream(settings, std::ios::binary)
        << "HidIndex=0\r\nMode=0\r\nAction00=B1A2B3C4DFFFFFFFF0\r\nAction01=C0F1E2D3CFFFFFFFF0\r\n"
           "Action02=NFFFFFFFFFFFFFFFF-1\r\n";
    THostLog log;
    TPlayerWindow player(log);
    {
        THostPlugin plugin(TestFile("gen_trelvon.dll"), player.Handle());
        std::thread user([&] {
            if (const HWND dialog = WaitForDialog("HID Plugin - " TRELVON_MAKER_NAME))
                Tour(bus, dialog);
        });
        plugin.Config();
        user.join();
    }
    DeleteFileA(settings.c_str());
    return 0;
}
