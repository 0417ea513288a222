// trelvon_host: plays the player's part for a gen_*.dll plug-in and prints, with the time since
// start, every command the plug-in sends it.
//
//   trelvon_host [--playstate N] [--fullscreen] [--run MS] [--stay] [PLUGIN.dll]
//   trelvon_host [--playstate N] [--fullscreen] [--script FILE] [PLUGIN.dll]
//   trelvon_host [--playstate N] [--fullscreen] [--run MS] [--stay] --folder PLAYERFOLDER
//
// Without a script the plug-in is loaded, or with --folder every PLAYERFOLDER\Plugins\gen_*.dll
// as the player loads them, and the host serves messages until Ctrl+C, until it is asked to
// close or, with --run, for MS milliseconds; then it calls quit and frees each plug-in. With
// --stay it hears a request to close and ignores it, as a player that waits for an answer to a
// question of its own. A script that declares devices runs them on the simulated HID bus, which
// needs the bus's library doubles in system32 and WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n
// (scripts/demo sets both up).

#include "framework/kv_error.h"
#include "host/host_log.h"
#include "host/host_plugin.h"
#include "host/host_script.h"
#include "host/host_sim_driver.h"
#include "host/player_window.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

HWND g_playerWindow = nullptr;

BOOL WINAPI StopOnControlC(DWORD) {
    PostMessageA(g_playerWindow, WM_CLOSE, 0, 0);
    return TRUE;
}

struct TOptions {
    std::string PluginFileName;
    std::string ScriptFileName;
    std::string PlayerFolder;
    int PlayState = 0;
    bool FullScreen = false;
    bool Stay = false;
    long RunMs = -1;
};

TOptions ParseOptions(int argc, char** argv) {
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--playstate" && hasValue)
            options.PlayState = std::atoi(argv[++i]);
        else if (arg == "--fullscreen")
            options.FullScreen = true;
        else if (arg == "--stay")
            options.Stay = true;
        else if (arg == "--run" && hasValue)
            options.RunMs = std::atol(argv[++i]);
        else if (arg == "--script" && hasValue)
            options.ScriptFileName = argv[++i];
        else if (arg == "--folder" && hasValue)
            options.PlayerFolder = argv[++i];
        else if (!arg.empty() && arg[0] != '-' && options.PluginFileName.empty())
            options.PluginFileName = arg;
        else
            throw EkvError("usage: trelvon_host [--playstate N] [--fullscreen] [--run MS] "
                           "[--stay] [--script FILE] [PLUGIN.dll] | --folder PLAYERFOLDER");
    }
    if (!options.PlayerFolder.empty() &&
        !(options.PluginFileName.empty() && options.ScriptFileName.empty()))
        throw EkvError("--folder loads the folder's plug-ins; it takes no plug-in or script");
    if (options.PluginFileName.empty() && options.ScriptFileName.empty() &&
        options.PlayerFolder.empty())
        throw EkvError("name a plug-in, a script or a player folder");
    return options;
}

std::string ReadFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file)
        throw EkvError("cannot read " + fileName);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// As the player does on close: quit and free the plug-ins at once, even from inside one of their
// dialogs, then leave the message loop.
void UnloadOnClose(TPlayerWindow& player, std::function<void()> unload) {
    player.OnClose = [unload = std::move(unload)] {
        unload();
        PostQuitMessage(0);
    };
}

int Run(const TOptions& options, THostLog& log) {
    TPlayerWindow player(log);
    player.SetPlayState(options.PlayState);
    player.SetFullScreen(options.FullScreen);
    g_playerWindow = player.Handle();
    SetConsoleCtrlHandler(StopOnControlC, TRUE);

    if (!options.ScriptFileName.empty()) {
        const auto steps = ParseHostScript(ReadFile(options.ScriptFileName));
        std::unique_ptr<THostSimDriver> bus;
        if (std::any_of(steps.begin(), steps.end(), [](const THostStep& step) {
                return step.Kind == THostStep::TKind::Device;
            }))
            bus = std::make_unique<THostSimDriver>();
        // Declared after the bus: the plug-in is unloaded while its devices still exist.
        THostSession session(player, log, options.PluginFileName, bus.get());
        UnloadOnClose(player, [&session] { session.Unload(); });
        session.Run(steps);
        session.Unload();
        return 0;
    }
    const std::vector<std::string> files = options.PlayerFolder.empty()
                                               ? std::vector{options.PluginFileName}
                                               : PluginsInFolder(options.PlayerFolder);
    std::vector<std::unique_ptr<THostPlugin>> plugins;
    const auto unloadAll = [&] {
        while (!plugins.empty()) {
            log.Note("quit()");
            plugins.pop_back();
        }
    };
    if (!options.Stay)
        UnloadOnClose(player, unloadAll);
    for (const std::string& file : files) {
        plugins.push_back(std::make_unique<THostPlugin>(file, player.Handle()));
        log.Note("loaded " + file + ": " + plugins.back()->Description());
    }
    if (options.RunMs >= 0) {
        PumpMessagesFor(static_cast<DWORD>(options.RunMs));
    } else {
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    unloadAll();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    THostLog log;
    log.OnLine = [](const std::string& line) {
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
    };
    try {
        return Run(ParseOptions(argc, argv), log);
    } catch (const std::exception& error) {
        log.Note(error.what());
        return 1;
    }
}
