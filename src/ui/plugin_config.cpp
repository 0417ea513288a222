// Part of gen_trelvon.dll itself: hands the shell its configuration dialog, so that the shell
// never depends on the dialogs above it.
#include "shell/hid_processor_winamp.h"
#include "shell/plugin_entry.h"
#include "ui/frm_config.h"

namespace {

void ShowTfmConfig(TWinampHidProcessor& engine) {
    RunConfigDialog(engine);
}

// Runs when the module starts, before the player can reach config.
const bool configDialogWired = (SetConfigDialogProc(&ShowTfmConfig), true);

} // namespace
