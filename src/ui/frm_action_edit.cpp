#include "ui/frm_action_edit.h"

#include "ui/frm_hid_action.h"
#include "ui/ui_ids.h"

TfmActionEdit::TfmActionEdit() : TkvDialog("Action", 307, 155) {}

void TfmActionEdit::SetAction(const THidAction* action) {
    if (action != nullptr)
        Action.Assign(*action);
}

void TfmActionEdit::FormCreate() {
    constexpr DWORD list = WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
    AddControl("STATIC", "&Player Action", SS_LEFT, 8, 12, 90, 13, idEditActionLabel);
    AddControl("COMBOBOX", "", list, 104, 8, 195, 240, idEditPlayerAction);
    AddControl("STATIC", "Active &HID", SS_LEFT, 8, 44, 90, 13, idEditHidLabel);
    AddControl("COMBOBOX", "", list, 104, 40, 195, 240, idEditActiveHid);
    AddControl("STATIC", "Status", SS_LEFT, 8, 78, 90, 13, idEditStatusLabel);
    AddControl("STATIC", "", SS_CENTER | SS_CENTERIMAGE, 104, 74, 95, 21, idEditStatus,
               DialogFont(true));
    AddControl("BUTTON", "&Assign", WS_TABSTOP | BS_PUSHBUTTON, 224, 72, 75, 25, idEditAssign);
    AddControl("STATIC", "", SS_ETCHEDHORZ, 8, 112, 291, 2, idEditBevel);
    AddControl("BUTTON", "&OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 144, 122, 75, 25, IDOK);
    AddControl("BUTTON", "&Cancel", WS_TABSTOP | BS_PUSHBUTTON, 224, 122, 75, 25, IDCANCEL);
}

void TfmActionEdit::FormShow() {
    const HWND devices = Control(idEditActiveHid);
    SendMessageA(devices, CB_RESETCONTENT, 0, 0);
    SendMessageA(devices, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Autodetect!"));
    for (const std::string& name : DeviceNames)
        SendMessageA(devices, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));

    const HWND types = Control(idEditPlayerAction);
    SendMessageA(types, CB_RESETCONTENT, 0, 0);
    for (int type = 0; type < kHidActionTypeCount; ++type) {
        if ((SupportedActions & (1u << type)) == 0)
            continue;
        const auto item =
            SendMessageA(types, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(HidActionName(type)));
        SendMessageA(types, CB_SETITEMDATA, item, type);
        if (type == Action.ActionType)
            SendMessageA(types, CB_SETCURSEL, item, 0);
    }
    RefreshStatus();
}

void TfmActionEdit::RefreshStatus() {
    SendMessageA(Control(idEditActiveHid), CB_SETCURSEL, Action.DeviceIndex + 1, 0);
    const bool assigned = Action.IsAssigned();
    SetDlgItemTextA(Handle(), idEditStatus, assigned ? "Assigned" : "Unassigned");
    SetControlColors(Control(idEditStatus), assigned ? RGB(0, 128, 0) : RGB(255, 0, 0),
                     GetSysColor(COLOR_INFOBK));
}

void TfmActionEdit::Command(int id, int code, HWND) {
    if (id == idEditPlayerAction && code == CBN_SELCHANGE) {
        const HWND types = Control(idEditPlayerAction);
        const auto item = SendMessageA(types, CB_GETCURSEL, 0, 0);
        if (item >= 0)
            Action.ActionType =
                static_cast<std::uint8_t>(SendMessageA(types, CB_GETITEMDATA, item, 0));
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
        learning.ListenIndex =
            static_cast<std::int32_t>(SendMessageA(Control(idEditActiveHid), CB_GETCURSEL, 0, 0)) -
            1;
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
