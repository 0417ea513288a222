// Part of gen_trelvon.dll itself: hands the shell its configuration dialog, so that the shell
// never depends on the dialogs above it.
#include "shell/hid_processor_winamp.h"
#include "shell/plugin_entry.h"
#include "ui/frm_config.h"

namespace {

void RunTfmConfig(TWinampHidProcessor& engine, HWND owner) {
    RunConfigDialog(engine, owner);
}

void BringTfmConfigToFront() {
    if (const TkvDialog* dialog = TkvDialog::Innermost(); dialog && dialog->Handle() != nullptr)
        SetForegroundWindow(dialog->Handle());
}

// Runs when the module starts, before the player can reach config.
const bool configDialogWired =
    (SetConfigDialogHooks({&RunTfmConfig, &BringTfmConfigToFront, &TkvDialog::CancelAll}), true);

} // namespace
