#pragma once
#include <windows.h>

#include <string>

// The module that contains the calling code: gen_trelvon.dll in the player, or a test program.
// Window classes, dialogs and resources belong to it.
HINSTANCE kvThisModule();

// The full file name of `module`; empty when the system cannot tell it.
std::string kvModuleFileName(HMODULE module = kvThisModule());
