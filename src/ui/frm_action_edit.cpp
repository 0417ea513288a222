#include "ui/frm_action_edit.h"

#include "ui/frm_hid_action.h"
#include "ui/kv_controls.h"
#include "ui/ui_ids.h"

TfmActionEdit::TfmActionEdit() : TkvDialog("Action", 307, 155) {}

void TfmActionEdit::SetAction(const THidAction* action) {
    if (action != nullptr)
        Action.Assign(*action);
}

void TfmActionEdit::FormCreate() {
    constexpr DWORD list = WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
    AddControl({.Class = "STATIC",
                .Text = "&Player Action",
                .Style = SS_LEFT,
                .Bounds = {8, 12, 90, 13},
                .Id = idEditActionLabel});
    AddControl({.Class = "COMBOBOX",
                .Style = list,
                .Bounds = {104, 8, 195, 240},
                .Id = idEditPlayerAction});
    AddControl({.Class = "STATIC",
                .Text = "Active &HID",
                .Style = SS_LEFT,
                .Bounds = {8, 44, 90, 13},
                .Id = idEditHidLabel});
    AddControl(
        {.Class = "COMBOBOX", .Style = list, .Bounds = {104, 40, 195, 240}, .Id = idEditActiveHid});
    AddControl({.Class = "STATIC",
                .Text = "Status",
                .Style = SS_LEFT,
                .Bounds = {8, 78, 90, 13},
                .Id = idEditStatusLabel});
    AddControl({.Class = "STATIC",
                .Style = SS_CENTER | SS_CENTERIMAGE,
                .Bounds = {104, 74, 95, 21},
                .Id = idEditStatus,
                .Font = DialogFont(true)});
    AddControl({.Class = "BUTTON",
                .Text = "&Assign",
                .Style = WS_TABSTOP | BS_PUSHBUTTON,
                .Bounds = {224, 72, 75, 25},
                .Id = idEditAssign});
    AddControl(
        {.Class = "STATIC", .Style = SS_ETCHEDHORZ, .Bounds = {8, 112, 291, 2}, .Id = idEditBevel});
    AddControl({.Class = "BUTTON",
                .Text = "&OK",
                .Style = WS_TABSTOP | BS_DEFPUSHBUTTON,
                .Bounds = {144, 122, 75, 25},
                .Id = IDOK});
    AddControl({.Class = "BUTTON",
                .Text = "&Cancel",
                .Style = WS_TABSTOP | BS_PUSHBUTTON,
                .Bounds = {224, 122, 75, 25},
                .Id = IDCANCEL});
}

void TfmActionEdit::FormShow() {
    const TkvComboBox devices(Control(idEditActiveHid));
    devices.Clear();
    devices.Add("Autodetect!");
    for (const std::string& name : DeviceNames)
        devices.Add(name);
    // The device of an action that waits for it, by name: not one that now holds its position.
    if (Action.DeviceAway)
        devices.Add(Action.Device.Name + " (not connected)");

    const TkvComboBox types(Control(idEditPlayerAction));
    types.Clear();
    for (int type = 0; type < kHidActionTypeCount; ++type) {
        if ((SupportedActions & (1u << type)) == 0)
            continue;
        const int item = types.Add(HidActionName(static_cast<std::uint8_t>(type)));
        types.SetItemData(item, type);
        if (type == Action.ActionType)
            types.Select(item);
    }
    RefreshStatus();
}

void TfmActionEdit::RefreshStatus() {
    TkvComboBox(Control(idEditActiveHid))
        .Select(Action.DeviceAway ? static_cast<int>(DeviceNames.size()) + 1
                                  : Action.DeviceIndex + 1);
    const bool assigned = Action.IsAssigned();
    SetDlgItemTextA(Handle(), idEditStatus, assigned ? "Assigned" : "Unassigned");
    SetControlColors(Control(idEditStatus), assigned ? RGB(0, 128, 0) : RGB(255, 0, 0),
                     GetSysColor(COLOR_INFOBK));
}

void TfmActionEdit::Command(int id, int code, HWND) {
    if (id == idEditPlayerAction && code == CBN_SELCHANGE) {
        const TkvComboBox types(Control(idEditPlayerAction));
        if (const int item = types.Selection(); item >= 0)
            Action.ActionType = static_cast<std::uint8_t>(types.ItemData(item));
    } else if (id == idEditAssign && code == BN_CLICKED) {
        Assign();
    }
}

void TfmActionEdit::Assign() {
    if (Action.ActionType == atUnknown) {
        MessageBoxA(Handle(), "Please select Action Type before ...", "Unknown Action",
                    MB_OK | MB_ICONWARNING);
        return;
    }
    try {
        TfmHidAction learning;
        // "Autodetect!" is item 0 and listens on every device (-1).
        learning.ListenIndex = TkvComboBox(Control(idEditActiveHid)).Selection() - 1;
        if (learning.ListenIndex >= static_cast<int>(DeviceNames.size()))
            learning.ListenIndex = -1; // the absent device cannot be listened to

        learning.Action.Assign(Action);
        if (learning.ShowModal(Handle()) == IDOK)
            Action.Assign(learning.Action);
        else
            Action.ResetCodes();
    } catch (...) {
        // The action stays as it was; the status below shows it.
    }
    RefreshStatus();
}
