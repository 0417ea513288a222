#pragma once
#include <windows.h>

// The module handle of gen_trelvon.dll, recorded by DllMain.
void SetPluginModule(HINSTANCE module);
HINSTANCE PluginModule();
