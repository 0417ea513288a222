// gen_trelvon.dll in the player stand-in, driven by scripted buttons on the simulated HID bus.
// The kvhid.ini of each script binds the simulated buttons with codes computed from their
// reports, as learning them would; the player must receive exactly the expected commands.
#include "e2e/end_to_end.h"
#include "shell/host_script_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using testing::AllOf;
using testing::Ge;
using testing::Lt;

namespace {

std::vector<std::string> IniLines(const std::string& script) {
    std::vector<std::string> lines;
    for (const THostStep& step : ParseHostScript(script))
        if (step.Kind == THostStep::TKind::Ini)
            lines.push_back(step.Text);
    return lines;
}

TEST(HostScriptBind, CodesTheBytesThePlugInReceivesAsLearningWould) {
    // "abc" codes to CADBBE3D; a press sends its release reports in the same burst, and the bus
    // pads every report to the device's length.
    EXPECT_THAT(IniLines("device d length=3\ndevice e length=4\n"
                         "button d x 616263\nbutton d y 616263 release 616263\n"
                         "button e x 616263\n"
                         "ini Action00=A\nini Action00PressBytes=00\n"
                         "bind d x Next\nbind d y volume up\nbind d y Play/Pause\n"
                         "bindcode e x Mute\n"),
                testing::ElementsAre("Action00=A", "Action00PressBytes=00",
                                     "Action01=CCADBBE3DFFFFFFFF0", "Action01PressBytes=616263",
                                     "Action02=FCADBBE3DCADBBE3D0", "Action02PressBytes=616263",
                                     "Action02ReleaseBytes=616263", "Action03=B8D9166B3FFFFFFFF0",
                                     "Action03PressBytes=616263616263",
                                     "Action04=N58A297AFFFFFFFFF1"));
    EXPECT_EQ(ParseFailure("device d\nbutton d x 01\nbind d x Louder"),
              "line 3: no action 'Louder'");
    EXPECT_EQ(ParseFailure("device d length=2\nbutton d x 010203"),
              "line 2: report '010203' is longer than the device's 2-byte reports");
}

// A media key interface: report 1 with a 16-bit usage; usage 0 when let go.
const char MediaKeys[] = "device r length=3\n"
                         "button r play  01cd00 release 010000\n"
                         "button r next  01b500 release 010000\n"
                         "button r mute  01e200 release 010000\n"
                         "button r up    01e900 release 010000\n"
                         "button r down  01ea00\n"
                         "button r letgo 010000\n";

// The time from the last report of each press to its command, in arrival order.
std::vector<int> Delays(const THostLog& log, std::size_t from = 0) {
    std::vector<int> delays;
    for (std::size_t i = from; i < log.Commands().size(); ++i)
        delays.push_back(log.Commands()[i].SinceReport);
    return delays;
}

// A 100 ms tap on Volume Up gives two commands and no repeat, whatever the switch says.
const char kPresses[] = "load\npress r next\nexpect Next\n"
                        "spacing 100\npress r up\nexpect Volume Up\nexpect Volume Up\n"
                        "silence 800\n";

TEST_F(EndToEnd, LearnedButtonsArriveAtOnceUnlessSwitchedOff) {
    const std::string bindings = std::string(MediaKeys) + "bind r next Next\nbind r up Volume Up\n";
    Run(bindings + kPresses);
    std::vector<int> delays = Delays(log_);
    std::sort(delays.begin(), delays.end());
    // A loaded machine may hold one back.
    EXPECT_LT(delays[delays.size() / 2], 20) << testing::PrintToString(Delays(log_));
    EXPECT_LT(delays.back(), 150) << testing::PrintToString(Delays(log_));

    const std::size_t quick = log_.Commands().size();
    Run("ini QuickResponse=0\n" + bindings + kPresses);
    EXPECT_THAT(Delays(log_, quick),
                testing::ElementsAre(AllOf(Ge(290), Lt(600)), AllOf(Ge(290), Lt(600)),
                                     AllOf(Ge(290), Lt(600))));
}

TEST_F(EndToEnd, AnOldFileBecomesQuickFromTheSecondPress) {
    Run(std::string(MediaKeys) + "bindcode r next Next\nbindcode r up Volume Up\n" + kPresses +
        "press r next\nexpect Next\nspacing 20\npress r up\nexpect Volume Up\n"
        "expect Volume Up\nsilence 800\n");
    // The first press of each, at the silence, taught it its bursts.
    EXPECT_THAT(Delays(log_),
                testing::ElementsAre(Ge(290), Ge(290), Ge(290), Lt(150), Lt(150), Lt(150)));
}

TEST_F(EndToEnd, SimpleModeServesTheFirstBindingOfACommandExtendedModeEvery) {
    const std::string bindings = std::string(MediaKeys) + "bind r play Next\nbind r next Next\n";
    Run(bindings + "ini Mode=0\nload\npress r next\nsilence 500\npress r play\nexpect Next\n");
    Run(bindings + "ini Mode=-1\nload\npress r next\nexpect Next\npress r play\nexpect Next\n");
}

TEST_F(EndToEnd, TheSameCodeOnTwoDevicesFiresForEachDevicesOwnAction) {
    Run("device one\ndevice two\n"
        "button one x 01aa\nbutton two x 01aa\n"
        "bind one x Next\nbind two x Previous\n"
        "load\npress two x\nexpect Previous\npress one x\nexpect Next\nsilence 400\n");
}

TEST_F(EndToEnd, PlayPauseFollowsThePlayStateAndMuteToggles) {
    Run(std::string(MediaKeys) +
        "bind r play Play/Pause\nbind r mute Mute\n"
        "load\n"
        "playstate 1\npress r play\nexpect Pause\n"
        "playstate 3\npress r play\nexpect Play\n"
        "playstate 0\npress r play\nexpect Play\n"
        "volume 200\npress r mute\nexpect Set volume 0\npress r mute\nexpect Set volume 200\n"
        // Turned up while muted: muted again, and the new volume comes back.
        "press r mute\nexpect Set volume 0\nvolume 90\npress r mute\nexpect Set volume 0\n"
        "press r mute\nexpect Set volume 90\n"
        // A new engine starts unmuted, so its first Mute mutes; a player that was silent
        // already gets the middle volume back.
        "quit\nload\nvolume 0\npress r mute\nexpect Set volume 0\n"
        "press r mute\nexpect Set volume 128\n");
}

TEST_F(EndToEnd, CommandsBeyondTheTypesReachThePlayerOncePerPressAndVolumeUpStillRepeats) {
    Run(std::string(MediaKeys) +
        "bind r play Shuffle\nbind r next Stop after this track\nbind r mute Rate 4\n"
        "bind r down Menu command 40001\nbind r up Volume Up\n"
        "load\n"
        "press r play\nexpect Shuffle\npress r next\nexpect Stop after this track\n"
        "press r mute\nexpect Rate 4\npress r down\nexpect Command 40001\n"
        "hold r up\nwait 1100\nrelease r up\n"
        "expect Volume Up\nexpect Volume Up\nexpect Volume Up\nexpect Volume Up\n"
        "silence 700\n");
}

TEST_F(EndToEnd, ActionsOnMissingDevicesAreNotServed) {
    // The bound position is what counts: with a taken away, b moves up to position 0.
    Run("device a\ndevice b\n"
        "button a x 01aa\nbutton b x 01aa\nbutton b y 01bb\n"
        "bind a x Previous\nbind b y Next\n"
        "ini Action02=E12345678FFFFFFFF9\n"
        "unplug a\n"
        "load\n"
        "press b y\nsilence 500\npress b x\nexpect Previous\n");
    EXPECT_EQ(Connections(0), 0u);
    EXPECT_EQ(Connections(1), 1u);
}

TEST_F(EndToEnd, UnpluggingWhileAButtonIsHeldEndsItsDeviceQuietly) {
    Run(std::string(MediaKeys) + "bind r up Volume Up\n"
                                 "load\nhold r up\nexpect Volume Up\n"
                                 "unplug r\nwait 1200\nplug r\nrelease r up\nwait 300\n");
    // The broken read brings no burst of its own, and a device that went away can send no
    // release: its held command stops with it instead of running on for half a minute. Back,
    // the device is opened again, and the late release alone does nothing.
    ASSERT_EQ(log_.Commands().size(), 1u);
    EXPECT_EQ(Connections(0), 1u);
    End();
    const std::size_t atQuit = log_.Commands().size();
    PumpMessagesFor(600);
    EXPECT_EQ(log_.Commands().size(), atQuit) << "a command after quit";

    // Loaded again, the plug-in finds the device and serves it.
    Run(std::string(MediaKeys) + "bind r next Next\nload\npress r next\nexpect Next\n");
}

TEST_F(EndToEnd, ConfigKeepsTheEngineAndQuitLeavesNothingRunning) {
    TMessageBoxCatcher boxes;
    Run(std::string(MediaKeys) + "bind r next Next\n"
                                 "load\nconfig\npress r next\nexpect Next\n"
                                 "quit\nload\nconfig\nconfig\npress r next\nexpect Next\n");
    EXPECT_EQ(Connections(0), 1u); // one engine, one port, whatever config did
    session_->Unload();
    EXPECT_TRUE(bus_->Bus().WaitForConnections(bus_->BusId(0), 0, std::chrono::seconds(2)));
    EXPECT_EQ(GetModuleHandleA("gen_trelvon.dll"), nullptr);
    // Each config showed the configuration dialog, which the catcher closed with OK; no error.
    ASSERT_EQ(boxes.Boxes().size(), 3u);
    for (const auto& box : boxes.Boxes())
        EXPECT_EQ(box.Caption.rfind("HID Plugin - ", 0), 0u) << box.Caption;
}

TEST_F(EndToEnd, UninstallFromThePlayerLeavesTheDllDeletableAndAsksAboutTheSettings) {
    // A folder of its own: the player deletes the DLL it uninstalls.
    const std::string plugins = TestFolder() + "uninstalled";
    const std::string copy = plugins + "\\gen_trelvon.dll";
    CreateDirectoryA(plugins.c_str(), nullptr);
    for (const int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer == IDYES ? "settings removed" : "settings kept");
        ASSERT_TRUE(CopyFileA(PluginFile().c_str(), copy.c_str(), FALSE));
        TMessageBoxCatcher boxes(answer);
        Run("ini Mode=-1\nload " + copy + "\nuninstall\n");
        EXPECT_EQ(GetFileAttributesA(copy.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetModuleHandleA(copy.c_str()), nullptr);
        EXPECT_EQ(GetFileAttributesA(HostSettingsPath().c_str()) != INVALID_FILE_ATTRIBUTES,
                  answer == IDNO);
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_EQ(boxes.Boxes()[0].Owner, player_.Handle());
        EXPECT_EQ(boxes.Boxes()[0].Text, "Also remove your settings (kvhid.ini)?");
        End();
    }
    RemoveDirectoryA(plugins.c_str());
}

} // namespace
