#include "framework/kv_error.h"
#include "host/host_log.h"
#include "host/host_plugin.h"
#include "host/player_window.h"
#include "shell/test_files.h"
#include "shell/winamp.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using testing::ElementsAre;
using testing::HasSubstr;
using testing::MatchesRegex;

namespace {

class HostTest : public testing::Test {
protected:
    std::unique_ptr<THostPlugin> Load(const char* name) {
        return std::make_unique<THostPlugin>(TestFile(name), player.Handle());
    }
    std::string LoadFailure(const char* name) {
        try {
            Load(name);
        } catch (const EkvError& error) {
            return error.what();
        }
        return "loaded";
    }
    LRESULT Ask(LPARAM function) { return SendMessageA(player.Handle(), WM_USER, 0, function); }

    THostLog log;
    TPlayerWindow player{log};
};

} // namespace

TEST_F(HostTest, LoadsLikeThePlayerAndUnloadsAfterQuit) {
    auto plugin = Load("gen_fake.dll");
    EXPECT_EQ(plugin->Description(), "Fake plug-in");
    char className[32] = {};
    GetClassNameA(player.Handle(), className, sizeof className);
    EXPECT_STREQ(className, "Winamp v1.x");

    auto getHeader = reinterpret_cast<winampGetGeneralPurposePluginProc>(
        reinterpret_cast<void*>(GetProcAddress(plugin->Module(), WinampPluginExportName)));
    ASSERT_NE(getHeader, nullptr);
    EXPECT_EQ(getHeader()->hwndParent, player.Handle());
    EXPECT_EQ(getHeader()->hDllInstance, plugin->Module());

    ASSERT_TRUE(player.WaitForCommands(2, 2000));
    EXPECT_THAT(log.CommandTexts(), ElementsAre("Next", "Volume Up"));
    plugin.reset();
    EXPECT_THAT(log.CommandTexts(2), ElementsAre("Stop"));
    EXPECT_EQ(GetModuleHandleA("gen_fake.dll"), nullptr);

    // The player may load the same plug-in again later.
    plugin = Load("gen_fake.dll");
    EXPECT_TRUE(player.WaitForCommands(5, 2000));
}

TEST_F(HostTest, AnswersThePlayStateAndFullScreenQueries) {
    EXPECT_EQ(Ask(IPC_ISPLAYING), 0);
    EXPECT_EQ(Ask(IPC_IS_FULLSCREEN), 0);
    player.SetPlayState(3);
    player.SetFullScreen(true);
    EXPECT_EQ(Ask(IPC_ISPLAYING), 3);
    EXPECT_EQ(Ask(IPC_IS_FULLSCREEN), 1);
    EXPECT_TRUE(log.Commands().empty()); // queries are not commands

    auto plugin = Load("gen_fake.dll");
    ASSERT_TRUE(player.WaitForCommands(2, 2000));
    plugin->Config();
    player.SetPlayState(1);
    player.SetFullScreen(false);
    plugin->Config();
    ASSERT_TRUE(player.WaitForCommands(6, 2000));
    EXPECT_THAT(log.CommandTexts(2),
                ElementsAre("Set full-screen flag 1", "Video full screen 1", "Play", "Pause"));
}

TEST_F(HostTest, LogsEveryMessageInWordsWithATimeStamp) {
    std::vector<std::string> lines;
    log.OnLine = [&](const std::string& line) { lines.push_back(line); };
    const HWND window = player.Handle();
    const WPARAM commands[] = {WINAMP_BUTTON1,
                               WINAMP_BUTTON2,
                               WINAMP_BUTTON3,
                               WINAMP_BUTTON4,
                               WINAMP_BUTTON5,
                               WINAMP_VOLUMEUP,
                               WINAMP_VOLUMEDOWN,
                               WINAMP_FFWD5S,
                               WINAMP_REW5S,
                               0,
                               40049};
    for (WPARAM command : commands)
        PostMessageA(window, WM_COMMAND, command, 0);
    PostMessageA(window, WM_USER, 0, IPC_SETVOLUME);
    PostMessageA(window, WM_USER, 128, IPC_SETVOLUME);
    PostMessageA(window, WM_USER, 5, 999);
    SendMessageA(window, WM_USER, 0, IPC_SET_VIDEO_FULLSCREEN);
    ASSERT_TRUE(player.WaitForCommands(15, 2000));
    EXPECT_THAT(log.CommandTexts(),
                ElementsAre("Video full screen (no block)", "Previous", "Play", "Pause", "Stop",
                            "Next", "Volume Up", "Volume Down", "Forward 5 s", "Rewind 5 s",
                            "Command 0", "Command 40049", "Set volume 0", "Set volume 128",
                            "User message 999 wParam 5"));
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_THAT(lines[1], MatchesRegex(" *\\d+ ms  Previous"));
    for (std::size_t i = 1; i < log.Commands().size(); ++i)
        EXPECT_LE(log.Commands()[i - 1].Milliseconds, log.Commands()[i].Milliseconds);
    EXPECT_LE(log.Commands().back().Milliseconds, log.Elapsed());
}

TEST_F(HostTest, RejectsWhatIsNoUsablePlugin) {
    EXPECT_THAT(LoadFailure("gen_fake_v17.dll"), HasSubstr("header version 17, expected 16"));
    EXPECT_THAT(LoadFailure("gen_fake_initfail.dll"), HasSubstr("init returned 1"));
    EXPECT_THAT(LoadFailure("versioned.dll"), HasSubstr("no export winampGetGeneralPurposePlugin"));
    EXPECT_THAT(LoadFailure("gen_missing.dll"), HasSubstr("LoadLibrary failed"));
    for (const char* name : {"gen_fake_v17.dll", "gen_fake_initfail.dll", "versioned.dll"})
        EXPECT_EQ(GetModuleHandleA(name), nullptr) << name;
    // The failed init's own posts arrive, but quit was never called on it.
    PumpMessagesFor(100);
    EXPECT_THAT(log.CommandTexts(), ElementsAre("Next", "Volume Up"));
}

TEST_F(HostTest, WaitGivesUpAfterItsTimeOut) {
    const std::uint32_t before = log.Elapsed();
    EXPECT_FALSE(player.WaitForCommands(1, 150));
    EXPECT_GE(log.Elapsed() - before, 140u);
}
