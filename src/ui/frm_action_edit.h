#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/hid_action.h"
#include "ui/kv_dialog.h"

// The "Action" dialog of the Extended mode: one action's type, its codes and device through the
// learning dialog, and for a repeating type its repeat delay and interval. It edits a working copy;
// the caller copies it back after OK.
class TfmActionEdit : public TkvDialog {
public:
    TfmActionEdit();

    THidAction Action;
    // The types offered, bit n for type n.
    std::uint16_t SupportedActions = kAllHidActions;
    // Device k's name is entry k.
    std::vector<std::string> DeviceNames;

    // The working copy takes `action`; with none it stays new.
    void SetAction(const THidAction* action);

protected:
    void FormCreate() override;
    void FormShow() override;
    void Command(int id, int code, HWND control) override;
    bool CanAccept() override;

private:
    void RefreshStatus();
    void RefreshRepeatFields();
    // The milliseconds in edit `id`, or none with the user told why.
    std::optional<std::uint32_t> RepeatTime(int id, const char* what);
    void Assign();
};
