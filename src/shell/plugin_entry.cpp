#include "shell/plugin_entry.h"

#include <shellapi.h>

#include <exception>
#include <iterator>
#include <memory>
#include <string>

#include "engine/settings_file.h"
#include "framework/kv_module.h"
#include "hid/kv_win32.h"
#include "hid/kv_win32_di.h"
#include "shell/file_version.h"
#include "shell/hid_processor_winamp.h"

namespace {

constexpr char kErrorCaption[] = "Error!";
// Shown for a failure that carries no text of its own.
constexpr char kUnexpectedError[] = "An unexpected error occurred.";

HINSTANCE pluginModule = nullptr;
winampGeneralPurposePlugin header{};
// The record points here for the life of the module: a player may keep the pointer, so the text
// is rewritten in place and never moves.
char description[128] = "";
std::unique_ptr<TWinampHidProcessor> engine;
TConfigDialogHooks configDialog;
bool configRunning = false;
// Set when quit runs while the configuration dialog is open.
bool quitDuringConfig = false;

int Init();
void Config();
void Quit();

void FillDescription() {
    std::string version;
    try {
        version = FileVersionText(kvModuleFileName(PluginModule()));
    } catch (...) {
        // Without version information the description ends after the "v".
    }
    const std::string text = "Quorivex HID Plugin v" + version;
    description[text.copy(description, sizeof description - 1)] = 0;
}

void ShowError(const char* text) {
    MessageBoxA(header.hwndParent, text != nullptr && *text != 0 ? text : kUnexpectedError,
                kErrorCaption, MB_OK);
}

int Init() {
    try {
        return GetEngine() != nullptr ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

// While config runs, a reference of its own keeps this module loaded: the player may call quit
// from inside the dialog's message loop and free the library right after, while this module's
// code is still on the stack. After such a quit the reference stays, since the player is exiting.
class TConfigScope {
public:
    TConfigScope() {
        configRunning = true;
        quitDuringConfig = false;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCSTR>(&Config), &module_))
            module_ = nullptr;
    }
    ~TConfigScope() {
        configRunning = false;
        if (module_ != nullptr && !quitDuringConfig)
            FreeLibrary(module_);
        quitDuringConfig = false;
    }
    TConfigScope(const TConfigScope&) = delete;
    TConfigScope& operator=(const TConfigScope&) = delete;

private:
    HMODULE module_ = nullptr;
};

void Config() {
    try {
        if (configRunning) {
            if (configDialog.BringToFront != nullptr)
                configDialog.BringToFront();
            return;
        }
        TWinampHidProcessor* current = GetEngine();
        if (current == nullptr) {
            MessageBoxA(header.hwndParent, "HID class is not initialized.", kErrorCaption, MB_OK);
            return;
        }
        if (configDialog.Run == nullptr)
            return;
        TConfigScope scope;
        configDialog.Run(*current, header.hwndParent);
    } catch (const std::exception& error) {
        ShowError(error.what());
    } catch (...) {
        ShowError(nullptr);
    }
}

void Quit() {
    try {
        // The dialog ends first, so that nothing of it reaches the engine once it is gone.
        if (configRunning) {
            quitDuringConfig = true;
            if (configDialog.CancelAll != nullptr)
                configDialog.CancelAll();
        }
        ReleaseEngine();
        // FreeLibrary is not allowed in DllMain, and the player may unload the module right
        // after this call.
        UnloadHidLibraries();
    } catch (...) {
        // The player is going on without the plug-in either way.
    }
}

// kvhid.ini, and its folder when nothing else is left in it. The path is UTF-8, for a profile
// folder of any name.
void RemoveSettings() {
    const std::string path = DefaultSettingsPath(TWinampHidProcessor::kSettingsFileName);
    PlatformSettingsStore().Remove(path);
    const std::size_t folderEnd = path.find_last_of('\\');
    if (folderEnd != std::string::npos)
        RemoveDirectoryW(WideFromUtf8(path.substr(0, folderEnd)).c_str());
}

// The installer puts the DLL at <player>\Plugins\gen_trelvon.dll and its uninstaller at
// <player>\uninstall_trelvon.exe. The uninstaller when this DLL is the one it installed and it
// is still there; empty for a DLL copied by hand.
std::wstring InstalledUninstaller() {
    wchar_t module[4096];
    const DWORD length =
        GetModuleFileNameW(PluginModule(), module, static_cast<DWORD>(std::size(module)));
    if (length == 0 || length >= std::size(module))
        return {};
    const std::wstring path(module, length);
    const std::wstring installed = L"\\Plugins\\gen_trelvon.dll";
    if (path.size() <= installed.size() ||
        lstrcmpiW(path.c_str() + path.size() - installed.size(), installed.c_str()) != 0)
        return {};
    const std::wstring uninstaller =
        path.substr(0, path.size() - installed.size()) + L"\\uninstall_trelvon.exe";
    const DWORD attributes = GetFileAttributesW(uninstaller.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return {};
    return uninstaller;
}

// The player, which runs without elevation, cannot remove the installed-programs entry; the
// uninstaller asks for elevation by its manifest, which ShellExecuteEx honours. It is not waited
// for: it waits itself until the player has freed and deleted this DLL. /FROMPLAYER tells it not
// to close the player that started it. The settings are not its business here: the hook has
// dealt with them in the user's own profile, which an uninstaller elevated as another account
// would not see.
void StartUninstaller(const std::wstring& uninstaller, HWND parent) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The player frees this DLL right after the hook returns: nothing of the call may be left
    // running in it. A refused elevation needs no error box of the shell's either.
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = parent;
    info.lpFile = uninstaller.c_str();
    info.lpParameters = L"/S /FROMPLAYER";
    info.nShow = SW_SHOWNORMAL;
    ShellExecuteExW(&info);
}

} // namespace

void SetPluginModule(HINSTANCE module) {
    pluginModule = module;
}

HINSTANCE PluginModule() {
    return pluginModule != nullptr ? pluginModule : kvThisModule();
}

extern "C" winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() {
    try {
        FillDescription();
    } catch (...) {
        description[0] = 0;
    }
    header.version = GPPHDR_VER;
    header.description = description;
    header.init = &Init;
    header.config = &Config;
    header.quit = &Quit;
    return &header;
}

extern "C" int winampUninstallPlugin(HINSTANCE, HWND parent, int) {
    try {
        // No is the default: a stray Enter must not lose the user's bindings.
        if (MessageBoxA(parent, "Also remove your settings (kvhid.ini)?", "Quorivex HID Plugin",
                        MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
            RemoveSettings();
    } catch (...) {
        // The DLL goes either way; a settings file left behind is harmless.
    }
    try {
        const std::wstring uninstaller = InstalledUninstaller();
        if (!uninstaller.empty())
            StartUninstaller(uninstaller, parent);
    } catch (...) {
        // Without it the player still removes the DLL; the entry stays for the uninstaller.
    }
    // Either way the player frees and deletes the DLL at once; an uninstaller that finds it gone
    // has nothing left to wait for.
    return GEN_PLUGIN_UNINSTALL_NOW;
}

TWinampHidProcessor* GetEngine() {
    if (engine)
        return engine.get();
    try {
        engine = std::make_unique<TWinampHidProcessor>();
        engine->SetPlayerWindow(header.hwndParent);
        engine->LoadSettings();
        engine->ReopenDevices();
        return engine.get();
    } catch (...) {
        // Threads and ports go while the slot still holds the engine, so that nothing that runs
        // during the joins can start a second one; then the windows and timers with the engine.
        ReleaseEngine();
        return nullptr;
    }
}

void ReleaseEngine() {
    if (!engine)
        return;
    try {
        engine->CloseDevices();
    } catch (...) {
        // Destroying the engine closes whatever is still open.
    }
    engine.reset();
}

void SetConfigDialogHooks(const TConfigDialogHooks& hooks) {
    configDialog = hooks;
}
