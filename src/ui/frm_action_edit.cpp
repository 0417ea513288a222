#include "ui/frm_action_edit.h"

#include <iterator>
#include <string>

#include "engine/settings_text.h"
#include "ui/frm_hid_action.h"
#include "ui/kv_controls.h"
#include "ui/ui_ids.h"

namespace {

// One item of the "Player Action" list: a type, or a command beyond the types.
struct TPlayerActionItem {
    std::uint8_t Type;
    THidCommand Command;
};

constexpr TPlayerActionItem TypeItem(std::uint8_t type) {
    return {type, {}};
}
constexpr TPlayerActionItem CommandItem(THidCommandKind kind, std::uint32_t number = 0) {
    return {atUnknown, {kind, number}};
}

// In the order a user scans for a command: transport, volume, playlist, windows, rating, and
// last any menu command by its number.
constexpr TPlayerActionItem kPlayerActionItems[] = {
    TypeItem(atUnknown),
    TypeItem(atPlayPause),
    TypeItem(atPlay),
    TypeItem(atPause),
    TypeItem(atStop),
    CommandItem(THidCommandKind::StopAfterTrack),
    CommandItem(THidCommandKind::StopFade),
    TypeItem(atNext),
    TypeItem(atPrevious),
    TypeItem(atForward),
    TypeItem(atBackward),
    TypeItem(atVolumeUp),
    TypeItem(atVolumeDown),
    TypeItem(atMute),
    TypeItem(atShuffle),
    TypeItem(atRepeat),
    CommandItem(THidCommandKind::PlaylistStart),
    CommandItem(THidCommandKind::PlaylistEnd),
    TypeItem(atEject),
    CommandItem(THidCommandKind::MainWindow),
    CommandItem(THidCommandKind::PlaylistWindow),
    CommandItem(THidCommandKind::EqualizerWindow),
    CommandItem(THidCommandKind::AlwaysOnTop),
    CommandItem(THidCommandKind::Preferences),
    TypeItem(atFullScreen),
    CommandItem(THidCommandKind::Rate, 0),
    CommandItem(THidCommandKind::Rate, 1),
    CommandItem(THidCommandKind::Rate, 2),
    CommandItem(THidCommandKind::Rate, 3),
    CommandItem(THidCommandKind::Rate, 4),
    CommandItem(THidCommandKind::Rate, 5),
    CommandItem(THidCommandKind::Menu),
};

bool IsMenu(const THidAction& action) {
    return action.HasCommand() && action.Command.Kind == THidCommandKind::Menu;
}

// Whether `item` is what `action` runs; any menu command is the one "by number" item.
bool Stands(const TPlayerActionItem& item, const THidAction& action) {
    if (!action.HasCommand())
        return !item.Command.IsSet() && item.Type == action.ActionType;
    if (item.Command.Kind != action.Command.Kind)
        return false;
    return item.Command.Kind == THidCommandKind::Menu || item.Command == action.Command;
}

// The number typed, read as kvhid.ini reads it, so the dialog accepts exactly what the file keeps.
std::optional<std::uint32_t> MenuNumber(std::string_view text) {
    const auto command = ParseHidCommand("menu:" + std::string(TrimBlanks(text)));
    if (!command)
        return std::nullopt;
    return command->Number;
}

} // namespace

TfmActionEdit::TfmActionEdit() : TkvDialog("Action", 307, 245) {}

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
                .Font = {.Bold = true}});
    AddControl({.Class = "BUTTON",
                .Text = "&Assign",
                .Style = WS_TABSTOP | BS_PUSHBUTTON,
                .Bounds = {224, 72, 75, 25},
                .Id = idEditAssign});
    const auto addTime = [&](const char* label, int y, int labelId, int editId) {
        AddControl({.Class = "STATIC",
                    .Text = label,
                    .Style = SS_LEFT,
                    .Bounds = {8, y + 4, 212, 13},
                    .Id = labelId});
        AddControl({.Class = "EDIT",
                    .Style = WS_TABSTOP | ES_NUMBER | ES_RIGHT | ES_AUTOHSCROLL,
                    .Bounds = {224, y, 75, 21},
                    .Id = editId,
                    .ExStyle = WS_EX_CLIENTEDGE});
        SendMessageA(Control(editId), EM_LIMITTEXT, 10, 0);
    };
    addTime("Repeat &delay while held (ms)", 108, idEditDelayLabel, idEditDelay);
    addTime("Repeat &interval while held (ms)", 138, idEditIntervalLabel, idEditInterval);
    addTime("Menu command &number", 168, idEditMenuLabel, idEditMenuNumber);
    AddControl(
        {.Class = "STATIC", .Style = SS_ETCHEDHORZ, .Bounds = {8, 202, 291, 2}, .Id = idEditBevel});
    AddControl({.Class = "BUTTON",
                .Text = "&OK",
                .Style = WS_TABSTOP | BS_DEFPUSHBUTTON,
                .Bounds = {144, 212, 75, 25},
                .Id = IDOK});
    AddControl({.Class = "BUTTON",
                .Text = "&Cancel",
                .Style = WS_TABSTOP | BS_PUSHBUTTON,
                .Bounds = {224, 212, 75, 25},
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
    for (std::size_t n = 0; n < std::size(kPlayerActionItems); ++n) {
        const TPlayerActionItem& entry = kPlayerActionItems[n];
        if (!entry.Command.IsSet() && (SupportedActions & (1u << entry.Type)) == 0)
            continue;
        std::string name = HidActionName(entry.Type);
        if (entry.Command.Kind == THidCommandKind::Menu)
            name = "Menu command ...";
        else if (entry.Command.IsSet())
            name = HidCommandName(entry.Command);
        const int item = types.Add(name);
        types.SetItemData(item, static_cast<LPARAM>(n));
        if (Stands(entry, Action))
            types.Select(item);
    }
    SetDlgItemInt(Handle(), idEditDelay, Action.RepeatDelayMs, FALSE);
    SetDlgItemInt(Handle(), idEditInterval, Action.RepeatIntervalMs, FALSE);
    SetDlgItemTextA(Handle(), idEditMenuNumber,
                    IsMenu(Action) ? std::to_string(Action.Command.Number).c_str() : "");
    RefreshStatus();
    RefreshRepeatFields();
}

void TfmActionEdit::RefreshRepeatFields() {
    for (const int id : {idEditDelayLabel, idEditDelay, idEditIntervalLabel, idEditInterval})
        EnableWindow(Control(id), Action.IsRepeatable());
    for (const int id : {idEditMenuLabel, idEditMenuNumber})
        EnableWindow(Control(id), IsMenu(Action));
}

std::optional<std::uint32_t> TfmActionEdit::RepeatTime(int id, const char* what) {
    char text[32] = {};
    GetDlgItemTextA(Handle(), id, text, sizeof text);
    if (const auto value = ParseDecimal32(TrimBlanks(text)); value && IsRepeatTimeAllowed(*value))
        return static_cast<std::uint32_t>(*value);
    const std::string message =
        std::string("The ") + what + " must be a whole number of milliseconds from " +
        std::to_string(kShortestRepeatMs) + " to " + std::to_string(kLongestRepeatMs) + ".";
    MessageBoxA(Handle(), message.c_str(), "Repeat timing", MB_OK | MB_ICONWARNING);
    SetFocus(Control(id));
    SendMessageA(Control(id), EM_SETSEL, 0, -1);
    return std::nullopt;
}

bool TfmActionEdit::CanAccept() {
    if (IsMenu(Action)) {
        char text[32] = {};
        GetDlgItemTextA(Handle(), idEditMenuNumber, text, sizeof text);
        const auto number = MenuNumber(text);
        if (!number) {
            MessageBoxA(Handle(),
                        "The menu command must be a whole number from 40000 to 65535, as the "
                        "player numbers its menu commands.",
                        "Menu command", MB_OK | MB_ICONWARNING);
            SetFocus(Control(idEditMenuNumber));
            SendMessageA(Control(idEditMenuNumber), EM_SETSEL, 0, -1);
            return false;
        }
        Action.Command.Number = *number;
    }
    // A type that does not repeat keeps whatever timing it had; nothing of it is used.
    if (!Action.IsRepeatable())
        return true;
    const auto delay = RepeatTime(idEditDelay, "repeat delay");
    if (!delay)
        return false;
    const auto interval = RepeatTime(idEditInterval, "repeat interval");
    if (!interval)
        return false;
    Action.RepeatDelayMs = *delay;
    Action.RepeatIntervalMs = *interval;
    return true;
}

void TfmActionEdit::RefreshStatus() {
    // kvhid.ini may hold any position; one that names no listed device selects nothing.
    const int listed = static_cast<int>(DeviceNames.size());
    int row = -1;
    if (Action.DeviceAway)
        row = listed + 1;
    else if (Action.DeviceIndex >= -1 && Action.DeviceIndex < listed)
        row = Action.DeviceIndex + 1;
    TkvComboBox(Control(idEditActiveHid)).Select(row);
    const bool assigned = Action.IsAssigned();
    SetDlgItemTextA(Handle(), idEditStatus, assigned ? "Assigned" : "Unassigned");
    SetControlColors(Control(idEditStatus), assigned ? RGB(0, 128, 0) : RGB(255, 0, 0),
                     GetSysColor(COLOR_INFOBK));
}

void TfmActionEdit::Command(int id, int code, HWND) {
    if (id == idEditPlayerAction && code == CBN_SELCHANGE) {
        const TkvComboBox types(Control(idEditPlayerAction));
        if (const int item = types.Selection(); item >= 0) {
            const TPlayerActionItem& entry =
                kPlayerActionItems[static_cast<std::size_t>(types.ItemData(item))];
            Action.ActionType = entry.Type;
            Action.Command = entry.Command;
            if (IsMenu(Action)) {
                char text[32] = {};
                GetDlgItemTextA(Handle(), idEditMenuNumber, text, sizeof text);
                Action.Command.Number = MenuNumber(text).value_or(kFirstMenuCommand);
                SetDlgItemInt(Handle(), idEditMenuNumber, Action.Command.Number, FALSE);
            }
        }
        RefreshRepeatFields();
    } else if (id == idEditMenuNumber && code == EN_CHANGE && IsMenu(Action)) {
        // The learning dialog's caption names the number typed so far.
        char text[32] = {};
        GetDlgItemTextA(Handle(), idEditMenuNumber, text, sizeof text);
        if (const auto number = MenuNumber(text))
            Action.Command.Number = *number;
    } else if (id == idEditAssign && code == BN_CLICKED) {
        Assign();
    }
}

void TfmActionEdit::Assign() {
    if (!Action.IsChosen()) {
        MessageBoxA(Handle(), "Please select Action Type before ...", "Unknown Action",
                    MB_OK | MB_ICONWARNING);
        return;
    }
    try {
        TfmHidAction learning;
        // "Autodetect!" is item 0 and listens on every device (-1).
        // Autodetect, no selection, and the absent device (which cannot be listened to) all
        // listen on every device.
        const int row = TkvComboBox(Control(idEditActiveHid)).Selection();
        learning.ListenIndex =
            row >= 1 && row <= static_cast<int>(DeviceNames.size()) ? row - 1 : -1;

        learning.Action.Assign(Action);
        const INT_PTR result = learning.Learn(Handle());
        if (result == IDOK)
            Action.Assign(learning.Action);
        else if (result == IDCANCEL)
            Action.ResetCodes();
    } catch (...) {
        // The action stays as it was; the status below shows it.
    }
    RefreshStatus();
}
