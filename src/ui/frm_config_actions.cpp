// The configuration dialog's action pages: six fixed commands on the Simple page, a free list on
// the Extended page.
#include "ui/frm_config.h"

#include <string>

#include "framework/kv_module.h"
#include "ui/action_icons.h"
#include "ui/frm_action_edit.h"
#include "ui/frm_hid_action.h"
#include "ui/ui_ids.h"

namespace {

constexpr char kNotDefined[] = "Not defined. Click button for change";
constexpr char kAssigned[] = "Assigned. Click button for change";

// The Simple page's commands: button caption and the action type it stands for.
struct TSimpleCommand {
    const char* Caption;
    std::uint8_t Type;
};
constexpr TSimpleCommand kSimpleCommands[kSimpleCommandCount] = {
    {"Play/Pause", atPlayPause}, {"Next Track", atNext},        {"Prev Track", atPrevious},
    {"Volume Up", atVolumeUp},   {"Volume Down", atVolumeDown}, {"Mute", atMute}};

} // namespace

int TfmConfig::SimpleCommandOfButton(int id) {
    for (int n = 0; n < kSimpleCommandCount; ++n)
        if (idSimpleCommandButton(n) == id)
            return n;
    return -1;
}

void TfmConfig::CreateSimplePage() {
    for (int n = 0; n < kSimpleCommandCount; ++n) {
        const int y = 38 + n * 28;
        AddPageControl(pgActions, {.Class = "BUTTON",
                                   .Text = kSimpleCommands[n].Caption,
                                   .Style = WS_TABSTOP,
                                   .Bounds = {24, y, 100, 25},
                                   .Id = idSimpleCommandButton(n)});
        AddPageControl(pgActions, {.Class = "STATIC",
                                   .Text = "Not defined (click button for change)",
                                   .Style = SS_LEFT,
                                   .Bounds = {136, y + 6, 320, 13},
                                   .Id = idSimpleCommandLabel(n)});
    }
    AddPageControl(pgActions, {.Class = "BUTTON",
                               .Text = "Extended >>",
                               .Style = WS_TABSTOP | BS_OWNERDRAW,
                               .Bounds = {372, 206, 92, 25},
                               .Id = idMore,
                               .Font = {.Bold = true}});
}

void TfmConfig::CreateExtendedPage() {
    const TkvListView list(AddPageControl(
        pgActionsExt,
        {.Class = WC_LISTVIEWA,
         .Style = WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
         .Bounds = {16, 36, 346, 170},
         .Id = idActions,
         .ExStyle = WS_EX_CLIENTEDGE}));
    list.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    list.SetSmallImages(img16_);
    // Sized with the HID page's list by SizeColumns.
    list.AddColumn(0, "Action", 0);
    list.AddColumn(1, "State", 0);
    list.AddColumn(2, "Device", 0);
    const auto button = [&](const char* text, int y, int id) {
        AddPageControl(pgActionsExt, {.Class = "BUTTON",
                                      .Text = text,
                                      .Style = WS_TABSTOP,
                                      .Bounds = {372, y, 92, 25},
                                      .Id = id});
    };
    button("&Add ...", 36, idAdd);
    button("&Edit ...", 66, idEdit);
    button("&Delete", 96, idDelete);
    AddPageControl(pgActionsExt, {.Class = "BUTTON",
                                  .Text = "<< Simple mode",
                                  .Style = WS_TABSTOP,
                                  .Bounds = {356, 206, 108, 25},
                                  .Id = idSimple});
    // The buttons' hints.
    const HWND tips = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                      Handle(), nullptr, kvThisModule(), nullptr);
    const std::pair<int, const char*> hints[] = {{idAdd, "Add new action ..."},
                                                 {idEdit, "Change selected action ..."},
                                                 {idDelete, "Delete selected action"}};
    for (const auto& [id, hint] : hints) {
        TOOLINFOA tool{};
        tool.cbSize = TTTOOLINFOA_V1_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = Handle();
        tool.uId = reinterpret_cast<UINT_PTR>(Control(id));
        tool.lpszText = const_cast<char*>(hint); // read only, as the control's contract says
        SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

// --- Simple page ---

void TfmConfig::RefreshSimpleLabels() {
    for (int n = 0; n < kSimpleCommandCount; ++n) {
        const bool assigned = actions_.ActionForType(kSimpleCommands[n].Type).IsAssigned();
        const HWND label = Control(idSimpleCommandLabel(n));
        SetWindowTextA(label, assigned ? kAssigned : kNotDefined);
        SetControlColors(label, assigned ? RGB(0, 128, 0) : RGB(0, 0, 128), pageColor_);
    }
}

void TfmConfig::LearnSimpleCommand(int n) {
    LearnAction(actions_.ActionForType(kSimpleCommands[n].Type));
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
        // The action stays as it was; the labels below show it.
        learned = false;
    }
    RefreshSimpleLabels();
    return learned;
}

// --- Extended page ---

int TfmConfig::SelectedRow() const {
    return TkvListView(Control(idActions)).Selection();
}

void TfmConfig::RefreshActionList() {
    const TkvListView list(Control(idActions));
    list.SetRedraw(false);
    const int selected = list.Selection();
    list.Clear();
    try {
        for (int i = 0; i < actions_.Count(); ++i) {
            THidAction& action = actions_.Actions(i);
            int image = I_IMAGENONE;
            if (action.HasCommand())
                image = kCommandImage;
            else if (action.ActionType >= 1 && action.ActionType - 1 < kCommandImage)
                image = action.ActionType - 1;
            const int row =
                list.AddRow(action.ActionName(), reinterpret_cast<LPARAM>(&action), image);
            list.SetCell(row, 1, action.IsAssigned() ? "Assigned" : "Unassigned");
            std::string device = "Not selected";
            if (action.DeviceAway)
                device = action.Device.Name + " (not connected)";
            else if (action.DeviceIndex >= 0 && action.DeviceIndex < kvHid1_->DeviceCount())
                device = kvHid1_->GetDevice(action.DeviceIndex)->FriendlyName +
                         (unopened_.contains(action.DeviceIndex) ? " (not opened)" : "");
            list.SetCell(row, 2, device);
        }
        if (selected >= 0 && selected < list.Count())
            list.Select(selected);
    } catch (...) {
        // The rows built so far stay.
    }
    list.SetRedraw(true);
}

LRESULT TfmConfig::DrawActionItem(const NMLVCUSTOMDRAW& draw) {
    switch (draw.nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
        return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
        return CDRF_NOTIFYSUBITEMDRAW;
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
        // The control reads the colour back from the record it passed.
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

void TfmConfig::EditSelectedAction() {
    if (SelectedRow() >= 0)
        EditAction(&actions_.Actions(SelectedRow()));
}

void TfmConfig::EditAction(THidAction* existing) {
    if (existing == nullptr && actions_.Count() >= kMaxActions) {
        MessageBoxA(Handle(),
                    ("The list holds " + std::to_string(kMaxActions) +
                     " actions, as many as the settings file keeps. Delete one to add another.")
                        .c_str(),
                    "Add action", MB_OK | MB_ICONINFORMATION);
        return;
    }
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
