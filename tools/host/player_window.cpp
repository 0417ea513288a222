#include "host/player_window.h"

#include "framework/kv_error.h"
#include "host/host_log.h"
#include "shell/winamp.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <string>

namespace {

const char PlayerClassName[] = "Winamp v1.x";

std::string SystemErrorText(const char* what) {
    return std::string(what) + " failed with error " + std::to_string(GetLastError());
}

} // namespace

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // Leave the quit for the loop that owns the thread.
                PostQuitMessage(static_cast<int>(message.wParam));
                return done();
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (done())
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()), QS_ALLINPUT);
    }
}

void PumpMessagesFor(DWORD milliseconds) {
    PumpMessagesUntil([] { return false; }, milliseconds);
}

TPlayerWindow::TPlayerWindow(THostLog& log) : log_(log), instance_(GetModuleHandleA(nullptr)) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.lpszClassName = PlayerClassName;
    class_ = RegisterClassExA(&windowClass);
    if (class_ == 0)
        throw EkvError(SystemErrorText("RegisterClassEx of the player window"));
    handle_ = CreateWindowExA(0, PlayerClassName, "Winamp", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 275, 116, nullptr, nullptr, instance_, this);
    if (handle_ == nullptr) {
        const std::string text = SystemErrorText("CreateWindowEx of the player window");
        UnregisterClassA(PlayerClassName, instance_);
        throw EkvError(text);
    }
}

TPlayerWindow::~TPlayerWindow() {
    DestroyWindow(handle_);
    UnregisterClassA(PlayerClassName, instance_);
}

bool TPlayerWindow::WaitForCommands(std::size_t count, DWORD timeoutMs) {
    return PumpMessagesUntil([&] { return log_.Commands().size() >= count; }, timeoutMs);
}

LRESULT CALLBACK TPlayerWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* created = static_cast<TPlayerWindow*>(create->lpCreateParams);
        created->handle_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    }
    auto* self = reinterpret_cast<TPlayerWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& error) {
        self->log_.Note(std::string("player window: ") + error.what());
    } catch (...) {
        self->log_.Note("player window: unexpected failure");
    }
    return 0;
}

LRESULT TPlayerWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        log_.AddCommand(message, wParam, lParam);
        return 0;
    case WM_USER:
        switch (lParam) {
        case IPC_ISPLAYING:
            return playState_;
        case IPC_IS_FULLSCREEN:
            return fullScreen_ ? 1 : 0;
        case IPC_SETVOLUME:
            if (wParam == IPC_GETVOLUME)
                return static_cast<LRESULT>(volume_);
            volume_ = wParam;
            log_.AddCommand(message, wParam, lParam);
            return 0;
        case IPC_SET_VIDEO_FULLSCREEN:
            // Sent, so the sender's block is valid while we read it.
            log_.AddCommand(message, wParam, lParam,
                            reinterpret_cast<const std::uint32_t*>(wParam));
            return 0;
        default:
            log_.AddCommand(message, wParam, lParam);
            return 0;
        }
    case WM_CLOSE:
        if (OnClose)
            OnClose();
        return 0;
    case WM_DESTROY:
        SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
        return 0;
    default:
        return DefWindowProcA(handle_, message, wParam, lParam);
    }
}
