#pragma once
#include <windows.h>

#include "shell/winamp.h"

class TWinampHidProcessor;

// The module handle of gen_trelvon.dll, recorded by DllMain; this module's own handle before.
void SetPluginModule(HINSTANCE module);
HINSTANCE PluginModule();

// The player's one way in: the header record, with the description rebuilt in place and the
// three entry points filled in. cdecl, exported undecorated.
extern "C" __declspec(dllexport) winampGeneralPurposePlugin* winampGetGeneralPurposePlugin();

// The player's uninstall hook. Asks whether to remove kvhid.ini too; when the installer put this
// DLL there, starts its uninstaller to remove the installed-programs entry and itself; then lets
// the player quit, free and delete the DLL at once (GEN_PLUGIN_UNINSTALL_NOW). cdecl, exported
// undecorated.
extern "C" __declspec(dllexport) int winampUninstallPlugin(HINSTANCE module, HWND parent,
                                                           int param);

// The one engine of the module, created on first use with the player window of the record and
// the settings of kvhid.ini, its devices opened. None when that failed; nothing of a failed
// attempt is left behind, and the next call tries again.
TWinampHidProcessor* GetEngine();
// Destroys the engine, swallowing its errors; the slot is empty afterwards.
void ReleaseEngine();

// The configuration dialog lives above the shell; the module that contains both registers it
// here when it starts. Without it, config shows nothing.
struct TConfigDialogHooks {
    // Runs the dialog over `engine`, modal, owned by `owner`. It gives the engine its edits,
    // saves the settings and reopens the devices itself when closed with OK.
    void (*Run)(TWinampHidProcessor& engine, HWND owner) = nullptr;
    // Brings the running dialog, or the one open inside it, to the front.
    void (*BringToFront)() = nullptr;
    // Ends the running dialog, and every dialog inside it, as Cancel would.
    void (*CancelAll)() = nullptr;
};
void SetConfigDialogHooks(const TConfigDialogHooks& hooks);
