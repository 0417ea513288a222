#include "framework/kv_error.h"
#include "host/host_log.h"
#include "host/host_script.h"
#include "host/player_window.h"
#include "shell/test_files.h"
#include "shell/host_script_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using testing::ElementsAre;
using testing::HasSubstr;
using Kind = THostStep::TKind;

namespace {

// Records what a script asks of the bus.
class TRecordingDriver : public THostDeviceDriver {
public:
    void AddDevice(int device, const std::vector<std::string>& settings) override {
        calls.push_back("add " + std::to_string(device) + " " + settings.at(0));
    }
    void SendReport(int device, const THostReport& report) override {
        std::ostringstream text;
        text << "report " << device;
        for (unsigned byte : report)
            text << ' ' << byte;
        calls.push_back(text.str());
    }
    void SetPresent(int device, bool present) override {
        calls.push_back((present ? "plug " : "unplug ") + std::to_string(device));
    }
    std::vector<std::string> calls;
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
