#pragma once
#include <windows.h>

#include <cstddef>
#include <functional>

class THostLog;

// Serves the calling thread's messages until done() holds or timeoutMs has passed; true when
// done() held. The plug-in's windows and timers live on this thread, so waiting means serving.
bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs);
// Serves the calling thread's messages for milliseconds.
void PumpMessagesFor(DWORD milliseconds);

// The player's main window as a plug-in sees it: class "Winamp v1.x", answering the play-state,
// full-screen and volume queries and recording every command in the log. Hidden; owned by the
// thread that creates it. One at a time per process, as the class name is fixed.
class TPlayerWindow {
public:
    explicit TPlayerWindow(THostLog& log);
    TPlayerWindow(const TPlayerWindow&) = delete;
    TPlayerWindow& operator=(const TPlayerWindow&) = delete;
    ~TPlayerWindow();

    HWND Handle() const { return handle_; }

    // The answer to the play-state query: 1 playing, 3 paused, 0 stopped.
    int PlayState() const { return playState_; }
    void SetPlayState(int state) { playState_ = state; }
    // The answer to the full-screen query is 1 while this is true.
    bool FullScreen() const { return fullScreen_; }
    void SetFullScreen(bool fullScreen) { fullScreen_ = fullScreen; }
    // The answer to the volume query: the last volume set. Volume Up and Down leave it, as the
    // player's step is its own business.
    WPARAM Volume() const { return volume_; }
    void SetVolume(WPARAM volume) { volume_ = volume; }

    // Serves messages until the log holds count commands; false on time-out.
    bool WaitForCommands(std::size_t count, DWORD timeoutMs);

    // Raised when someone asks the window to close; the window itself stays.
    std::function<void()> OnClose;

private:
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    THostLog& log_;
    HINSTANCE instance_;
    ATOM class_ = 0;
    HWND handle_ = nullptr;
    int playState_ = 0;
    bool fullScreen_ = false;
    WPARAM volume_ = 128;
};
