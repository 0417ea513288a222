// A stand-in plug-in for the player stand-in's tests. It reports its own calls as player
// commands, so a test reads them from the host's log: init posts Next and Volume Up, config
// asks the play state as the command bridge does, quit sends Stop.
#include "shell/winamp.h"

#ifndef FAKE_VERSION
#define FAKE_VERSION GPPHDR_VER
#endif
#ifndef FAKE_INIT_RESULT
#define FAKE_INIT_RESULT 0
#endif

namespace {

char description[] = "Fake plug-in";
winampGeneralPurposePlugin header;

int Init() {
    PostMessageA(header.hwndParent, WM_COMMAND, WINAMP_BUTTON5, 0);
    PostMessageA(header.hwndParent, WM_COMMAND, WINAMP_VOLUMEUP, 0);
    return FAKE_INIT_RESULT;
}

void Config() {
    const LRESULT playing = SendMessageA(header.hwndParent, WM_USER, 0, IPC_ISPLAYING);
    PostMessageA(header.hwndParent, WM_COMMAND, playing == 1 ? WINAMP_BUTTON3 : WINAMP_BUTTON2, 0);
    if (SendMessageA(header.hwndParent, WM_USER, 0, IPC_IS_FULLSCREEN) == 1) {
        SendMessageA(header.hwndParent, WM_USER, 1, IPC_SET_VIS_FS_FLAG);
        unsigned block[4] = {1, 0, 0, 0};
        SendMessageA(header.hwndParent, WM_USER, reinterpret_cast<WPARAM>(block),
                     IPC_SET_VIDEO_FULLSCREEN);
    }
}

void Quit() {
    SendMessageA(header.hwndParent, WM_COMMAND, WINAMP_BUTTON4, 0);
}

} // namespace

extern "C" __declspec(dllexport) winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() {
    // The player's fields stay as the player wrote them.
    header.version = FAKE_VERSION;
    header.description = description;
    header.init = Init;
    header.config = Config;
    header.quit = Quit;
    return &header;
}
