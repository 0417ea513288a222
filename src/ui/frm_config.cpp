#include "ui/frm_config.h"

#include <shellapi.h>

#include <cstdio>
#include <string>

#include "hid/kv_win32.h"
#include "shell/file_version.h"
#include "ui/action_icons.h"
#include "ui/frm_action_edit.h"
#include "ui/frm_hid_action.h"
#include "ui/ui_ids.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

constexpr UINT kPortMessage = WM_APP + 20;
// A link label tells its dialog that the mouse entered (wParam 1) or left (0) it.
constexpr UINT kLinkHoverMessage = WM_APP + 21;

constexpr COLORREF kLinkColor = RGB(0, 0, 255);
constexpr COLORREF kLinkHoverColor = RGB(255, 255, 0);

constexpr char kNotDefined[] = "Not defined. Click button for change";
constexpr char kAssigned[] = "Assigned. Click button for change";

// The Simple page's commands: button caption and the action type it stands for.
struct TSimpleCommand {
    const char* Caption;
    std::uint8_t Type;
};
constexpr TSimpleCommand kSimpleCommands[] = {
    {"Play/Pause", atPlayPause}, {"Next Track", atNext},        {"Prev Track", atPrevious},
    {"Volume Up", atVolumeUp},   {"Volume Down", atVolumeDown}, {"Mute", atMute}};

constexpr const char* kPageCaptions[] = {"Registered Actions", "Actions (Extended Mode)",
                                         "HID Info", "A&bout"};

// The capability groups of the HID tree: root text, child text, kind, and whether the records
// are button records.
struct TCapsGroup {
    const char* Root;
    const char* Child;
    std::int32_t Kind;
    bool Buttons;
};
constexpr TCapsGroup kCapsGroups[] = {
    {"Input Buttons", "Input Button ", hckInputButton, true},
    {"Input Values", "Input Values ", hckInputValue, false},
    {"Output Buttons", "Output Button ", hckOutputButton, true},
    {"Output Values", "Output Values ", hckOutputValue, false},
    {"Feature Buttons", "Feature Button ", hckFeatureButton, true},
    {"Feature Values", "Feature Values ", hckFeatureValue, false}};

std::string Format(const char* format, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string TrueFalse(bool value) {
    return value ? "True" : "False";
}

std::string UsagePageText(unsigned page) {
    return Format("%.4X", page) + " (" + UsagePageName(static_cast<std::uint16_t>(page)) + ")";
}

std::string ModuleFileName() {
    char name[MAX_PATH + 1] = {};
    const DWORD length =
        GetModuleFileNameA(reinterpret_cast<HINSTANCE>(&__ImageBase), name, MAX_PATH);
    return std::string(name, length < MAX_PATH ? length : 0);
}

// Link labels: hand cursor, and a notice to the dialog when the mouse comes and goes.
LRESULT CALLBACK LinkProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_SETCURSOR:
        SetCursor(LoadCursor(nullptr, IDC_HAND));
        return TRUE;
    case WM_MOUSEMOVE:
        if (GetPropA(window, "kvHover") == nullptr) {
            SetPropA(window, "kvHover", window);
            TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, window, 0};
            TrackMouseEvent(&track);
            SendMessageA(GetParent(window), kLinkHoverMessage, 1, reinterpret_cast<LPARAM>(window));
        }
        break;
    case WM_MOUSELEAVE:
        RemovePropA(window, "kvHover");
        SendMessageA(GetParent(window), kLinkHoverMessage, 0, reinterpret_cast<LPARAM>(window));
        break;
    case WM_NCDESTROY:
        RemovePropA(window, "kvHover");
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
        break;
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

// The colour in the middle of a tab control's page area, as the control paints it.
COLORREF PageColor(HWND tabs) {
    RECT page{};
    GetClientRect(tabs, &page);
    const HDC screen = GetDC(tabs);
    const HDC memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, page.right, page.bottom);
    ReleaseDC(tabs, screen);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    FillRect(memory, &page, GetSysColorBrush(COLOR_BTNFACE));
    SendMessageA(tabs, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory),
                 PRF_CLIENT | PRF_ERASEBKGND);
    const COLORREF color = GetPixel(memory, page.right / 2, page.bottom - 8);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return color == CLR_INVALID ? GetSysColor(COLOR_BTNFACE) : color;
}

void OpenInBrowser(HWND owner, const char* address) {
    ShellExecuteA(owner, "open", address, nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace

TfmConfig::TfmConfig(THidProcessor& engine)
    : TkvDialog(std::string("HID Plugin - ") + TRELVON_MAKER_NAME, 480, 279), Engine(engine),
      kvHid1_(std::make_unique<TkvHid>()) {
    kvHid1_->SetSharedMode(true);
    kvHid1_->SetTerminalUsage(tuNone);
    kvHid1_->SetTerminalEcho(false);
    kvHid1_->SetDeviceIndex(0);
    kvHid1_->OnClose = [this](TkvBaseIO*) {
        if (portReports_)
            portReports_->PushClose();
    };
    kvHid1_->OnAfterReceive = [this](TkvBaseIO*, const void* buffer, std::uint32_t count) {
        if (portReports_)
            portReports_->PushReport(buffer, count);
    };
}

TfmConfig::~TfmConfig() {
    kvDeviceBox1_.reset();
    kvHid1_.reset();
    if (img16_ != nullptr)
        ImageList_Destroy(img16_);
}

void RunConfigDialog(THidProcessor& engine, HWND owner) {
    TfmConfig dialog(engine);
    dialog.ShowModal(owner);
}

// --- layout ---

HWND TfmConfig::AddPageControl(TPage page, const char* windowClass, const char* text, DWORD style,
                               int x, int y, int width, int height, int id, HFONT font,
                               DWORD exStyle) {
    const HWND control =
        AddControl(windowClass, text, style, x, y, width, height, id, font, exStyle);
    pageControls_[page].push_back(control);
    return control;
}

HWND TfmConfig::AddLink(TPage page, const char* text, int x, int y, int width, int height, int id,
                        HFONT font) {
    const HWND link = page == kPageCount ? AddControl("STATIC", text, SS_LEFT | SS_NOTIFY, x, y,
                                                      width, height, id, font)
                                         : AddPageControl(page, "STATIC", text, SS_LEFT | SS_NOTIFY,
                                                          x, y, width, height, id, font);
    SetControlColors(link, kLinkColor);
    SetWindowLongPtrA(link, GWLP_USERDATA,
                      SetWindowLongPtrA(link, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LinkProc)));
    return link;
}

void TfmConfig::FormCreate() {
    img16_ = CreateActionImageList();
    // At the bottom of the z-order, so that it never paints over the pages' controls.
    const HWND pages =
        AddControl(WC_TABCONTROLA, "", WS_TABSTOP | WS_CLIPSIBLINGS, 4, 4, 472, 241, idPages);
    for (int page = 0; page < kPageCount; ++page) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(kPageCaptions[page]);
        SendMessageA(pages, TCM_INSERTITEMA, page, reinterpret_cast<LPARAM>(&item));
    }
    pageColor_ = PageColor(pages);
    CreateSimplePage();
    CreateExtendedPage();
    CreateHidPage();
    CreateAboutPage();
    AddLink(kPageCount, "Powered by kvLink Lib", 8, 258, 200, 13, idPowered, DialogFont(true));
    AddControl("BUTTON", "&OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 316, 250, 75, 25, IDOK);
    AddControl("BUTTON", "&Cancel", WS_TABSTOP | BS_PUSHBUTTON, 398, 250, 75, 25, IDCANCEL);
    SetWindowPos(pages, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RenewPortReports();
    created_ = true;
}

void TfmConfig::CreateSimplePage() {
    for (int i = 0; i < 6; ++i) {
        const int y = 44 + i * 30;
        AddPageControl(pgActions, "BUTTON", kSimpleCommands[i].Caption, WS_TABSTOP, 24, y, 100, 25,
                       idSimpleButton + 2 * i);
        AddPageControl(pgActions, "STATIC", "Not defined (click button for change)", SS_LEFT, 136,
                       y + 6, 320, 13, idSimpleButton + 2 * i + 1);
    }
    AddPageControl(pgActions, "BUTTON", "Extended >>", WS_TABSTOP | BS_OWNERDRAW, 372, 206, 92, 25,
                   idMore, DialogFont(true));
}

void TfmConfig::CreateExtendedPage() {
    const HWND list = AddPageControl(pgActionsExt, WC_LISTVIEWA, "",
                                     WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                         LVS_NOSORTHEADER,
                                     16, 36, 346, 196, idActions, nullptr, WS_EX_CLIENTEDGE);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(img16_));
    RECT client{};
    GetClientRect(list, &client);
    const char* captions[] = {"Action", "State", "Device"};
    const int widths[] = {98, 72, client.right - 98 - 72};
    for (int column = 0; column < 3; ++column) {
        LVCOLUMNA info{};
        info.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        info.pszText = const_cast<char*>(captions[column]);
        info.cx = widths[column];
        info.iSubItem = column;
        SendMessageA(list, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&info));
    }
    AddPageControl(pgActionsExt, "BUTTON", "&Add ...", WS_TABSTOP, 372, 36, 92, 25, idAdd);
    AddPageControl(pgActionsExt, "BUTTON", "&Edit ...", WS_TABSTOP, 372, 66, 92, 25, idEdit);
    AddPageControl(pgActionsExt, "BUTTON", "&Delete", WS_TABSTOP, 372, 96, 92, 25, idDelete);
    AddPageControl(pgActionsExt, "BUTTON", "<< Simple mode", WS_TABSTOP, 372, 206, 92, 25,
                   idSimple);
    // The buttons' hints.
    const HWND tips =
        CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                        reinterpret_cast<HINSTANCE>(&__ImageBase), nullptr);
    const std::pair<int, const char*> hints[] = {{idAdd, "Add new action ..."},
                                                 {idEdit, "Change selected action ..."},
                                                 {idDelete, "Delete selected action"}};
    for (const auto& [id, hint] : hints) {
        TOOLINFOA tool{};
        tool.cbSize = TTTOOLINFOA_V1_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = Handle();
        tool.uId = reinterpret_cast<UINT_PTR>(Control(id));
        tool.lpszText = const_cast<char*>(hint);
        SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void TfmConfig::CreateHidPage() {
    AddPageControl(pgHid, "STATIC", "Active HID device:", SS_LEFT, 16, 40, 96, 13, idHidLabel);
    kvDeviceBox1_ =
        std::make_unique<TkvDeviceBox>(Handle(), idDeviceBox, 112, 36, 256, 200, DialogFont());
    pageControls_[pgHid].push_back(kvDeviceBox1_->Handle());
    kvDeviceBox1_->SetResetOnChanged(false);
    kvDeviceBox1_->SetkvLink(kvHid1_.get());
    kvDeviceBox1_->OnChange = [this](TkvDeviceBox*) { kvDeviceBox1Change(); };
    AddPageControl(pgHid, "BUTTON", "Autodetect", WS_TABSTOP, 380, 35, 84, 23, idAutodetect);
    AddPageControl(pgHid, WC_TREEVIEWA, "",
                   WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                   16, 66, 121, 81, idHidTree, nullptr, WS_EX_CLIENTEDGE);
    const HWND info = AddPageControl(pgHid, WC_LISTVIEWA, "",
                                     WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_NOSORTHEADER,
                                     144, 66, 320, 81, idHidInfo, nullptr, WS_EX_CLIENTEDGE);
    SendMessageA(info, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    RECT client{};
    GetClientRect(info, &client);
    const char* captions[] = {"Property", "Value"};
    const int widths[] = {100, client.right - 100 - GetSystemMetrics(SM_CXVSCROLL)};
    for (int column = 0; column < 2; ++column) {
        LVCOLUMNA info_column{};
        info_column.mask = LVCF_TEXT | LVCF_WIDTH;
        info_column.pszText = const_cast<char*>(captions[column]);
        info_column.cx = widths[column];
        SendMessageA(info, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&info_column));
    }
    AddPageControl(pgHid, "BUTTON", "Open selected HID device and show HID reports",
                   WS_TABSTOP | BS_AUTOCHECKBOX, 16, 152, 300, 17, idHidOpen);
    AddPageControl(pgHid, "EDIT", "",
                   WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 16, 172,
                   448, 62, idHidReports, nullptr, WS_EX_CLIENTEDGE);
}

void TfmConfig::CreateAboutPage() {
    AddPageControl(pgAbout, "STATIC", "HID Plugin", SS_LEFT | SS_NOTIFY, 24, 40, 300, 28,
                   idAboutTitle, DialogFont(true, 16));
    AddPageControl(pgAbout, "STATIC", "", SS_LEFT, 24, 74, 420, 28, idAboutVersion);
    AddPageControl(pgAbout, "STATIC", "Latest version and support here:", SS_LEFT, 24, 116, 300, 13,
                   idAboutSupport);
    AddLink(pgAbout, TRELVON_PLUGIN_URL, 24, 132, 420, 13, idAboutLink, DialogFont());
    AddPageControl(pgAbout, "STATIC",
                   "Made by " TRELVON_MAKER_NAME ".\r\nQuestions, ideas and error reports are "
                   "welcome on the web page above.",
                   SS_LEFT, 24, 164, 420, 28, idAboutContact);
}

// --- pages and modes ---

void TfmConfig::UpdateTabs() {
    const HWND pages = Control(idPages);
    SendMessageA(pages, TCM_DELETEALLITEMS, 0, 0);
    if (!pageVisible_[activePage_])
        activePage_ = pageVisible_[pgActions] ? pgActions : pgActionsExt;
    int position = 0;
    for (int page = 0; page < kPageCount; ++page) {
        if (!pageVisible_[page])
            continue;
        TCITEMA item{};
        item.mask = TCIF_TEXT | TCIF_PARAM;
        item.pszText = const_cast<char*>(kPageCaptions[page]);
        item.lParam = page;
        SendMessageA(pages, TCM_INSERTITEMA, position, reinterpret_cast<LPARAM>(&item));
        if (page == activePage_)
            SendMessageA(pages, TCM_SETCURSEL, position, 0);
        ++position;
    }
    ShowPage(activePage_);
}

void TfmConfig::ShowPage(TPage page) {
    activePage_ = page;
    for (int each = 0; each < kPageCount; ++each)
        for (const HWND control : pageControls_[each])
            ShowWindow(control, each == page ? SW_SHOW : SW_HIDE);
    if (page == pgActionsExt)
        RefreshActionList();
}

void TfmConfig::ShowMode(bool extended) {
    pageVisible_[pgActions] = !extended;
    pageVisible_[pgActionsExt] = extended;
    activePage_ = extended ? pgActionsExt : pgActions;
    UpdateTabs();
}

// --- show and close ---

void TfmConfig::FormShow() {
    actions_.AssignActions(Engine);
    unopened_ = Engine.UnopenedDevices();
    kvHid1_->SetDeviceIndex(Engine.DeviceIndex());
    ShowMode(Engine.ExtendedMode());
    pageVisible_[pgHid] = false;
    UpdateTabs();
    kvDeviceBox1Change();
    RefreshSimpleLabels();
    // The labels have just added the Simple commands that were missing; the list shows them too.
    if (activePage_ == pgActionsExt)
        RefreshActionList();
    const std::string version =
        "v." + FileVersionText(ModuleFileName()) + "\r\nFree software by " TRELVON_MAKER_NAME;
    SetDlgItemTextA(Handle(), idAboutVersion, version.c_str());
}

void TfmConfig::FormClose(INT_PTR result) {
    // The port's monitoring thread ends before the queue it writes to.
    kvHid1_->SetActive(false);
    kvHid1_->JoinThread();
    portReports_.reset();
    if (result != IDOK)
        return;
    Engine.SetDeviceIndex(kvHid1_->DeviceIndex());
    Engine.SetExtendedMode(pageVisible_[pgActionsExt]);
    Engine.AssignActions(actions_);
    const THidSaveResult saved = Engine.SaveSettings();
    Engine.ReopenDevices();
    // Last: the player may call quit while the box is up, and then nothing may reach the engine.
    if (!saved) {
        const std::string text =
            "The settings could not be saved to " + saved.Path + ": " + saved.Reason;
        MessageBoxW(Handle(), WideFromUtf8(text).c_str(), L"Error!", MB_OK);
    }
}

void TfmConfig::HandleError(std::exception_ptr error) {
    if (!created_) {
        TkvDialog::HandleError(error); // a dialog that cannot be built reaches config's box
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& failure) {
        MessageBoxA(Handle(), failure.what(), "Error!", MB_OK);
    } catch (...) {
        MessageBoxA(Handle(), "An unexpected error occurred.", "Error!", MB_OK);
    }
}

// --- messages ---

void TfmConfig::Command(int id, int code, HWND) {
    if (id >= idSimpleButton && id < idSimpleButton + 12 && (id - idSimpleButton) % 2 == 0) {
        if (code == BN_CLICKED)
            LearnAction(actions_.ActionForType(kSimpleCommands[(id - idSimpleButton) / 2].Type));
        return;
    }
    switch (id) {
    case idMore:
        ShowMode(true);
        break;
    case idSimple:
        ShowMode(false);
        break;
    case idAdd:
        EditAction(nullptr);
        break;
    case idEdit:
        if (SelectedRow() >= 0)
            EditAction(&actions_.Actions(SelectedRow()));
        break;
    case idDelete:
        DeleteAction();
        break;
    case idDeviceBox:
        if (code == CBN_SELCHANGE)
            kvDeviceBox1_->Change();
        break;
    case idAutodetect:
        Autodetect();
        break;
    case idHidOpen:
        if (code == BN_CLICKED)
            CheckBox1Click();
        break;
    case idAboutTitle:
        if (code == STN_DBLCLK) {
            pageVisible_[pgHid] = !pageVisible_[pgHid];
            UpdateTabs();
            MessageBeep(MB_OK);
        }
        break;
    case idAboutLink:
        if (code == STN_CLICKED)
            OpenInBrowser(Handle(), TRELVON_PLUGIN_URL);
        break;
    case idPowered:
        if (code == STN_CLICKED)
            OpenInBrowser(Handle(), TRELVON_LIBRARY_URL);
        break;
    }
}

LRESULT TfmConfig::Notify(const NMHDR& header) {
    if (header.idFrom == idPages && header.code == TCN_SELCHANGE) {
        const HWND pages = Control(idPages);
        TCITEMA item{};
        item.mask = TCIF_PARAM;
        SendMessageA(pages, TCM_GETITEMA, SendMessageA(pages, TCM_GETCURSEL, 0, 0),
                     reinterpret_cast<LPARAM>(&item));
        ShowPage(static_cast<TPage>(item.lParam));
    } else if (header.idFrom == idActions && header.code == NM_DBLCLK) {
        if (SelectedRow() >= 0)
            EditAction(&actions_.Actions(SelectedRow()));
    } else if (header.idFrom == idActions && header.code == NM_CUSTOMDRAW) {
        return DrawActionItem(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
    } else if (header.idFrom == idHidTree && header.code == TVN_SELCHANGEDA) {
        ShowNodeInfo();
    }
    return 0;
}

bool TfmConfig::Message(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case kPortMessage:
        TakePortReports(wParam);
        return true;
    case kLinkHoverMessage:
        SetControlColors(reinterpret_cast<HWND>(lParam), wParam ? kLinkHoverColor : kLinkColor);
        return true;
    case WM_DEVICECHANGE:
        DeviceChange(message, wParam, lParam);
        result = TRUE;
        return true;
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item.CtlID != idMore)
            return false;
        DrawColoredButton(item, RGB(0, 0, 255));
        result = TRUE;
        return true;
    }
    default:
        return false;
    }
}

void TfmConfig::DrawColoredButton(const DRAWITEMSTRUCT& item, COLORREF color) {
    RECT frame = item.rcItem;
    const bool pushed = (item.itemState & ODS_SELECTED) != 0;
    DrawFrameControl(item.hDC, &frame, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    char text[64] = {};
    GetWindowTextA(item.hwndItem, text, sizeof text);
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, color);
    if (pushed)
        OffsetRect(&frame, 1, 1);
    DrawTextA(item.hDC, text, -1, &frame, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if ((item.itemState & ODS_FOCUS) != 0) {
        InflateRect(&frame, -4, -4);
        DrawFocusRect(item.hDC, &frame);
    }
}

// --- Simple page ---

void TfmConfig::RefreshSimpleLabels() {
    for (int i = 0; i < 6; ++i) {
        const bool assigned = actions_.ActionForType(kSimpleCommands[i].Type).IsAssigned();
        const HWND label = Control(idSimpleButton + 2 * i + 1);
        SetWindowTextA(label, assigned ? kAssigned : kNotDefined);
        SetControlColors(label, assigned ? RGB(0, 128, 0) : RGB(0, 0, 128));
    }
}

bool TfmConfig::LearnAction(THidAction& action) {
    bool learned = false;
    try {
        TfmHidAction learning;
        learning.ListenIndex = -1;
        learning.Action.Assign(action);
        learned = learning.ShowModal(Handle()) == IDOK;
        if (learned)
            action.Assign(learning.Action);
        else
            action.ResetCodes();
    } catch (...) {
        learned = false;
    }
    RefreshSimpleLabels();
    return learned;
}

// --- Extended page ---

int TfmConfig::SelectedRow() const {
    return static_cast<int>(
        SendMessageA(Control(idActions), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

void TfmConfig::RefreshActionList() {
    const HWND list = Control(idActions);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    const int selected = SelectedRow();
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    try {
        for (int i = 0; i < actions_.Count(); ++i) {
            THidAction& action = actions_.Actions(i);
            LVITEMA item{};
            item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_IMAGE;
            item.iItem = i;
            item.pszText = const_cast<char*>(action.ActionName());
            item.lParam = reinterpret_cast<LPARAM>(&action);
            item.iImage = action.ActionType >= 1 && action.ActionType - 1 < kActionImageCount
                              ? action.ActionType - 1
                              : I_IMAGENONE;
            const auto row =
                SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
            const std::string state = action.IsAssigned() ? "Assigned" : "Unassigned";
            std::string device = "Not selected";
            if (action.DeviceIndex >= 0 && action.DeviceIndex < kvHid1_->DeviceCount())
                device = kvHid1_->GetDevice(action.DeviceIndex)->FriendlyName +
                         (unopened_.contains(action.DeviceIndex) ? " (not opened)" : "");
            const std::string* texts[] = {&state, &device};
            for (int column = 1; column <= 2; ++column) {
                LVITEMA sub{};
                sub.iSubItem = column;
                sub.pszText = const_cast<char*>(texts[column - 1]->c_str());
                SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&sub));
            }
        }
        if (selected >= 0 && selected < SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)) {
            LVITEMA state{};
            state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageA(list, LVM_SETITEMSTATE, selected, reinterpret_cast<LPARAM>(&state));
        }
    } catch (...) {
        // The rows built so far stay.
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

LRESULT TfmConfig::DrawActionItem(const NMLVCUSTOMDRAW& draw) {
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        auto& colors = const_cast<NMLVCUSTOMDRAW&>(draw);
        const auto* action = reinterpret_cast<const THidAction*>(draw.nmcd.lItemlParam);
        if (draw.iSubItem == 1 && action != nullptr)
            colors.clrText = action->IsAssigned() ? RGB(0, 127, 0) : RGB(255, 0, 0);
        else
            colors.clrText = GetSysColor(COLOR_WINDOWTEXT);
        return CDRF_DODEFAULT;
    }
    default:
        return CDRF_DODEFAULT;
    }
}

void TfmConfig::EditAction(THidAction* existing) {
    TfmActionEdit edit;
    edit.SetAction(existing);
    edit.DeviceNames = kvDeviceBox1_->Items();
    edit.SupportedActions = Engine.SupportedActions();
    if (edit.ShowModal(Handle()) == IDOK) {
        if (existing != nullptr) {
            existing->Assign(edit.Action);
        } else {
            auto added = std::make_unique<THidAction>();
            added->Assign(edit.Action);
            actions_.Add(std::move(added));
        }
    }
    RefreshActionList();
}

void TfmConfig::DeleteAction() {
    const int row = SelectedRow();
    if (row < 0)
        return;
    actions_.Delete(row); // the action goes with the returned owner
    RefreshActionList();
}

// --- HID page ---

void TfmConfig::kvDeviceBox1Change() {
    BuildHidTree();
    RefreshSimpleLabels();
}

void TfmConfig::BuildHidTree() {
    const HWND tree = Control(idHidTree);
    SendMessageA(tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    if (const TkvHidDevice* device = kvHid1_->CurrentDevice()) {
        const auto insert = [&](HTREEITEM parent, const std::string& text, LPARAM data) {
            TVINSERTSTRUCTA insert{};
            insert.hParent = parent;
            insert.hInsertAfter = TVI_LAST;
            insert.item.mask = TVIF_TEXT | TVIF_PARAM;
            insert.item.pszText = const_cast<char*>(text.c_str());
            insert.item.lParam = data;
            return reinterpret_cast<HTREEITEM>(
                SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        };
        insert(TVI_ROOT, "General HID Info", -1);
        for (int group = 0; group < 6; ++group) {
            const int count = device->CapsCount(kCapsGroups[group].Kind);
            if (count <= 0)
                continue;
            const HTREEITEM root = insert(TVI_ROOT, kCapsGroups[group].Root, group);
            for (int n = 0; n < count; ++n)
                insert(root, kCapsGroups[group].Child + std::to_string(n), n);
        }
    }
    const auto first =
        reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    if (first != nullptr)
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(first));
    ShowNodeInfo();
}

void TfmConfig::ShowNodeInfo() {
    const HWND tree = Control(idHidTree);
    SendMessageA(Control(idHidInfo), LVM_DELETEALLITEMS, 0, 0);
    const auto selected =
        reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    const TkvHidDevice* device = kvHid1_->CurrentDevice();
    if (selected == nullptr || device == nullptr)
        return;
    if (selected == reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)))
        ShowGeneralInfo(*device);
    const auto parent = reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(selected)));
    if (parent == nullptr)
        return;
    TVITEMA item{};
    item.mask = TVIF_PARAM;
    item.hItem = parent;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    const TCapsGroup& group = kCapsGroups[item.lParam];
    item.hItem = selected;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    const auto record = static_cast<std::int32_t>(item.lParam);
    if (group.Buttons)
        ShowCapsInfo(device->ButtonCaps(record, group.Kind));
    else
        ShowCapsInfo(device->ValueCaps(record, group.Kind));
}

void TfmConfig::ShowGeneralInfo(const TkvHidDevice& device) {
    AddInfoRow("Friendly Name", device.FriendlyName);
    AddInfoRow("Description", device.Description);
    AddInfoRow("Manufacturer", device.Manufacturer);
    AddInfoRow("Service", device.Service);
    AddInfoRow("VendorID", Format("%.4X", device.VendorID()));
    AddInfoRow("ProductID", Format("%.4X", device.ProductID()));
    AddInfoRow("Ver", std::to_string(device.VersionNumber()) + " [" +
                          Format("%.4X", device.VersionNumber()) + "h]");
    AddInfoRow("Usage Page", UsagePageText(device.UsagePage()));
    if (kvHid1_->Active())
        AddInfoRow("R/W modes:",
                   TrueFalse(kvHid1_->CanRead()) + " / " + TrueFalse(kvHid1_->CanWrite()));
    if (const auto failed = unopened_.find(kvHid1_->DeviceIndex()); failed != unopened_.end())
        AddInfoRow("Status", "Present, but the plug-in could not open it: " + failed->second);
}

template <class TRecord> void TfmConfig::ShowCapsInfo(const TRecord& record) {
    AddInfoRow("Usage Page", UsagePageText(record.UsagePage));
    AddInfoRow("Report ID", Format("%.2X", record.ReportID));
    AddInfoRow("Bit Field", Format("%.4X", record.BitField));
    AddInfoRow("Is Range", TrueFalse(record.IsRange));
    AddInfoRow("Is Designator Range", TrueFalse(record.IsDesignatorRange));
    const auto pair = [](unsigned low, unsigned high) {
        return std::to_string(low) + " / " + std::to_string(high);
    };
    if (record.IsRange) {
        const auto& range = record.Range;
        AddInfoRow("Usage Min/Max", pair(range.UsageMin, range.UsageMax));
        AddInfoRow("String Min/Max", pair(range.StringMin, range.StringMax));
        AddInfoRow("Designator Min/Max", pair(range.DesignatorMin, range.DesignatorMax));
        AddInfoRow("Data Index Min/Max", pair(range.DataIndexMin, range.DataIndexMax));
    } else {
        const auto& single = record.NotRange;
        AddInfoRow("Usage",
                   std::to_string(single.Usage) + " [" + Format("%.4X", single.Usage) + "h]");
        AddInfoRow("String", std::to_string(single.StringIndex));
        AddInfoRow("Designator", std::to_string(single.DesignatorIndex));
        AddInfoRow("Data Index", std::to_string(single.DataIndex));
    }
}

void TfmConfig::AddInfoRow(const std::string& property, const std::string& value) {
    if (value.find_first_not_of(" \t\r\n") == std::string::npos)
        return;
    const HWND list = Control(idHidInfo);
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<char*>(property.c_str());
    const auto row = SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    LVITEMA sub{};
    sub.iSubItem = 1;
    sub.pszText = const_cast<char*>(value.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&sub));
}

void TfmConfig::CheckBox1Click() {
    const bool open = IsDlgButtonChecked(Handle(), idHidOpen) == BST_CHECKED;
    try {
        kvHid1_->SetActive(false);
        RenewPortReports();
        kvHid1_->SetActive(open);
    } catch (...) {
        CheckDlgButton(Handle(), idHidOpen, kvHid1_->Active() ? BST_CHECKED : BST_UNCHECKED);
        throw;
    }
}

void TfmConfig::RenewPortReports() {
    // A monitoring thread that closed the port itself may still be on its way out.
    kvHid1_->JoinThread();
    portReports_ = std::make_unique<TkvReportQueue>(Handle(), kPortMessage, ++session_);
}

void TfmConfig::TakePortReports(WPARAM session) {
    if (!portReports_ || session != portReports_->Tag())
        return; // from a port the user has closed or opened again since
    for (const TkvReport& report : portReports_->TakeAll())
        ReceivePortReport(report);
}

void TfmConfig::ReceivePortReport(const TkvReport& report) {
    if (report.Closed) {
        CheckDlgButton(Handle(), idHidOpen, BST_UNCHECKED);
        return;
    }
    std::string line =
        "HID Report is received: " + std::to_string(report.Bytes.size()) + " bytes ";
    for (const std::uint8_t byte : report.Bytes)
        line += Format("%.2X ", byte);
    line += "\r\n";
    const HWND memo = Control(idHidReports);
    const auto end = GetWindowTextLengthA(memo);
    SendMessageA(memo, EM_SETSEL, end, end);
    SendMessageA(memo, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
}

void TfmConfig::Autodetect() {
    try {
        TfmHidAction learning;
        learning.ListenIndex = -1;
        if (learning.ShowModal(Handle()) == IDOK) {
            kvHid1_->SetDeviceIndex(learning.ListenIndex);
            BuildHidTree();
        }
    } catch (...) {
        // Autodetect changes nothing when it fails.
    }
    RefreshSimpleLabels();
}

void TfmConfig::DeviceChange(UINT message, WPARAM wParam, LPARAM lParam) {
    const std::int32_t remembered = kvHid1_->DeviceIndex();
    kvHid1_->HandleDeviceChange(message, wParam, lParam);
    if (remembered < kvHid1_->DeviceCount()) {
        kvHid1_->SetDeviceIndex(remembered);
        kvDeviceBox1Change();
    }
}
