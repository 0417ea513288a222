// The player bridge against a stand-in player window on a thread of its own, which records every
// message, whether it was sent or posted, and answers the play-state and full-screen queries.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "shell/hid_processor_winamp.h"
#include "shell/winamp.h"
#include "support/win_test_support.h"

namespace {

struct TMessage {
    UINT Message;
    WPARAM WParam;
    LPARAM LParam;
    bool Sent;
    std::vector<std::int32_t> Block; // the four values behind a full-screen request
    bool operator==(const TMessage&) const = default;
};

TMessage Posted(UINT message, WPARAM wParam, LPARAM lParam) {
    return {message, wParam, lParam, false, {}};
}
TMessage Sent(UINT message, WPARAM wParam, LPARAM lParam) {
    return {message, wParam, lParam, true, {}};
}

class TRecordingPlayer {
public:
    TRecordingPlayer() {
        thread_ = std::thread([this] { Run(); });
        PumpUntil([this] { return window_ != nullptr; });
    }
    ~TRecordingPlayer() {
        PostMessageA(window_, WM_CLOSE, 0, 0);
        thread_.join();
    }
    HWND Window() const { return window_; }
    std::atomic<LRESULT> PlayState{0}, FullScreen{0};

    // The messages once `count` have arrived (posted ones come after the call returned).
    std::vector<TMessage> Take(std::size_t count) {
        PumpUntil([&] { return Count() >= count; }, 3000);
        Sleep(20); // anything beyond `count` would show up as well
        std::lock_guard lock(mutex_);
        return std::exchange(messages_, {});
    }

private:
    std::size_t Count() {
        std::lock_guard lock(mutex_);
        return messages_.size();
    }
    void Run() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "TRecordingPlayer";
        RegisterClassA(&wc);
        HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      wc.hInstance, nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        window_ = window;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        UnregisterClassA(wc.lpszClassName, wc.hInstance);
    }
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TRecordingPlayer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (message == WM_CLOSE) {
            DestroyWindow(window);
            PostQuitMessage(0);
            return 0;
        }
        if (self == nullptr || (message != WM_COMMAND && message != WM_USER))
            return DefWindowProcA(window, message, wParam, lParam);
        TMessage m{message, wParam, lParam, InSendMessage() != FALSE, {}};
        if (message == WM_USER && lParam == IPC_SET_VIDEO_FULLSCREEN) {
            const auto* block = reinterpret_cast<const std::int32_t*>(wParam);
            m.Block.assign(block, block + 4);
            m.WParam = 0;
        }
        {
            std::lock_guard lock(self->mutex_);
            self->messages_.push_back(m);
        }
        if (message == WM_USER && lParam == IPC_ISPLAYING)
            return self->PlayState;
        if (message == WM_USER && lParam == IPC_IS_FULLSCREEN)
            return self->FullScreen;
        return 0;
    }

    std::atomic<HWND> window_{nullptr};
    std::mutex mutex_;
    std::vector<TMessage> messages_;
    std::thread thread_;
};

class PlayerBridge : public testing::Test {
protected:
    PlayerBridge() { engine_.SetPlayerWindow(player_.Window()); }
    TRecordingPlayer player_;
    TWinampHidProcessor engine_;
};

TEST_F(PlayerBridge, OffersOnlyThePlayersCommands) {
    EXPECT_EQ(engine_.SupportedActions(), 0x27FF);
    EXPECT_EQ(engine_.SettingsFileName(), "kvhid.ini");
    EXPECT_FALSE(engine_.Muted());
}

TEST_F(PlayerBridge, PostsOneCommandPerAction) {
    const std::pair<std::uint8_t, WPARAM> table[] = {{atNext, 40048},       {atPrevious, 40044},
                                                     {atStop, 40047},       {atVolumeUp, 40058},
                                                     {atVolumeDown, 40059}, {atForward, 40060},
                                                     {atBackward, 40061},   {atPlay, 40045},
                                                     {atPause, 40046},      {atUnknown, 0},
                                                     {atEject, 0},          {atShuffle, 0},
                                                     {atRepeat, 0},         {200, 0}};
    std::vector<TMessage> expected;
    for (const auto& [type, command] : table) {
        engine_.ExecuteAction(type);
        expected.push_back(Posted(WM_COMMAND, command, 0));
    }
    EXPECT_EQ(player_.Take(expected.size()), expected);
}

TEST_F(PlayerBridge, PlayPauseAsksThePlayStateFirst) {
    for (const auto& [state, command] : {std::pair{1, 40046}, {3, 40045}, {0, 40045}}) {
        player_.PlayState = state;
        engine_.ExecuteAction(atPlayPause);
        EXPECT_EQ(player_.Take(2), (std::vector<TMessage>{Sent(WM_USER, 0, IPC_ISPLAYING),
                                                          Posted(WM_COMMAND, command, 0)}))
            << "play state " << state;
    }
}

TEST_F(PlayerBridge, MuteTogglesBetweenSilenceAndTheFixedVolume) {
    engine_.ExecuteAction(atMute);
    EXPECT_TRUE(engine_.Muted());
    engine_.ExecuteAction(atMute);
    EXPECT_FALSE(engine_.Muted());
    EXPECT_EQ(player_.Take(2), (std::vector<TMessage>{Posted(WM_USER, 0, IPC_SETVOLUME),
                                                      Posted(WM_USER, 128, IPC_SETVOLUME)}));
}

TEST_F(PlayerBridge, FullScreenSendsItsSequenceWithTheBlock) {
    player_.FullScreen = 1;
    engine_.ExecuteAction(atFullScreen);
    TMessage request = Sent(WM_USER, 0, IPC_SET_VIDEO_FULLSCREEN);
    request.Block = {1, 0, 0, 0};
    EXPECT_EQ(player_.Take(3),
              (std::vector<TMessage>{Sent(WM_USER, 0, IPC_IS_FULLSCREEN),
                                     Sent(WM_USER, 1, IPC_SET_VIS_FS_FLAG), request}));
    player_.FullScreen = 0;
    engine_.ExecuteAction(atFullScreen);
    request.Block = {0, 0, 0, 0};
    EXPECT_EQ(player_.Take(2),
              (std::vector<TMessage>{Sent(WM_USER, 0, IPC_IS_FULLSCREEN), request}));
}

} // namespace
