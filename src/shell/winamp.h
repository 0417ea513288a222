#pragma once
#include <windows.h>

// The player's side of the general-purpose plug-in interface: its message numbers and the
// header record it reads from a plug-in. Shared by the plug-in and the player stand-in, so both
// agree on every number by construction.

// WM_COMMAND identifiers of the player's main window (wParam; lParam 0).
inline constexpr WPARAM WINAMP_BUTTON1 = 40044; // Previous
inline constexpr WPARAM WINAMP_BUTTON2 = 40045; // Play
inline constexpr WPARAM WINAMP_BUTTON3 = 40046; // Pause
inline constexpr WPARAM WINAMP_BUTTON4 = 40047; // Stop
inline constexpr WPARAM WINAMP_BUTTON5 = 40048; // Next
inline constexpr WPARAM WINAMP_VOLUMEUP = 40058;
inline constexpr WPARAM WINAMP_VOLUMEDOWN = 40059;
inline constexpr WPARAM WINAMP_FFWD5S = 40060;
inline constexpr WPARAM WINAMP_REW5S = 40061;
inline constexpr WPARAM WINAMP_FILE_REPEAT = 40022;    // repeat on or off
inline constexpr WPARAM WINAMP_FILE_SHUFFLE = 40023;   // shuffle on or off
inline constexpr WPARAM WINAMP_FILE_PLAY = 40029;      // the "open file(s)" dialog, as Eject
inline constexpr WPARAM WINAMP_BUTTON4_CTRL = 40157;   // stop after this track, on or off
inline constexpr WPARAM WINAMP_BUTTON4_SHIFT = 40147;  // stop with fade-out
inline constexpr WPARAM WINAMP_BUTTON1_CTRL = 40154;   // start of playlist
inline constexpr WPARAM WINAMP_BUTTON5_CTRL = 40158;   // end of playlist
inline constexpr WPARAM WINAMP_MAIN_WINDOW = 40258;    // main window shown or hidden
inline constexpr WPARAM WINAMP_OPTIONS_PLEDIT = 40040; // playlist editor shown or hidden
inline constexpr WPARAM WINAMP_OPTIONS_EQ = 40036;     // equalizer shown or hidden
inline constexpr WPARAM WINAMP_OPTIONS_AOT = 40019;    // always on top, on or off
inline constexpr WPARAM WINAMP_OPTIONS_PREFS = 40012;  // the preferences

// WM_USER functions of the player's main window, selected by lParam.
inline constexpr LPARAM IPC_ISPLAYING = 104; // returns 1 playing, 3 paused, 0 stopped
inline constexpr LPARAM IPC_SETVOLUME = 122; // wParam: volume 0..255, or IPC_GETVOLUME
inline constexpr WPARAM IPC_GETVOLUME = static_cast<WPARAM>(-666); // returns the volume; sent
inline constexpr LPARAM IPC_SETRATING = 639;       // wParam: the playing track's rating 0..5
inline constexpr LPARAM IPC_IS_FULLSCREEN = 630;   // returns 1 in full-screen mode
inline constexpr LPARAM IPC_SET_VIS_FS_FLAG = 631; // wParam: 1 full screen
// wParam points at four 32-bit values, the first the full-screen flag; the block belongs to the
// sender, so the message must be sent, never posted.
inline constexpr LPARAM IPC_SET_VIDEO_FULLSCREEN = 1002;

// Header version the player accepts.
inline constexpr int GPPHDR_VER = 0x10;

// The record a plug-in's export returns. The player reads it as seven 4-byte fields; it writes
// hwndParent and hDllInstance before calling init.
struct winampGeneralPurposePlugin {
    int version;
    char* description;
    int (*init)();
    void (*config)();
    void (*quit)();
    HWND hwndParent;
    HINSTANCE hDllInstance;
};
// The player is a 32-bit program; the 64-bit build exists only to run the tests where 32-bit
// code cannot run, and keeps the same field order.
static_assert(sizeof(void*) != 4 || sizeof(winampGeneralPurposePlugin) == 28,
              "the player reads seven 4-byte fields");

// The plug-in's one export, looked up by this undecorated name.
inline constexpr char WinampPluginExportName[] = "winampGetGeneralPurposePlugin";
using winampGetGeneralPurposePluginProc = winampGeneralPurposePlugin* (*)();

// What a plug-in's uninstall hook answers: the player may quit, free and delete the DLL now, or
// only at its next start.
inline constexpr int GEN_PLUGIN_UNINSTALL_NOW = 1;
inline constexpr int GEN_PLUGIN_UNINSTALL_REBOOT = 0;

// The hook the player calls from its preferences before it removes a plug-in, looked up by this
// undecorated name; cdecl, with the plug-in's module, the preferences window and 0.
inline constexpr char WinampUninstallExportName[] = "winampUninstallPlugin";
using winampUninstallPluginProc = int (*)(HINSTANCE module, HWND parent, int param);
