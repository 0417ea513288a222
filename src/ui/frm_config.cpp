// The configuration dialog's frame: the tabs, the About page, showing and closing, and the
// messages every page shares. The action pages and the HID page have files of their own.
#include "ui/frm_config.h"

#include <string>

#include "hid/kv_win32.h"
#include "shell/file_version.h"
#include "framework/kv_module.h"
#include "ui/action_icons.h"
#include "ui/kv_link_label.h"
#include "ui/ui_ids.h"

namespace {

constexpr COLORREF kLinkColor = RGB(0, 0, 255);
constexpr COLORREF kLinkHoverColor = RGB(255, 255, 0);

constexpr const char* kPageCaptions[] = {"Registered Actions", "Actions (Extended Mode)",
                                         "HID Info", "A&bout"};

// The colour in the middle of a tab control's page area, as the control paints it.
COLORREF PageColor(HWND tabs) {
    RECT page{};
    GetClientRect(tabs, &page);
    const HDC screen = GetDC(tabs);
    const TkvMemoryDC memory(CreateCompatibleDC(screen));
    const TkvGdiObject<HBITMAP> bitmap(CreateCompatibleBitmap(screen, page.right, page.bottom));
    ReleaseDC(tabs, screen);
    const TkvSelection canvas(memory.Get(), bitmap.Get());
    FillRect(memory.Get(), &page, GetSysColorBrush(COLOR_BTNFACE));
    SendMessageA(tabs, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory.Get()),
                 PRF_CLIENT | PRF_ERASEBKGND);
    const COLORREF color = GetPixel(memory.Get(), page.right / 2, page.bottom - 8);
    return color == CLR_INVALID ? GetSysColor(COLOR_BTNFACE) : color;
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

HWND TfmConfig::AddPageControl(TPage page, const TkvControlArgs& args) {
    const HWND control = AddControl(args);
    if (page != kPageCount)
        pageControls_[page].push_back(control);
    return control;
}

HWND TfmConfig::AddLink(TPage page, TkvControlArgs args) {
    args.Class = "STATIC";
    args.Style = SS_LEFT | SS_NOTIFY;
    const HWND link = AddPageControl(page, args);
    SetControlColors(link, kLinkColor);
    MakeLinkLabel(link);
    return link;
}

void TfmConfig::FormCreate() {
    img16_ = CreateActionImageList(Scaled(16));
    // At the bottom of the z-order, so that it never paints over the pages' controls.
    const TkvTabControl pages(AddControl({.Class = WC_TABCONTROLA,
                                          .Style = WS_TABSTOP | WS_CLIPSIBLINGS,
                                          .Bounds = {4, 4, 472, 241},
                                          .Id = idPages}));
    for (int page = 0; page < kPageCount; ++page)
        pages.Insert(page, kPageCaptions[page], page);
    pageColor_ = PageColor(pages.Handle());
    CreateSimplePage();
    CreateExtendedPage();
    // One switch for both action pages, below their actions.
    const HWND quickResponse =
        AddPageControl(pgActions, {.Class = "BUTTON",
                                   .Text = "Respond at once to learned buttons",
                                   .Style = WS_TABSTOP | BS_AUTOCHECKBOX,
                                   .Bounds = {24, 212, 260, 17},
                                   .Id = idQuickResponse});
    pageControls_[pgActionsExt].push_back(quickResponse);
    SetControlColors(quickResponse, GetSysColor(COLOR_BTNTEXT), pageColor_);
    CreateHidPage();
    CreateAboutPage();
    AddLink(kPageCount, {.Text = "Powered by kvLink Lib",
                         .Bounds = {8, 258, 200, 13},
                         .Id = idPowered,
                         .Font = {.Bold = true}});
    AddControl({.Class = "BUTTON",
                .Text = "&OK",
                .Style = WS_TABSTOP | BS_DEFPUSHBUTTON,
                .Bounds = {316, 250, 75, 25},
                .Id = IDOK});
    AddControl({.Class = "BUTTON",
                .Text = "&Cancel",
                .Style = WS_TABSTOP | BS_PUSHBUTTON,
                .Bounds = {398, 250, 75, 25},
                .Id = IDCANCEL});
    SetWindowPos(pages.Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SizeColumns();
    RenewPortReports();
    created_ = true;
}

void TfmConfig::CreateAboutPage() {
    AddPageControl(pgAbout, {.Class = "STATIC",
                             .Text = "HID Plugin",
                             .Style = SS_LEFT | SS_NOTIFY,
                             .Bounds = {24, 40, 300, 28},
                             .Id = idAboutTitle,
                             .Font = {.Bold = true, .Points = 16}});
    AddPageControl(
        pgAbout,
        {.Class = "STATIC", .Style = SS_LEFT, .Bounds = {24, 74, 420, 28}, .Id = idAboutVersion});
    AddPageControl(pgAbout, {.Class = "STATIC",
                             .Text = "Latest version and support here:",
                             .Style = SS_LEFT,
                             .Bounds = {24, 116, 300, 13},
                             .Id = idAboutSupport});
    AddLink(pgAbout, {.Text = TRELVON_PLUGIN_URL, .Bounds = {24, 132, 420, 13}, .Id = idAboutLink});
    AddPageControl(pgAbout, {.Class = "STATIC",
                             .Text = "Made by " TRELVON_MAKER_NAME
                                     ".\r\nQuestions, ideas and error reports are welcome on "
                                     "the web page above.",
                             .Style = SS_LEFT,
                             .Bounds = {24, 164, 420, 28},
                             .Id = idAboutContact});
}

// --- pages and modes ---

void TfmConfig::UpdateTabs() {
    const TkvTabControl pages(Control(idPages));
    pages.Clear();
    if (!pageVisible_[activePage_])
        activePage_ = pageVisible_[pgActions] ? pgActions : pgActionsExt;
    int position = 0;
    for (int page = 0; page < kPageCount; ++page) {
        if (!pageVisible_[page])
            continue;
        pages.Insert(position, kPageCaptions[page], page);
        if (page == activePage_)
            pages.Select(position);
        ++position;
    }
    ShowPage(activePage_);
}

void TfmConfig::ShowPage(TPage page) {
    activePage_ = page;
    // Shown last: a control may belong to more than one page.
    for (int each = 0; each < kPageCount; ++each)
        if (each != page)
            for (const HWND control : pageControls_[each])
                ShowWindow(control, SW_HIDE);
    for (const HWND control : pageControls_[page])
        ShowWindow(control, SW_SHOW);
    if (page == pgActionsExt)
        RefreshActionList();
    // A hidden control keeps the keys; the new page's first control takes them instead.
    const HWND focus = GetFocus();
    if (focus != nullptr && IsChild(Handle(), focus) &&
        (GetWindowLongA(focus, GWL_STYLE) & WS_VISIBLE) == 0)
        FocusControl(FirstControl());
}

HWND TfmConfig::FirstControl() {
    // The page's first control, not the tabs above it.
    for (const HWND control : TabStops())
        if (control != Control(idPages))
            return control;
    return nullptr;
}

bool TfmConfig::SwitchPage(bool back) {
    const TkvTabControl pages(Control(idPages));
    const int count = pages.Count();
    if (count < 2)
        return false;
    const int next = (pages.Selection() + (back ? count - 1 : 1)) % count;
    pages.Select(next);
    ShowPage(static_cast<TPage>(pages.ItemData(next)));
    FocusControl(FirstControl());
    return true;
}

bool TfmConfig::KeyDown(HWND control, WPARAM key) {
    // The action list's own keys, which the dialog manager would take for OK.
    if (control != Control(idActions) || (key != VK_RETURN && key != VK_DELETE))
        return false;
    if (key == VK_RETURN)
        EditSelectedAction();
    else
        DeleteAction();
    return true;
}

void TfmConfig::DpiChanged() {
    const HIMAGELIST previous = img16_;
    img16_ = CreateActionImageList(Scaled(16));
    TkvListView(Control(idActions)).SetSmallImages(img16_);
    ImageList_Destroy(previous);
    SizeColumns();
}

void TfmConfig::SizeColumns() {
    const TkvListView actions(Control(idActions));
    actions.SetColumnWidth(0, Scaled(98));
    actions.SetColumnWidth(1, Scaled(72));
    actions.SetColumnWidth(2, actions.ClientWidth() - Scaled(98) - Scaled(72));
    const TkvListView info(Control(idHidInfo));
    info.SetColumnWidth(0, Scaled(100));
    info.SetColumnWidth(1, info.ClientWidth() - Scaled(100) - GetSystemMetrics(SM_CXVSCROLL));
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
    chosen_ = Engine.ChosenDevice();
    chosenIndex_ = Engine.DeviceIndex();
    MatchDevices();
    ShowMode(Engine.ExtendedMode());
    CheckDlgButton(Handle(), idQuickResponse, Engine.QuickResponse() ? BST_CHECKED : BST_UNCHECKED);
    pageVisible_[pgHid] = false;
    UpdateTabs();
    ShowBoxDevice();
    RefreshSimpleLabels();
    // The labels have just added the Simple commands that were missing; the list shows them too.
    if (activePage_ == pgActionsExt)
        RefreshActionList();
    const std::string version =
        "v." + FileVersionText(kvModuleFileName()) + "\r\nFree software by " TRELVON_MAKER_NAME;
    SetDlgItemTextA(Handle(), idAboutVersion, version.c_str());
}

void TfmConfig::FormClose(INT_PTR result) {
    // The port's monitoring thread ends before the queue it writes to.
    kvHid1_->SetActive(false);
    kvHid1_->JoinThread();
    portReports_.reset();
    if (result != IDOK)
        return;
    // Bindings are placed on the devices listed now. One that knows only its position keeps it
    // and gets no identity: OK tells nothing of which device it means, and the device at that
    // position may stand in for one that is away. Learning or choosing a device gave one.
    MatchDevices();
    // A press while the dialog was open told the engine which device a position means.
    actions_.KeepIdentifiedDevices(Engine);
    if (chosen_.Path.empty() && chosenIndex_ == Engine.DeviceIndex() && !Engine.ChosenDeviceAway())
        chosen_ = Engine.ChosenDevice();
    Engine.SetDeviceIndex(chosenIndex_);
    Engine.SetChosenDevice(chosen_);
    Engine.SetExtendedMode(pageVisible_[pgActionsExt]);
    Engine.SetQuickResponse(IsDlgButtonChecked(Handle(), idQuickResponse) == BST_CHECKED);
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
    if (const int command = SimpleCommandOfButton(id); command >= 0) {
        if (code == BN_CLICKED)
            LearnSimpleCommand(command);
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
        EditSelectedAction();
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
        const TkvTabControl pages(Control(idPages));
        ShowPage(static_cast<TPage>(pages.ItemData(pages.Selection())));
    } else if (header.idFrom == idActions && header.code == NM_DBLCLK) {
        EditSelectedAction();
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
