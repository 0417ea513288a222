// The player bridge against a stand-in player window on a thread of its own, which records every
// message, whether it was sent or posted, and answers the play-state and full-screen queries.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "shell/hid_processor_winamp.h"
#include "shell/winamp.h"
#include "support/recorder.h"
#include "support/win_test_support.h"

namespace {

struct TMessage {
    UINT Message;
    WPARAM WParam;
    LPARAM LParam;
    bool Sent;
    bool operator==(const TMessage&) const = default;
};

class TRecordingPlayer {
public:
    TRecordingPlayer() : thread_([this] { Run(); }) {
        PumpUntil([this] { return window_ != nullptr; });
    }
    ~TRecordingPlayer() {
        PostMessageA(window_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND Window() const { return window_; }
    std::atomic<LRESULT> PlayState{0}, FullScreen{0}, Volume{0};

    // What arrived once `count` messages have (posted ones come after the call returned).
    std::vector<TMessage> Take(std::size_t count) {
        PumpUntil([&] { return messages_.Count() >= count; }, 3000);
        Sleep(20); // anything beyond `count` would show up as well
        return messages_.Take();
    }

private:
    void Run() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &Proc;
        wc.lpszClassName = "TRecordingPlayer";
        RegisterClassA(&wc);
        HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        window_ = window;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        DestroyWindow(window);
        UnregisterClassA(wc.lpszClassName, nullptr);
    }
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TRecordingPlayer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self == nullptr || (message != WM_COMMAND && message != WM_USER))
            return DefWindowProcA(window, message, wParam, lParam);
        if (message == WM_USER && lParam == IPC_SET_VIDEO_FULLSCREEN) {
            // Recorded as its flag; anything else in the block makes it compare unequal.
            const auto* block = reinterpret_cast<const std::int32_t*>(wParam);
            wParam = block[1] == 0 && block[2] == 0 && block[3] == 0 ? block[0] : 0xBAD;
        }
        self->messages_.Add({message, wParam, lParam, InSendMessage() != FALSE});
        if (message == WM_USER && lParam == IPC_ISPLAYING)
            return self->PlayState;
        if (message == WM_USER && lParam == IPC_SETVOLUME && wParam == IPC_GETVOLUME)
            return self->Volume;
        return message == WM_USER && lParam == IPC_IS_FULLSCREEN ? self->FullScreen.load() : 0;
    }

    std::atomic<HWND> window_{nullptr};
    TRecorder<TMessage> messages_;
    std::thread thread_;
};

class TWinampHidProcessorTest : public testing::Test {
protected:
    TWinampHidProcessorTest() { engine_.SetPlayerWindow(player_.Window()); }
    TRecordingPlayer player_;
    TWinampHidProcessor engine_;
};

TEST_F(TWinampHidProcessorTest, PostsOneCommandPerActionOfThePlayersSet) {
    EXPECT_EQ(engine_.SupportedActions(), 0xF7FF);
    EXPECT_EQ(engine_.SettingsFileName(), "kvhid.ini");
    const std::pair<std::uint8_t, WPARAM> table[] = {{atNext, 40048},       {atPrevious, 40044},
                                                     {atStop, 40047},       {atVolumeUp, 40058},
                                                     {atVolumeDown, 40059}, {atForward, 40060},
                                                     {atBackward, 40061},   {atPlay, 40045},
                                                     {atPause, 40046},      {atEject, 40029},
                                                     {atShuffle, 40023},    {atRepeat, 40022},
                                                     {atUnknown, 0},        {200, 0}};
    std::vector<TMessage> expected;
    for (const auto& [type, command] : table) {
        engine_.ExecuteAction(type);
        expected.push_back({WM_COMMAND, command, 0, false});
    }
    EXPECT_EQ(player_.Take(expected.size()), expected);
}

// Through the engine, as a press of a learned button runs it: one message a press.
TEST_F(TWinampHidProcessorTest, EachCommandBeyondTheTypesPostsItsMessageOncePerPress) {
    using enum THidCommandKind;
    const std::pair<THidCommand, TMessage> table[] = {
        {{StopAfterTrack, 0}, {WM_COMMAND, 40157, 0, false}},
        {{StopFade, 0}, {WM_COMMAND, 40147, 0, false}},
        {{PlaylistStart, 0}, {WM_COMMAND, 40154, 0, false}},
        {{PlaylistEnd, 0}, {WM_COMMAND, 40158, 0, false}},
        {{MainWindow, 0}, {WM_COMMAND, 40258, 0, false}},
        {{PlaylistWindow, 0}, {WM_COMMAND, 40040, 0, false}},
        {{EqualizerWindow, 0}, {WM_COMMAND, 40036, 0, false}},
        {{AlwaysOnTop, 0}, {WM_COMMAND, 40019, 0, false}},
        {{Preferences, 0}, {WM_COMMAND, 40012, 0, false}},
        {{Rate, 0}, {WM_USER, 0, IPC_SETRATING, false}},
        {{Rate, 5}, {WM_USER, 5, IPC_SETRATING, false}},
        {{Menu, 40000}, {WM_COMMAND, 40000, 0, false}},
        {{Menu, 65535}, {WM_COMMAND, 65535, 0, false}}};
    std::vector<TMessage> expected;
    std::uint32_t code = 0;
    for (const auto& [command, message] : table) {
        THidAction& action = engine_.Add(std::make_unique<THidAction>());
        action.Command = command, action.Patterns[prPress].Code = ++code, action.DeviceIndex = 0;
        engine_.CompleteBurst(code, 0);
        expected.push_back(message);
    }
    EXPECT_EQ(player_.Take(expected.size()), expected);
    EXPECT_FALSE(engine_.Repeating());
}

TEST_F(TWinampHidProcessorTest, PlayPauseAsksThePlayState) {
    for (const auto& [state, command] : {std::pair{1, 40046}, {3, 40045}, {0, 40045}}) {
        player_.PlayState = state;
        engine_.ExecuteAction(atPlayPause);
        EXPECT_EQ(player_.Take(2), (std::vector<TMessage>{{WM_USER, 0, IPC_ISPLAYING, true},
                                                          {WM_COMMAND, WPARAM(command), 0, false}}))
            << "play state " << state;
    }
}

TEST_F(TWinampHidProcessorTest, MuteGivesBackTheVolumeThePlayerHadAndKeepsANewOne) {
    // Each Mute asks the volume, then sets one.
    const auto mute = [&](LRESULT answer) {
        player_.Volume = answer;
        engine_.ExecuteAction(atMute);
        const std::vector<TMessage> messages = player_.Take(2);
        EXPECT_EQ(messages.size(), 2u);
        EXPECT_EQ(messages.front(), (TMessage{WM_USER, IPC_GETVOLUME, IPC_SETVOLUME, true}));
        return messages.size() == 2 && messages[1].Message == WM_USER &&
                       messages[1].LParam == IPC_SETVOLUME && !messages[1].Sent
                   ? static_cast<int>(messages[1].WParam)
                   : -1;
    };
    EXPECT_EQ(mute(200), 0);
    EXPECT_TRUE(engine_.Muted());
    EXPECT_EQ(mute(0), 200);
    EXPECT_FALSE(engine_.Muted());

    // Silent already, or no answer: unmuting gives the middle volume, as it always did.
    EXPECT_EQ(mute(0), 0);
    EXPECT_EQ(mute(0), 128);
    EXPECT_EQ(mute(1000), 0);
    EXPECT_EQ(mute(0), 128);

    // Turned up while muted: that Mute mutes again, and the next gives the new volume back.
    EXPECT_EQ(mute(150), 0);
    EXPECT_EQ(mute(90), 0);
    EXPECT_TRUE(engine_.Muted());
    EXPECT_EQ(mute(0), 90);
    EXPECT_FALSE(engine_.Muted());
}

TEST_F(TWinampHidProcessorTest, FullScreenSendsItsSequenceWithTheFlagBlock) {
    TDebuggerOutput output;
    player_.FullScreen = 1;
    engine_.SetPlayerWindow(reinterpret_cast<HWND>(0xAB12));
    engine_.ExecuteAction(atFullScreen);
    EXPECT_EQ(output.Texts(),
              (std::vector<std::string>{"player hWnd:0000AB12", "IS Full Screen eee ?:0",
                                        "Full Screen 223332 !!!"}));
    engine_.SetPlayerWindow(player_.Window());
    engine_.ExecuteAction(atFullScreen);
    ASSERT_EQ(output.Texts().size(), 7u);
    EXPECT_EQ(output.Texts()[4], "IS Full Screen eee ?:1");
    EXPECT_EQ(output.Texts()[5], "VIDEO hWnd:" + output.Texts()[3].substr(12));
    EXPECT_EQ(player_.Take(3),
              (std::vector<TMessage>{{WM_USER, 0, IPC_IS_FULLSCREEN, true},
                                     {WM_USER, 1, IPC_SET_VIS_FS_FLAG, true},
                                     {WM_USER, 1, IPC_SET_VIDEO_FULLSCREEN, true}}));
    player_.FullScreen = 0;
    engine_.ExecuteAction(atFullScreen);
    EXPECT_EQ(player_.Take(2),
              (std::vector<TMessage>{{WM_USER, 0, IPC_IS_FULLSCREEN, true},
                                     {WM_USER, 0, IPC_SET_VIDEO_FULLSCREEN, true}}));
}

} // namespace
