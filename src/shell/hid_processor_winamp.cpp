#include "shell/hid_processor_winamp.h"

#include <string>

#include "shell/winamp.h"
#include "framework/kv_hex.h"

namespace {

// The volume Mute returns to; the volume before muting is not known to the plug-in.
constexpr WPARAM kUnmutedVolume = 128;

// The actions that are one posted player command each.
struct TPlayerCommand {
    std::uint8_t Type;
    WPARAM Command;
};
constexpr TPlayerCommand kPlayerCommands[] = {
    {atNext, WINAMP_BUTTON5},      {atPrevious, WINAMP_BUTTON1},      {atStop, WINAMP_BUTTON4},
    {atVolumeUp, WINAMP_VOLUMEUP}, {atVolumeDown, WINAMP_VOLUMEDOWN}, {atForward, WINAMP_FFWD5S},
    {atBackward, WINAMP_REW5S},    {atPlay, WINAMP_BUTTON2},          {atPause, WINAMP_BUTTON3},
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
        muted_ = !muted_;
        PostMessageA(playerWindow_, WM_USER, muted_ ? 0 : kUnmutedVolume, IPC_SETVOLUME);
        break;
    default: // Unknown, Eject, Shuffle, Repeat and anything out of range: no player function
        PostCommand(0);
        break;
    }
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
