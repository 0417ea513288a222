// The device selector and the learning dialog on the simulated bus.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <thread>

#include "engine/hid_processor.h"
#include "hid/sim_test_support.h"
#include "sim/sim_bus.h"
#include "support/burst_code.h"
#include "support/learning.h"
#include "support/manual_scheduler.h"
#include "ui/frm_action_edit.h"
#include "ui/frm_hid_action.h"
#include "ui/kv_controls.h"
#include "ui/kv_link_box.h"
#include "ui/ui_ids.h"
#include "ui_driver.h"

namespace {

// The learning dialog on a clock that the script moves. Each step of the script runs on the
// dialog's own thread, where its timers tick.
class TClockedLearning : public TfmHidAction {
public:
    TClockedLearning(std::uint8_t type, std::int32_t device) {
        SetScheduler(clock_);
        Action.ActionType = type;
        ListenIndex = device;
    }
    void OnDialogThread(const std::function<void()>& step) {
        SendMessageA(Handle(), kRunStep, 0, reinterpret_cast<LPARAM>(&step));
    }
    void Advance(std::uint32_t ms) {
        OnDialogThread([&] { clock_.Advance(ms); });
    }
    // Waits until a report has been heard: the burst's silence is being timed beside the
    // progress.
    bool WaitHeard() {
        return PumpUntil([&] {
            std::size_t running = 0;
            OnDialogThread([&] { running = clock_.RunningCount(); });
            return running == 2;
        });
    }

protected:
    bool Message(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
        if (message != kRunStep)
            return TfmHidAction::Message(message, wParam, lParam, result);
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return true;
    }

private:
    static constexpr UINT kRunStep = WM_APP + 50;
    TManualScheduler clock_;
};

class UiComponents : public testing::Test {
protected:
    UiComponents() {
        for (int i = 0; i < 3; ++i)
            bus_.AddDevice(TSimDevice{});
    }
    // Runs `script` on a second thread while the dialog is modal here.
    INT_PTR RunModal(TkvDialog& dialog, const std::function<void()>& script) {
        TWatchdog watchdog(30000, "learning dialog");
        std::thread driver(script);
        const INT_PTR result = dialog.ShowModal(nullptr);
        driver.join();
        return result;
    }
    TBindingReset reset_;
    TSimBus bus_;
};

// A report log that runs for hours keeps showing the newest reports: the edit's text limit
// would otherwise refuse every line after the first few hundred.
TEST(TkvEditTest, AppendKeepsTheNewestLines) {
    const HWND edit =
        CreateWindowA("EDIT", "", WS_POPUP | ES_MULTILINE | ES_AUTOHSCROLL | ES_AUTOVSCROLL, 0, 0,
                      300, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(edit, nullptr);
    const std::string padding(60, '.');
    for (int i = 0; i < 2000; ++i)
        TkvEdit(edit).Append(std::to_string(i) + padding + "\r\n", 300);
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(edit)) + 1, '\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextA(edit, text.data(), static_cast<int>(text.size()))));
    EXPECT_TRUE(text.starts_with("1700" + padding)) << text.substr(0, 80);
    EXPECT_TRUE(text.ends_with("1999" + padding + "\r\n")) << text.substr(text.size() - 80);
    DestroyWindow(edit);
}

TEST_F(UiComponents, DeviceBoxFollowsItsPortAndForgetsItWhenItGoes) {
    const HWND parent =
        CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    TkvDeviceBox box(parent, 1, 0, 0, 100, 200, nullptr);
    auto port = std::make_unique<TkvHid>();
    box.SetkvLink(port.get());
    box.SetkvLink(port.get()); // one subscription: a second one would refill twice, harmlessly
    EXPECT_EQ(box.Items().size(), 3u);
    EXPECT_EQ(box.ItemIndex(), 0);
    port->SetDeviceIndex(2);
    EXPECT_EQ(box.ItemIndex(), 2);

    bus_.Unplug(1);
    EXPECT_TRUE(box.ForwardDeviceChange(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
    EXPECT_EQ(box.Items().size(), 2u);
    EXPECT_EQ(box.ItemIndex(), -1); // the port's index 2 is beyond its list now

    int changes = 0;
    box.OnChange = [&](TkvDeviceBox*) { ++changes; };
    box.SetItemIndex(1);
    box.Change();
    EXPECT_EQ(port->DeviceIndex(), 1);
    EXPECT_EQ(changes, 1);

    port.reset();
    EXPECT_EQ(box.kvLink(), nullptr);
    EXPECT_EQ(box.Items().size(), 2u);
    EXPECT_EQ(box.ItemIndex(), -1);
    box.SetItemIndex(0);
    box.Change();
    EXPECT_EQ(changes, 1);
    DestroyWindow(parent);
}

TEST_F(UiComponents, AutodetectLearnsFromTheDeviceThatSent) {
    TSimDevice held; // another program holds it: it refuses to open, and is passed over
    held.Access = TSimAccess::None;
    bus_.AddDevice(held);
    TfmHidAction dialog;
    const INT_PTR result = RunModal(dialog, [&] {
        const HWND window = WaitForLearning(bus_, "Detection an active HID", 3);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ItemText(window, idActionMessage),
                  "Please PRESS and RELEASE needed button on remote control");
        bus_.SendInput(3, {1, 0x20});
        bus_.SendInput(3, {1, 0x00}, std::chrono::milliseconds(100)); // the release
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.ListenIndex, 2);
    EXPECT_EQ(dialog.Action.DeviceIndex, 2);
    EXPECT_EQ(dialog.Action.PressCode(), BurstCode({{1, 0x20}, {1, 0x00}}, 8));
    EXPECT_EQ(dialog.Action.ReleaseCode(), kNoCode);
    EXPECT_EQ(bus_.Connections(3), 0u);
}

TEST_F(UiComponents, RepeatingActionLearnsPressAndReleaseOnTheChosenDevice) {
    TfmHidAction dialog;
    dialog.Action.ActionType = atVolumeUp;
    dialog.ListenIndex = 1;
    const INT_PTR result = RunModal(dialog, [&] {
        const HWND window = WaitForLearning(bus_, "HID Action: Volume Up", 2);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ItemText(window, idActionMessage),
                  "Please PRESS and HOLD needed button on remote control");
        EXPECT_EQ(bus_.Connections(1) + bus_.Connections(3), 0u); // one port only
        bus_.SendInput(2, {1, 0xE9});
        ASSERT_TRUE(WaitForPrompt(window, kReleasePrompt));
        bus_.SendInput(2, {1, 0x00});
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.Action.DeviceIndex, 1);
    EXPECT_EQ(dialog.Action.PressCode(), BurstCode({{1, 0xE9}}, 8));
    EXPECT_EQ(dialog.Action.ReleaseCode(), BurstCode({{1, 0x00}}, 8));
}

// A quick tap of a repeating button is one burst, the release at its end: learning takes its
// last report as the release, so neither press waits out the 10 s for a release that came.
TEST_F(UiComponents, RepeatingActionLearnsFromTwoQuickTaps) {
    TfmHidAction dialog;
    dialog.Action.ActionType = atVolumeDown;
    dialog.ListenIndex = 0;
    const DWORD start = GetTickCount();
    const INT_PTR result = RunModal(dialog, [&] {
        ASSERT_NE(WaitForLearning(bus_, "HID Action: Volume Down", 1), nullptr);
        for (int tap = 0; tap < 2; ++tap) {
            bus_.SendInput(1, {1, 0xEA});
            bus_.SendInput(1, {1, 0x00}, std::chrono::milliseconds(80));
            Sleep(800);
        }
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_LT(GetTickCount() - start, 5000u);
    EXPECT_EQ(dialog.Action.PressCode(), BurstCode({{1, 0xEA}}, 8));
    EXPECT_EQ(dialog.Action.ReleaseCode(), BurstCode({{1, 0x00}}, 8));
    EXPECT_EQ(dialog.Action.Patterns[prAltPress].Code, kNoCode);
}

// Learning cuts a press into bursts as the engine does: reports 450 ms apart are two bursts to
// the engine, so learning codes only the first as the press. The second, all buttons up, is
// that press's late release and not the second press. The gap leaves the UI thread 150 ms of
// slack past the engine's silence.
TEST_F(UiComponents, LearningEndsABurstAfterTheEnginesSilence) {
    TfmHidAction dialog;
    dialog.Action.ActionType = atNext;
    dialog.ListenIndex = 0;
    const INT_PTR result = RunModal(dialog, [&] {
        ASSERT_NE(WaitForLearning(bus_, "HID Action: Next", 1), nullptr);
        bus_.SendInput(1, {1, 0xB5});
        bus_.SendInput(1, {1, 0x00}, std::chrono::milliseconds(450));
        // The late release has come and gone; then the same button again.
        Sleep(600);
        EXPECT_EQ(ItemText(FindWindowA("#32770", "HID Action: Next"), idActionMessage),
                  kAgainPrompt);
        bus_.SendInput(1, {1, 0xB5});
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.Action.PressCode(), BurstCode({{1, 0xB5}}, 8));
    EXPECT_EQ(dialog.Action.Patterns[prAltPress].Code, kNoCode);
}

// Without a press learning gives up after 10 s; after one press the first stands, 10 s after the
// prompt for the second, as learning from one press always did.
TEST_F(UiComponents, LearningEndsTenSecondsAfterItsPrompt) {
    const auto progress = [](HWND window) {
        return SendDlgItemMessageA(window, idActionProgress, PBM_GETPOS, 0, 0);
    };
    for (const bool pressed : {false, true}) {
        SCOPED_TRACE(pressed ? "one press" : "no press");
        TClockedLearning dialog(atNext, 0);
        const INT_PTR result = RunModal(dialog, [&] {
            const HWND window = WaitForDialog("HID Action: Next");
            ASSERT_NE(window, nullptr);
            if (pressed) {
                ASSERT_TRUE(bus_.WaitForConnections(1, 1, std::chrono::milliseconds(3000)));
                bus_.SendInput(1, {1, 0xB5});
                ASSERT_TRUE(dialog.WaitHeard());
                dialog.Advance(kBurstSilenceMs);
                EXPECT_EQ(ItemText(window, idActionMessage), "Press the same button again");
            }
            dialog.Advance(9999);
            EXPECT_EQ(progress(window), 9);
            dialog.Advance(1);
            if (!WaitGone(window)) {
                ADD_FAILURE() << "still learning 10 s after the prompt";
                PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            }
        });
        EXPECT_EQ(result, pressed ? IDOK : IDCANCEL);
        EXPECT_EQ(dialog.Action.PressCode(), pressed ? BurstCode({{1, 0xB5}}, 8) : kNoCode);
        EXPECT_EQ(dialog.Action.Patterns[prAltPress].Code, kNoCode);
    }
}

TEST_F(UiComponents, EditDialogOffersThePlayersTypesAndLearnsOnTheChosenDevice) {
    TfmActionEdit dialog;
    dialog.SupportedActions = 0xF7FF;
    dialog.DeviceNames = {"Remote A", "Remote B", "Remote C"};
    const INT_PTR result = RunModal(dialog, [&] {
        const HWND window = WaitForDialog("Action");
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ComboItems(window, idEditPlayerAction),
                  (std::vector<std::string>{"Unknown",
                                            "Play/Pause",
                                            "Play",
                                            "Pause",
                                            "Stop",
                                            "Stop after this track",
                                            "Stop with fade-out",
                                            "Next",
                                            "Previous",
                                            "Forward",
                                            "Backward",
                                            "Volume Up",
                                            "Volume Down",
                                            "Mute",
                                            "Shuffle",
                                            "Repeat",
                                            "Start of playlist",
                                            "End of playlist",
                                            "Eject",
                                            "Main window",
                                            "Playlist editor",
                                            "Equalizer",
                                            "Always on top",
                                            "Preferences",
                                            "Rate 0",
                                            "Rate 1",
                                            "Rate 2",
                                            "Rate 3",
                                            "Rate 4",
                                            "Rate 5",
                                            "Menu command ..."}));
        EXPECT_EQ(ComboItems(window, idEditActiveHid).front(), "Autodetect!");
        EXPECT_EQ(ComboSelection(window, idEditActiveHid), 0);
        EXPECT_EQ(ItemText(window, idEditStatus), "Unassigned");

        Click(window, idEditAssign); // still "Unknown": only the warning
        const HWND warning = WaitForDialog("Unknown Action");
        ASSERT_NE(warning, nullptr);
        EXPECT_NE(FindWindowExA(warning, nullptr, "Static", "Please select Action Type before ..."),
                  nullptr);
        PostMessageA(warning, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitGone(warning));

        PickItem(window, idEditPlayerAction, 7); // Next
        PickItem(window, idEditActiveHid, 3);    // the third device
        Click(window, idEditAssign);
        const HWND learning = WaitForLearning(bus_, "HID Action: Next", 3);
        ASSERT_NE(learning, nullptr);
        LearnButton(bus_, learning, 3, {1, 0x01});
        EXPECT_EQ(ItemText(window, idEditStatus), "Assigned");
        EXPECT_EQ(ComboSelection(window, idEditActiveHid), 3);
        Click(window, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.Action.ActionType, atNext);
    EXPECT_EQ(dialog.Action.DeviceIndex, 2);
    EXPECT_EQ(dialog.Action.PressCode(), BurstCode({{1, 0x01}}, 8));
}

} // namespace
