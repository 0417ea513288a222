#include "shell/hid_processor_winamp.h"

#include <string>

#include "shell/winamp.h"
#include "framework/kv_hex.h"

namespace {

// The player's volumes; an answer outside them is no volume.
constexpr LRESULT kLoudest = 255;

// The actions that are one posted player command each.
struct TPlayerCommand {
    std::uint8_t Type;
    WPARAM Command;
};
constexpr TPlayerCommand kPlayerCommands[] = {
    {atNext, WINAMP_BUTTON5},          {atPrevious, WINAMP_BUTTON1},
    {atStop, WINAMP_BUTTON4},          {atVolumeUp, WINAMP_VOLUMEUP},
    {atVolumeDown, WINAMP_VOLUMEDOWN}, {atForward, WINAMP_FFWD5S},
    {atBackward, WINAMP_REW5S},        {atPlay, WINAMP_BUTTON2},
    {atPause, WINAMP_BUTTON3},         {atEject, WINAMP_FILE_PLAY},
    {atShuffle, WINAMP_FILE_SHUFFLE},  {atRepeat, WINAMP_FILE_REPEAT},
};

// The commands beyond the types that are one posted player command each.
struct TMenuCommand {
    THidCommandKind Kind;
    WPARAM Command;
};
constexpr TMenuCommand kMenuCommands[] = {
    {THidCommandKind::StopAfterTrack, WINAMP_BUTTON4_CTRL},
    {THidCommandKind::StopFade, WINAMP_BUTTON4_SHIFT},
    {THidCommandKind::PlaylistStart, WINAMP_BUTTON1_CTRL},
    {THidCommandKind::PlaylistEnd, WINAMP_BUTTON5_CTRL},
    {THidCommandKind::MainWindow, WINAMP_MAIN_WINDOW},
    {THidCommandKind::PlaylistWindow, WINAMP_OPTIONS_PLEDIT},
    {THidCommandKind::EqualizerWindow, WINAMP_OPTIONS_EQ},
    {THidCommandKind::AlwaysOnTop, WINAMP_OPTIONS_AOT},
    {THidCommandKind::Preferences, WINAMP_OPTIONS_PREFS},
};

std::string WindowText(const char* label, HWND window) {
    return label + kvHex(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window)), 8);
}

} // namespace

TWinampHidProcessor::TWinampHidProcessor() {
    SetSettingsFileName(kSettingsFileName);
    SetSupportedActions(SupportedActions() & kPlayerActions);
}

void TWinampHidProcessor::PostCommand(WPARAM command) {
    PostMessageA(playerWindow_, WM_COMMAND, command, 0);
}

void TWinampHidProcessor::ExecuteAction(std::uint8_t type) {
    THidProcessor::ExecuteAction(type);
    for (const TPlayerCommand& command : kPlayerCommands)
        if (command.Type == type) {
            PostCommand(command.Command);
            return;
        }
    switch (type) {
    case atPlayPause:
        // 1 is playing; paused (3) and stopped (0) both resume with Play.
        PostCommand(SendMessageA(playerWindow_, WM_USER, 0, IPC_ISPLAYING) == 1 ? WINAMP_BUTTON3
                                                                                : WINAMP_BUTTON2);
        break;
    case atFullScreen:
        ToggleFullScreen();
        break;
    case atMute:
        ToggleMute();
        break;
    default: // Unknown and anything out of range: no player function
        PostCommand(0);
        break;
    }
}

void TWinampHidProcessor::ExecuteCommand(const THidCommand& command) {
    for (const TMenuCommand& menu : kMenuCommands)
        if (menu.Kind == command.Kind) {
            PostCommand(menu.Command);
            return;
        }
    switch (command.Kind) {
    case THidCommandKind::Rate:
        PostMessageA(playerWindow_, WM_USER, command.Number, IPC_SETRATING);
        break;
    case THidCommandKind::Menu:
        PostCommand(command.Number);
        break;
    default: // a kind this bridge does not know runs what an Unknown action runs
        THidProcessor::ExecuteCommand(command);
        break;
    }
}

void TWinampHidProcessor::ToggleMute() {
    // Asked at every Mute: a volume while muted means the user turned it up meanwhile, and
    // unmuting to the old volume would undo that; muting again keeps the new one instead.
    const LRESULT volume = SendMessageA(playerWindow_, WM_USER, IPC_GETVOLUME, IPC_SETVOLUME);
    const bool audible = volume > 0 && volume <= kLoudest;
    if (muted_ && !audible) {
        muted_ = false;
        PostMessageA(playerWindow_, WM_USER, volumeBeforeMute_, IPC_SETVOLUME);
        return;
    }
    // Silent already, or no answer: nothing to give back but the middle volume.
    volumeBeforeMute_ = audible ? static_cast<std::uint32_t>(volume) : kUnmutedVolume;
    muted_ = true;
    PostMessageA(playerWindow_, WM_USER, 0, IPC_SETVOLUME);
}

void TWinampHidProcessor::ToggleFullScreen() {
    OutputDebugStringA(WindowText("player hWnd:", playerWindow_).c_str());
    const LRESULT isFullScreen = SendMessageA(playerWindow_, WM_USER, 0, IPC_IS_FULLSCREEN);
    OutputDebugStringA(("IS Full Screen eee ?:" + std::to_string(isFullScreen)).c_str());
    std::int32_t flag = 0;
    if (isFullScreen == 1) {
        flag = 1;
        OutputDebugStringA(WindowText("VIDEO hWnd:", playerWindow_).c_str());
        SendMessageA(playerWindow_, WM_USER, 1, IPC_SET_VIS_FS_FLAG);
    }
    // Read by the player during the send below; it lives until the send returns.
    std::int32_t block[4] = {flag, 0, 0, 0};
    OutputDebugStringA("Full Screen 223332 !!!");
    SendMessageA(playerWindow_, WM_USER, reinterpret_cast<WPARAM>(block), IPC_SET_VIDEO_FULLSCREEN);
}
