#include "engine/hid_action.h"
#include "framework/kv_error.h"
#include "host/host_log.h"
#include "host/host_script.h"
#include "host/player_window.h"
#include "shell/test_files.h"
#include "shell/host_script_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <fstream>
#include <sstream>

using testing::ElementsAre;
using testing::HasSubstr;
using Kind = THostStep::TKind;

namespace {

// Records what a script asks of the bus; `withWaits` also when a step waits for announcements.
class TRecordingDriver : public THostDeviceDriver {
public:
    void AddDevice(int device, const std::vector<std::string>& settings) override {
        Note("add " + std::to_string(device) + " " + settings.at(0));
    }
    void SendReport(int device, const THostReport& report) override {
        std::ostringstream text;
        text << "report " << device;
        for (unsigned byte : report)
            text << ' ' << byte;
        Note(text.str());
    }
    void SetPresent(int device, bool present) override {
        Note((present ? "plug " : "unplug ") + std::to_string(device));
    }
    void InsertDevice(int device, std::size_t position,
                      const std::vector<std::string>& settings) override {
        Note("insert " + std::to_string(device) + " at " + std::to_string(position) + " " +
             settings.at(0));
    }
    void MoveDevice(int device) override { Note("move " + std::to_string(device)); }
    void Suspend() override { Note("suspend"); }
    void Resume(bool newNodes) override { Note(newNodes ? "resume" : "resume same"); }
    // Delivered only when asked a second time, so that a step that does not go on waiting shows.
    bool WaitForAnnouncements(DWORD) override {
        withWaits.push_back("wait");
        return withWaits[withWaits.size() - 2] == "wait";
    }
    void Note(const std::string& call) {
        calls.push_back(call);
        withWaits.push_back(call);
    }
    std::vector<std::string> calls, withWaits;
};

class HostScriptTest : public testing::Test {
protected:
    void Run(const std::string& script, THostDeviceDriver* driver = nullptr) {
        THostSession session(player, log, TestFile("gen_fake.dll"), driver);
        session.SetExpectTimeout(300);
        session.Run(ParseHostScript(script));
    }
    std::string RunFailure(const std::string& script) {
        try {
            Run(script);
        } catch (const EkvError& error) {
            return error.what();
        }
        return "ran";
    }

    THostLog log;
    TPlayerWindow player{log};
};

} // namespace

TEST(HostScript, ParsesButtonsIntoTheReportsEachStepSends) {
    const auto steps = ParseHostScript("# a remote\r\n"
                                       "device remote vid=1234 pid=0001\n"
                                       "button remote vol 01fe 0102 release 0100\n"
                                       "\n"
                                       "press remote vol\n"
                                       "hold remote vol\n"
                                       "release remote vol\n"
                                       "ini Action00=BCADBBE3DFFFFFFFF0  \n"
                                       "expect Set volume 0\n");
    ASSERT_EQ(steps.size(), 6u);
    EXPECT_EQ(steps[0].Kind, Kind::Device);
    EXPECT_THAT(steps[0].Settings, ElementsAre("vid=1234", "pid=0001"));
    EXPECT_EQ(steps[1].Line, 5);
    EXPECT_THAT(steps[1].Reports,
                ElementsAre(THostReport{1, 0xFE}, THostReport{1, 2}, THostReport{1, 0}));
    EXPECT_THAT(steps[2].Reports, ElementsAre(THostReport{1, 0xFE}, THostReport{1, 2}));
    EXPECT_THAT(steps[3].Reports, ElementsAre(THostReport{1, 0}));
    EXPECT_EQ(steps[4].Text, "Action00=BCADBBE3DFFFFFFFF0  ");
    EXPECT_EQ(steps[5].Text, "Set volume 0");
}

TEST(HostScript, NamesTheLineOfAMistake) {
    EXPECT_EQ(ParseFailure("wait 10\npres remote a"), "line 2: unknown step 'pres'");
    EXPECT_EQ(ParseFailure("press remote a"), "line 1: no device remote");
    EXPECT_EQ(ParseFailure("device r\npress r a"), "line 2: device r has no button a");
    EXPECT_EQ(ParseFailure("device r\nbutton r a 012"),
              "line 2: report '012' has an odd number of digits");
    EXPECT_EQ(ParseFailure("device r\nbutton r a 0g"), "line 2: report '0g' is no hexadecimal");
    EXPECT_EQ(ParseFailure("device r\nbutton r a release 01"),
              "line 2: button a sends nothing when pressed");
    EXPECT_EQ(ParseFailure("device r\ndevice r"), "line 2: device r is declared twice");
    EXPECT_EQ(ParseFailure("wait -5"), "line 1: '-5' is no number");
    EXPECT_EQ(ParseFailure("playstate"), "line 1: wrong number of words");
    EXPECT_EQ(ParseFailure("config now"), "line 1: wrong number of words");
}

TEST_F(HostScriptTest, DrivesTheBusInScriptOrder) {
    TRecordingDriver driver;
    Run("device a name=A\ndevice b name=B\n"
        "button b next 0105 release 0100\n"
        "press b next\nunplug a\nhold b next\nplug a\n",
        &driver);
    EXPECT_THAT(driver.calls, ElementsAre("add 0 name=A", "add 1 name=B", "report 1 1 5",
                                          "report 1 1 0", "unplug 0", "report 1 1 5", "plug 0"));
    EXPECT_EQ(RunFailure("device a\n"), "line 1: this step needs the simulated bus");

    driver.withWaits.clear();
    Run("device a name=A\ninsert c 5 name=C\nmove a\nsuspend\nresume\nresume samepaths\n", &driver);
    EXPECT_THAT(driver.withWaits,
                ElementsAre("add 0 name=A", "insert 1 at 5 name=C", "wait", "wait", "move 0",
                            "wait", "wait", "suspend", "wait", "wait", "resume", "wait", "wait",
                            "resume same", "wait", "wait"));
}

// The plug-in's list holds the present devices in bus order: inserting and unplugging move the
// position a binding must name.
TEST(HostScript, BindsTheDevicesCurrentPlaceInThePluginsList) {
    const auto steps = ParseHostScript("device a\ndevice b\nbutton b x 01\n"
                                       "bind b x Next\n"
                                       "insert c 0 name=C\nbind b x Next\n"
                                       "unplug a\nbind b x Next\nmove a\nbind b x Next\n"
                                       "suspend\nresume samepaths\nresume\nbind b x Next\n");
    std::vector<int> indices;
    for (const THostStep& step : steps)
        if (step.Kind == Kind::Ini && step.Text.find('=') == 8) { // the ActionNN lines
            THidAction action(0);
            action.FromText(step.Text.substr(step.Text.find('=') + 1));
            indices.push_back(action.DeviceIndex);
        }
    EXPECT_THAT(indices, ElementsAre(1, 2, 1, 2, 2));
    const auto insert = std::find_if(steps.begin(), steps.end(), [](const THostStep& step) {
        return step.Kind == Kind::Insert;
    });
    ASSERT_NE(insert, steps.end());
    EXPECT_EQ(insert->Number, 2);
    EXPECT_EQ(insert->Position, 0u);
    EXPECT_THAT(insert->Settings, ElementsAre("name=C"));
    EXPECT_EQ(ParseFailure("device a\nbutton a x 01\nsuspend\nbind a x Next"),
              "line 4: device a is not on the bus");
    EXPECT_EQ(ParseFailure("resume now"), "line 1: resume takes only samepaths");
    EXPECT_EQ(ParseFailure("insert a"), "line 1: wrong number of words");
}

TEST_F(HostScriptTest, RunsAPlayerSessionAndChecksItsCommands) {
    Run("playstate 1\nload\nexpect Next\nexpect Volume Up\n"
        "config\nexpect Pause\nplaystate 0\nconfig\nexpect Play\nquit\nexpect Stop\n");
    EXPECT_EQ(GetModuleHandleA("gen_fake.dll"), nullptr);

    EXPECT_EQ(RunFailure("load\nexpect Next\nexpect Next"),
              "line 3: expected Next, but got Volume Up");
    EXPECT_EQ(RunFailure("wait 10\nexpect Play"), "line 2: expected Play, but no command came");
    EXPECT_EQ(RunFailure("config"), "line 1: config without a plug-in");
    EXPECT_THAT(RunFailure("load gen_fake_v17.dll"), HasSubstr("line 1: gen_fake_v17.dll: "));
}

TEST_F(HostScriptTest, WritesTheSettingsFileBeforeLoading) {
    const std::string path = HostSettingsPath();
    DeleteFileA(path.c_str());
    Run("ini HidIndex=1\nini Mode=-1\nload\nquit\n");
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "HidIndex=1\r\nMode=-1\r\n");
    DeleteFileA(path.c_str());
}
