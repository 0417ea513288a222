// trelvon_host: plays the player's part for a gen_*.dll plug-in and prints, with the time since
// start, every command the plug-in sends it.
//
//   trelvon_host [--playstate N] [--fullscreen] [--run MS] [--script FILE] [PLUGIN.dll]
//
// Without a script the plug-in is loaded and the host serves messages until Ctrl+C or, with
// --run, for MS milliseconds; then it calls quit and frees the plug-in. A script that declares
// devices runs them on the simulated HID bus, which needs the bus's library doubles in system32
// and WINEDLLOVERRIDES=hid,setupapi,cfgmgr32=n (scripts/demo sets both up).

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
#include <memory>
#include <sstream>
#include <string>

namespace {

HWND g_playerWindow = nullptr;

BOOL WINAPI StopOnControlC(DWORD) {
    PostMessageA(g_playerWindow, WM_CLOSE, 0, 0);
    return TRUE;
}

struct TOptions {
    std::string PluginFileName;
    std::string ScriptFileName;
    int PlayState = 0;
    bool FullScreen = false;
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
        else if (arg == "--run" && hasValue)
            options.RunMs = std::atol(argv[++i]);
        else if (arg == "--script" && hasValue)
            options.ScriptFileName = argv[++i];
        else if (!arg.empty() && arg[0] != '-' && options.PluginFileName.empty())
            options.PluginFileName = arg;
        else
            throw EkvError("usage: trelvon_host [--playstate N] [--fullscreen] [--run MS] "
                           "[--script FILE] [PLUGIN.dll]");
    }
    if (options.PluginFileName.empty() && options.ScriptFileName.empty())
        throw EkvError("name a plug-in or a script");
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

// As the player does on close: quit and free the plug-in at once, even from inside one of its
// dialogs, then leave the message loop.
void CloseEndsSession(TPlayerWindow& player, THostSession& session) {
    player.OnClose = [&session] {
        session.Unload();
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
        CloseEndsSession(player, session);
        session.Run(steps);
        session.Unload();
        return 0;
    }
    THostSession session(player, log, options.PluginFileName, nullptr);
    CloseEndsSession(player, session);
    session.Run(THostStep{THostStep::TKind::Load, 0, {}, {}, 0, {}, {}});
    if (options.RunMs >= 0) {
        PumpMessagesFor(static_cast<DWORD>(options.RunMs));
    } else {
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    session.Unload();
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
