#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/kv_handle.h"

struct winampGeneralPurposePlugin;

struct TFreeLibrary {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
// Owns the library handle of a loaded plug-in.
using TLibraryHandle = TkvScoped<HMODULE, TFreeLibrary>;

// A gen_*.dll loaded the way the player loads it: the export, a header of version 16, the
// player window and module handle written into the header, then init. Destroying it calls quit
// and frees the library, in that order.
class THostPlugin {
public:
    // Raises EkvError saying why a library is no usable plug-in or why init failed; the library
    // is freed again by then and quit is not called, as init never succeeded.
    THostPlugin(const std::string& fileName, HWND playerWindow);
    THostPlugin(const THostPlugin&) = delete;
    THostPlugin& operator=(const THostPlugin&) = delete;
    ~THostPlugin();

    const std::string& FileName() const { return fileName_; }
    HMODULE Module() const { return library_.Get(); }
    // The header's description as the player reads it, before init.
    const std::string& Description() const { return description_; }
    void Config();
    // Calls the uninstall hook as the player's preferences do, with the preferences window as
    // parent. A plug-in without the hook can only be removed at the next start.
    int Uninstall(HWND parent);

private:
    std::string fileName_;
    TLibraryHandle library_;
    winampGeneralPurposePlugin* header_ = nullptr;
    std::string description_;
};

// The plug-ins the player loads from its folder: every Plugins\gen_*.dll, in the order the
// system lists them.
std::vector<std::string> PluginsInFolder(const std::string& playerFolder);
