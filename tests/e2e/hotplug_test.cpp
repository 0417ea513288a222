// The remote keeps working as devices come and go: found again after it moved, reopened after
// an unplug or a sleep, and two identical remotes each with their own buttons.
#include "e2e/end_to_end.h"

#include <chrono>
#include <functional>
#include <fstream>
#include <sstream>

namespace {

// A media-key remote; `name` and the settings after it make it one of several.
std::string Remote(const std::string& name, const std::string& settings = {}) {
    return "device " + name + " length=3 " + settings + "\n" + "button " + name +
           " next 01b500 release 010000\n" + "button " + name + " up   01e900 release 010000\n";
}

const char Keyboard[] = "name=Keyboard usagepage=01 usage=06 length=3";

std::string SettingsText() {
    std::ifstream file(HostSettingsPath(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_F(EndToEnd, ARemoteIsFoundAgainAfterADeviceIsInsertedBeforeItOrItMovesToAnotherPort) {
    TMessageBoxCatcher okOnConfig;
    // A press tells which device the file's position means, for both buttons there, and the
    // dialog's OK saves it: from then on the file remembers the device.
    Run(Remote("r") +
        "bind r next Next\nbind r up Volume Up\nload\nwait 300\npress r next\nexpect Next\n"
        "config\nquit\n"
        "insert k 0 " +
        Keyboard +
        "\n"
        "load\npress r next\nexpect Next\n"
        "hold r up\nexpect Volume Up\nrelease r up\nexpect Volume Up\n"
        // While the player runs: another device first again, then another port.
        "insert k2 0 " +
        Keyboard +
        "\npress r next\nexpect Next\n"
        "move r\nwait 500\npress r next\nexpect Next\nconfig\n");
    // The next save stores the new path, and the positions of now for older versions.
    const std::string saved = SettingsText();
    EXPECT_NE(saved.find("," + bus_->Bus().DevicePath(bus_->BusId(0)) + "\r\n"), std::string::npos)
        << saved;
    EXPECT_NE(saved.find("Action00=C"), std::string::npos);
    EXPECT_NE(saved.find("FFFFFFFF2\r\nAction00Device="), std::string::npos) << saved;
}

TEST_F(EndToEnd, TwoIdenticalRemotesKeepTheirOwnButtons) {
    TMessageBoxCatcher okOnConfig;
    for (const bool serials : {true, false}) {
        SCOPED_TRACE(serials ? "with serial numbers" : "without serial numbers");
        DeleteFileA(HostSettingsPath().c_str());
        const std::string a = serials ? "serial=A1" : "", b = serials ? "serial=B2" : "";
        // With serial numbers they may even change ports; without, their paths tell them apart.
        const std::string moves = serials ? "move a\nmove b\n" : "";
        Run(Remote("a", a) + Remote("b", b) +
            "bind a next Next\nbind b next Previous\n"
            "load\nwait 300\npress a next\nexpect Next\npress b next\nexpect Previous\n"
            "config\nquit\n" +
            moves + "insert k 0 " + Keyboard +
            "\n"
            "load\npress a next\nexpect Next\npress b next\nexpect Previous\n"
            // One away: the other does not take over its buttons, and it comes back to them.
            "unplug a\nwait 300\npress b next\nexpect Previous\nsilence 400\n"
            "plug a\nwait 500\npress a next\nexpect Next\n");
    }
}

// The steps of `script` after the declarations the fixture's last Run began with.
void RunMore(THostSession& session, const std::string& declarations, const std::string& script) {
    for (const THostStep& step : ParseHostScript(declarations + script))
        if (step.Kind != THostStep::TKind::Device && step.Kind != THostStep::TKind::Ini)
            session.Run(step);
}

TEST_F(EndToEnd, AReplugOrAResumeBringsTheRemoteBackByItself) {
    const std::string remote = Remote("r") + "bind r next Next\nbind r up Volume Up\n";
    Run(remote + "load\nwait 300\n");
    TSimBus& bus = bus_->Bus();
    const int id = bus_->BusId(0);
    const auto more = [&](const std::string& script) { RunMore(*session_, remote, script); };
    // The first press after the replug works: the port is open well before a hand can press.
    std::vector<double> opens;
    for (int round = 0; round < 5; ++round) {
        more("unplug r\n");
        ASSERT_TRUE(PumpUntil([&] { return bus.Connections(id) == 0; }, 3000));
        const auto start = std::chrono::steady_clock::now();
        more("plug r\n");
        ASSERT_TRUE(PumpUntil([&] { return bus.Connections(id) == 1; }, 3000));
        opens.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        more("press r next\nexpect Next\n");
    }
    for (const double open : opens)
        EXPECT_LT(open, 1000.0);
    std::printf("arrival to open port: %.0f %.0f %.0f %.0f %.0f ms\n", opens[0], opens[1], opens[2],
                opens[3], opens[4]);

    // A replug while a button is held ends the hold; the next hold works as ever.
    more("hold r up\nexpect Volume Up\nunplug r\nplug r\nwait 500\nrelease r up\nsilence 700\n"
         "hold r up\nexpect Volume Up\nrelease r up\nexpect Volume Up\nsilence 700\n");

    // Sleep: back at the old paths with no device notification, or as new device nodes.
    more("suspend\nresume samepaths\nwait 700\npress r next\nexpect Next\n"
         "suspend\nresume\nwait 700\npress r next\nexpect Next\n");
}

// A file of an older version names the remote by its position only. While the remote is away
// another device holds that position, which must not take its buttons: not at once, not by an
// OK in the dialog, not after a restart.
TEST_F(EndToEnd, ARemoteAwayWhenAnOlderFileIsFirstLoadedIsFoundWhenItComesBack) {
    const std::string declarations =
        "device remote name=Remote vid=1209 pid=0001 usagepage=0c usage=01 length=3\n"
        "device pad name=Touchpad vid=1209 pid=0002 usagepage=0d usage=05 length=3\n"
        "button remote play 01cd00 release 010000\n"
        "ini HidIndex=0\nini Mode=0\nbind remote play Play/Pause\n";
    Run(declarations + "unplug remote\nplaystate 0\nload\nwait 300\n"
                       "plug remote\nwait 1500\npress remote play\nexpect Play\n");

    TMessageBoxCatcher okOnConfig;
    Run(declarations + "unplug remote\nplaystate 0\nload\nwait 300\nconfig\n");
    // Saved as an older version saves it: there is no telling yet which device is the remote.
    EXPECT_EQ(SettingsText().find("Device="), std::string::npos) << SettingsText();
    RunMore(*session_, declarations,
            "quit\nplug remote\nload\nwait 300\npress remote play\nexpect Play\nconfig\n");
    // Its press told which device it is.
    EXPECT_NE(SettingsText().find("Action00Device=1209,0001,"), std::string::npos)
        << SettingsText();
}

// What a user does while the configuration dialog is open: one step per tick of a timer that
// the dialog's modal loop serves.
std::vector<std::function<void()>> dialogSteps;

void CALLBACK RunDialogStep(HWND, UINT, UINT_PTR id, DWORD) {
    if (dialogSteps.empty()) {
        KillTimer(nullptr, id);
        return;
    }
    const auto step = dialogSteps.front();
    dialogSteps.erase(dialogSteps.begin());
    step();
}

// OK on the configuration dialog: it saves what it shows.
BOOL CALLBACK PressOkOnConfig(HWND window, LPARAM) {
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (std::string(caption).rfind("HID Plugin - ", 0) == 0)
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

TEST_F(EndToEnd, AReplugWhileTheConfigurationDialogIsOpenIsFollowedByBoth) {
    Run(Remote("r") + "bind r next Next\nload\nwait 300\n");
    TSimBus& bus = bus_->Bus();
    const int remote = bus_->BusId(0);
    dialogSteps = {[&] { bus.Unplug(remote); },
                   [&] { bus.Plug(remote); },
                   [&] {},
                   [&] {
                       // A press of Next: its report and the release report.
                       bus.SendInput(remote, {0x01, 0xb5, 0x00});
                       bus.SendInput(remote, {0x01, 0x00, 0x00}, std::chrono::milliseconds(20));
                   },
                   [&] {},
                   [&] { EnumThreadWindows(GetCurrentThreadId(), PressOkOnConfig, 0); }};
    const UINT_PTR timer = SetTimer(nullptr, 0, 400, RunDialogStep);
    session_->Run(ParseHostScript("config\n"));
    KillTimer(nullptr, timer);
    EXPECT_TRUE(dialogSteps.empty());
    ASSERT_EQ(log_.Commands().size(), 1u);
    EXPECT_EQ(log_.Commands()[0].Text, "Next");
    EXPECT_NE(SettingsText().find(bus.DevicePath(remote)), std::string::npos);
    EXPECT_EQ(bus.Connections(remote), 1u);
}

TEST_F(EndToEnd, HundredReplugsWithAStreamRunningLeaveNothingBehind) {
    Run(Remote("r") + "bind r next Next\nload\nwait 300\n");
    TSimBus& bus = bus_->Bus();
    const int remote = bus_->BusId(0);
    bus.StreamInput(remote, {{0x01, 0x01, 0x00}, {0x01, 0x02, 0x00}}, 1000, 1000000);
    PumpMessagesFor(300);
    const auto replug = [&](int cycle) {
        bus.Unplug(remote);
        ASSERT_TRUE(PumpUntil([&] { return bus.Connections(remote) == 0; }, 3000));
        bus.Plug(remote);
        ASSERT_TRUE(PumpUntil([&] { return bus.Connections(remote) == 1; }, 3000))
            << "cycle " << cycle;
    };
    // The counts are taken after a first replug: what the system makes once, on the first
    // removal, is not left behind by a replug. A leak shows as one more for each of the hundred.
    replug(0);
    const std::size_t threads = ProcessThreadCount();
    const DWORD handles = SteadyHandleCount();
    for (int cycle = 1; cycle <= 100; ++cycle)
        replug(cycle);
    EXPECT_TRUE(PumpUntil(
        [&] { return ProcessThreadCount() == threads && SteadyHandleCount() <= handles; }, 5000))
        << "threads " << threads << " -> " << ProcessThreadCount() << ", handles " << handles
        << " -> " << ProcessHandleCount();
}

} // namespace
