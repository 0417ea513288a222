#include <windows.h>

#include "shell/plugin_entry.h"

// Loader-lock rules: record the module handle and nothing else.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        SetPluginModule(instance);
    return TRUE;
}
