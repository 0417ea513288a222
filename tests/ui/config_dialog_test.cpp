// The configuration dialog of the real plug-in, opened through config in the player stand-in on
// the simulated bus and driven from a second thread as a user would.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/hid_processor.h"
#include "framework/kv_handle.h"
#include "hid/sim_test_support.h"
#include "host/host_log.h"
#include "host/host_plugin.h"
#include "host/player_window.h"
#include "shell/test_files.h"
#include "sim/sim_bus.h"
#include "support/burst_code.h"
#include "support/learning.h"
#include "ui/ui_ids.h"
#include "ui_driver.h"

namespace {

const std::string kCaption = "HID Plugin - " TRELVON_MAKER_NAME;
constexpr char kNotDefined[] = "Not defined. Click button for change";
constexpr char kAssigned[] = "Assigned. Click button for change";
constexpr int idNextLabel = idSimpleButton + 3;

std::string Hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%.8X", value);
    return text;
}

std::vector<std::string> TreeTexts(HWND tree, HTREEITEM parent) {
    std::vector<std::string> texts;
    auto item = reinterpret_cast<HTREEITEM>(SendMessageA(
        tree, TVM_GETNEXTITEM, parent ? TVGN_CHILD : TVGN_ROOT, reinterpret_cast<LPARAM>(parent)));
    for (; item != nullptr;
         item = reinterpret_cast<HTREEITEM>(
             SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
        char text[128] = {};
        TVITEMA info{};
        info.mask = TVIF_TEXT;
        info.hItem = item;
        info.pszText = text;
        info.cchTextMax = sizeof text;
        SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&info));
        texts.emplace_back(text);
    }
    return texts;
}

bool Contains(const std::vector<std::string>& rows, const std::string& row) {
    return std::find(rows.begin(), rows.end(), row) != rows.end();
}

// What the screen shows at `x` pixels from the control's right edge and `below` pixels below
// its top, once the dialog has painted.
COLORREF ScreenPixel(HWND dialog, int control, int x, int below) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT bounds{};
    GetWindowRect(GetDlgItem(dialog, control), &bounds);
    const HDC screen = GetDC(nullptr);
    const COLORREF color = GetPixel(screen, bounds.right - x, bounds.top + below);
    ReleaseDC(nullptr, screen);
    return color;
}

void SelectRow(HWND dialog, int row) {
    LVITEMA state{};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendDlgItemMessageA(dialog, idActions, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
}

class TfmConfigTest : public testing::Test {
protected:
    TfmConfigTest() : player_(log_), settings_(THidProcessor().DefaultSettingsPath()) {
        TSimDevice remote;
        remote.ButtonCaps[HidP_Input] = {TSimBus::ButtonRange(0x0c, 1, 16)};
        remote.ValueCaps[HidP_Input] = {TSimBus::Value(0x0c, 0xE9, 8),
                                        TSimBus::Value(0x0c, 0xEA, 8)};
        bus_.AddDevice(remote);
        DeleteFileA(settings_.c_str());
    }
    ~TfmConfigTest() override {
        plugin_.reset();
        DeleteFileA(settings_.c_str());
    }
    void WriteSettings(const std::string& content) {
        std::ofstream(settings_, std::ios::binary) << content;
    }
    std::string Settings() const {
        std::ifstream file(settings_, std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }
    void Load() {
        plugin_ = std::make_unique<THostPlugin>(TestFile("gen_trelvon.dll"), player_.Handle());
    }
    // config, with `user` acting on the dialog from a second thread; the user closes it.
    void Config(const std::function<void(HWND dialog)>& user) {
        if (!plugin_)
            Load();
        TWatchdog watchdog(60000, "the configuration dialog");
        std::thread driver([&] {
            const HWND dialog = WaitForDialog(kCaption);
            if (dialog == nullptr) {
                ADD_FAILURE() << "no configuration dialog";
                return;
            }
            user(dialog);
            if (IsWindow(dialog)) // a failed step leaves the dialog open
                PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        plugin_->Config();
        driver.join();
    }
    bool WaitText(HWND dialog, int id, const std::string& text, DWORD timeoutMs = 3000) {
        return PumpUntil([&] { return ItemText(dialog, id) == text; }, timeoutMs);
    }
    // Learns from the dialog's click on `button`, on device 1.
    void Learn(HWND dialog, int button, const std::string& caption, const TSimReport& press,
               const TSimReport* release = nullptr) {
        Click(dialog, button);
        const HWND learning = WaitForLearning(bus_, caption, 1);
        ASSERT_NE(learning, nullptr);
        LearnButton(bus_, learning, 1, press, release);
    }
    // Presses that alternate between `a` and `b`, far enough apart to be bursts of their own;
    // the commands that came of them.
    std::size_t PressAlternately(const TSimReport& a, const TSimReport& b, int presses) {
        const std::size_t before = log_.Commands().size();
        for (int i = 0; i < presses; ++i) {
            bus_.SendInput(1, i % 2 == 0 ? a : b);
            PumpMessagesFor(kBurstSilenceMs + 100);
        }
        PumpMessagesFor(500);
        return log_.Commands().size() - before;
    }

    TBindingReset reset_;
    TSimBus bus_;
    THostLog log_;
    TPlayerWindow player_;
    std::string settings_;
    std::unique_ptr<THostPlugin> plugin_;
};

TEST_F(TfmConfigTest, LearnsNextOnAnEmptyEngineAndThePlayerThenReceivesIt) {
    Config([&](HWND dialog) {
        // The check box past its text shows the page, as the page does just below it. Wine
        // hands what a window drew to the display a moment later, so the screen is asked again.
        EXPECT_TRUE(PumpUntil(
            [&] {
                return ScreenPixel(dialog, idQuickResponse, 4, 8) ==
                       ScreenPixel(dialog, idQuickResponse, 4, 21);
            },
            2000));
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(ItemText(dialog, idSimpleButton + 2 * i + 1), kNotDefined) << i;
        Learn(dialog, idSimpleButton + 2, "HID Action: Next", {1, 0x02});
        EXPECT_TRUE(WaitText(dialog, idNextLabel, kAssigned));
        Click(dialog, idMore);
        ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(GetDlgItem(dialog, idActions)); }));
        EXPECT_EQ(
            ListRows(dialog, idActions, 3),
            (std::vector<std::string>{
                "Play/Pause | Unassigned | Not selected", "Next | Assigned | Trelvon Remote",
                "Previous | Unassigned | Not selected", "Volume Up | Unassigned | Not selected",
                "Volume Down | Unassigned | Not selected", "Mute | Unassigned | Not selected"}));
        EXPECT_EQ(IsDlgButtonChecked(dialog, idQuickResponse), BST_CHECKED);
        Click(dialog, idQuickResponse);
        Click(dialog, IDOK);
    });
    const std::string next = "C" + Hex8(BurstCode({{1, 0x02}}, 8)) + "FFFFFFFF0";
    // The learned button remembers its device beside the line an older version reads.
    const std::string identity = "\r\nAction01Device=1209,0001,0100,000C,0001,0,,";
    std::string saved = Settings();
    const std::size_t at = saved.find(identity);
    ASSERT_NE(at, std::string::npos) << saved;
    saved.erase(at, saved.find("\r\n", at + 2) - at);
    EXPECT_EQ(saved, "HidIndex=-1\r\nMode=-1\r\nQuickResponse=0\r\n"
                     "Action00=BFFFFFFFFFFFFFFFF-1\r\nAction01=" +
                         next +
                         "\r\nAction01PressBytes=0102000000000000"
                         "\r\nAction02=DFFFFFFFFFFFFFFFF-1\r\nAction03=FFFFFFFFFFFFFFFFF-1"
                         "\r\nAction04=GFFFFFFFFFFFFFFFF-1\r\nAction05=NFFFFFFFFFFFFFFFF-1\r\n");

    bus_.SendInput(1, {1, 0x02});
    ASSERT_TRUE(player_.WaitForCommands(1, 3000));
    EXPECT_EQ(log_.CommandTexts(), std::vector<std::string>{"Next"});

    // Saved in Extended mode and switched off, so it opens so.
    Config([&](HWND dialog) {
        EXPECT_EQ(IsDlgButtonChecked(dialog, idQuickResponse), BST_UNCHECKED);
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, idQuickResponse)));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, idActions)));
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, idSimpleButton)));
        EXPECT_EQ(SendDlgItemMessageA(dialog, idPages, TCM_GETITEMCOUNT, 0, 0), 2);
        Click(dialog, IDCANCEL);
    });
}

TEST_F(TfmConfigTest, LearnsVolumeUpWithPressAndReleaseCodes) {
    Config([&](HWND dialog) {
        const TSimReport release{1, 0x00};
        Learn(dialog, idSimpleButton + 6, "HID Action: Volume Up", {1, 0xE9}, &release);
        EXPECT_TRUE(WaitText(dialog, idSimpleButton + 7, kAssigned));
        Click(dialog, IDOK);
    });
    EXPECT_NE(Settings().find("Action03=F" + Hex8(BurstCode({{1, 0xE9}}, 8)) +
                              Hex8(BurstCode({{1, 0x00}}, 8)) + "0\r\n"),
              std::string::npos)
        << Settings();
    EXPECT_NE(Settings().find("\r\nAction03PressBytes=01E9000000000000\r\nAction03ReleaseBytes="
                              "0100000000000000\r\n"),
              std::string::npos)
        << Settings();
}

// Learning that ends without a press, when its 10 s pass (ui_component_tests) or by Cancel.
TEST_F(TfmConfigTest, LearningWithoutAPressResetsTheActionAndCancelKeepsTheFile) {
    const std::string saved = "HidIndex=0\r\nMode=0\r\nAction00=C12345678FFFFFFFF0\r\n";
    WriteSettings(saved);
    Config([&](HWND dialog) {
        EXPECT_EQ(ItemText(dialog, idNextLabel), kAssigned);
        Click(dialog, idSimpleButton + 2);
        const HWND learning = WaitForDialog("HID Action: Next");
        ASSERT_NE(learning, nullptr);
        PostMessageA(learning, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(WaitText(dialog, idNextLabel, kNotDefined));
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(Settings(), saved);
}

TEST_F(TfmConfigTest, ExtendedAddEditDeleteWorkOnTheListAndCancelWritesNothing) {
    const std::string saved = "HidIndex=0\r\nMode=1\r\nAction00=C12345678FFFFFFFF0\r\n"
                              "Action01=EFFFFFFFFFFFFFFFF5\r\nAction02=N00000001000000027\r\n";
    WriteSettings(saved);
    Config([&](HWND dialog) {
        // The Simple commands that were missing are added, unassigned.
        EXPECT_EQ(
            ListRows(dialog, idActions, 3),
            (std::vector<std::string>{
                "Next | Assigned | Trelvon Remote", "Stop | Unassigned | Not selected",
                "Mute | Assigned | Not selected", "Play/Pause | Unassigned | Not selected",
                "Previous | Unassigned | Not selected", "Volume Up | Unassigned | Not selected",
                "Volume Down | Unassigned | Not selected"}));
        Click(dialog, idAdd);
        HWND edit = WaitForDialog("Action");
        ASSERT_NE(edit, nullptr);
        PickItem(edit, idEditPlayerAction, 2); // Play
        Click(edit, IDOK);
        ASSERT_TRUE(WaitGone(edit));
        EXPECT_EQ(ListRows(dialog, idActions, 3).back(), "Play | Unassigned | Not selected");

        SelectRow(dialog, 0);
        Click(dialog, idEdit);
        edit = WaitForDialog("Action");
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(ComboSelection(edit, idEditActiveHid), 1); // device 0
        PickItem(edit, idEditPlayerAction, 3);               // Pause
        Click(edit, IDOK);
        ASSERT_TRUE(WaitGone(edit));

        SelectRow(dialog, 1);
        Click(dialog, idDelete);
        ASSERT_TRUE(PumpUntil([&] { return ListRows(dialog, idActions, 3).size() == 7; }));
        const auto rows = ListRows(dialog, idActions, 3);
        EXPECT_EQ(rows[0], "Pause | Assigned | Trelvon Remote");
        EXPECT_EQ(rows[1], "Mute | Assigned | Not selected");
        EXPECT_EQ(rows[6], "Play | Unassigned | Not selected");
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(Settings(), saved);
}

TEST_F(TfmConfigTest, HidPageShowsTheDeviceItsReportsAndFollowsAutodetectAndDeviceChanges) {
    TSimDevice second;
    second.Manufacturer.reset();
    second.ProductID = 0x0002;
    second.ButtonCaps[HidP_Output] = {TSimBus::ButtonRange(0x08, 1, 3)};
    bus_.AddDevice(second);
    WriteSettings("HidIndex=0\r\nMode=0\r\n");
    Config([&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessageA(dialog, idPages, TCM_GETITEMCOUNT, 0, 0), 2);
        SendDlgItemMessageA(dialog, idAboutTitle, WM_LBUTTONDBLCLK, 0, 0);
        EXPECT_EQ(SendDlgItemMessageA(dialog, idPages, TCM_GETITEMCOUNT, 0, 0), 3);

        const HWND tree = GetDlgItem(dialog, idHidTree);
        EXPECT_EQ(TreeTexts(tree, nullptr),
                  (std::vector<std::string>{"General HID Info", "Input Buttons", "Input Values"}));
        const auto values = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                         SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                      SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0))));
        EXPECT_EQ(TreeTexts(tree, values),
                  (std::vector<std::string>{"Input Values 0", "Input Values 1"}));
        auto rows = ListRows(dialog, idHidInfo, 2);
        EXPECT_TRUE(Contains(rows, "Manufacturer | Trelvon Devices"));
        EXPECT_TRUE(Contains(rows, "VendorID | 1209"));
        EXPECT_TRUE(Contains(rows, "Ver | 256 [0100h]"));
        EXPECT_EQ(rows.back().rfind("Usage Page | 000C (", 0), 0u) << rows.back();

        SendMessageA(
            tree, TVM_SELECTITEM, TVGN_CARET,
            SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(values)));
        rows = ListRows(dialog, idHidInfo, 2);
        EXPECT_TRUE(Contains(rows, "Is Range | False"));
        EXPECT_TRUE(Contains(rows, "Usage | 233 [00E9h]"));

        SendDlgItemMessageA(dialog, idHidOpen, BM_CLICK, 0, 0);
        ASSERT_TRUE(bus_.WaitForConnections(1, 1, std::chrono::milliseconds(3000)));
        bus_.SendInput(1, {1, 0x00, 0x05});
        EXPECT_TRUE(WaitText(dialog, idHidReports,
                             "HID Report is received: 8 bytes 01 00 05 00 00 00 00 00 \r\n"));
        PickItem(dialog, idDeviceBox, 0); // rebuilds the page while the port is open
        EXPECT_TRUE(PumpUntil(
            [&] { return Contains(ListRows(dialog, idHidInfo, 2), "R/W modes: | True / True"); }));
        bus_.Unplug(1); // the failed read closes the port on its thread
        EXPECT_TRUE(PumpUntil(
            [&] { return SendDlgItemMessageA(dialog, idHidOpen, BM_GETCHECK, 0, 0) == 0; }));
        bus_.Plug(1);

        Click(dialog, idAutodetect);
        const HWND detection = WaitForLearning(bus_, "Detection an active HID", 2);
        ASSERT_NE(detection, nullptr);
        bus_.SendInput(2, {2, 0x01});
        ASSERT_TRUE(WaitGone(detection));
        EXPECT_TRUE(PumpUntil([&] { return ComboSelection(dialog, idDeviceBox) == 1; }));
        EXPECT_EQ(TreeTexts(tree, nullptr),
                  (std::vector<std::string>{"General HID Info", "Output Buttons"}));
        EXPECT_FALSE(Contains(ListRows(dialog, idHidInfo, 2), "Manufacturer | Trelvon Devices"));

        bus_.AddDevice(TSimDevice{});
        SendMessageA(dialog, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
        EXPECT_EQ(ComboItems(dialog, idDeviceBox).size(), 3u);
        EXPECT_EQ(ComboSelection(dialog, idDeviceBox), 1);
        Click(dialog, IDOK);
    });
    EXPECT_EQ(Settings().rfind("HidIndex=1\r\n", 0), 0u) << Settings();
}

// Cancel leaves the engine as it was: a binding deleted in the dialog and then cancelled still
// brings its command, and the file still holds it.
TEST_F(TfmConfigTest, CancelLeavesTheEngineAsItWas) {
    const std::string saved =
        "HidIndex=0\r\nMode=-1\r\nAction00=C" + Hex8(BurstCode({{1, 0x02}}, 8)) + "FFFFFFFF0\r\n";
    WriteSettings(saved);
    Config([&](HWND dialog) {
        const std::size_t rows = ListRows(dialog, idActions, 3).size();
        SelectRow(dialog, 0);
        Click(dialog, idDelete);
        ASSERT_TRUE(PumpUntil([&] { return ListRows(dialog, idActions, 3).size() == rows - 1; }));
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(Settings(), saved);
    bus_.SendInput(1, {1, 0x02});
    ASSERT_TRUE(player_.WaitForCommands(1, 3000));
    EXPECT_EQ(log_.CommandTexts(), std::vector<std::string>{"Next"});
}

// A remembered device that is away is shown by its name, never by whatever holds its old
// position, and the dialog follows it when it arrives.
TEST_F(TfmConfigTest, ARememberedDeviceThatIsAwayIsShownNotConnectedUntilItArrives) {
    const std::string away = "1209,0077,0100,000C,0001,0,,4F6C642052656D6F7465,SIM\\OLD,gone";
    WriteSettings("HidIndex=0\r\nMode=-1\r\nHidDevice=" + away +
                  "\r\nAction00=C12345678FFFFFFFF0\r\nAction00Device=" + away + "\r\n");
    Load();
    int arrived = 0;
    Config([&](HWND dialog) {
        EXPECT_EQ(ListRows(dialog, idActions, 3).front(),
                  "Next | Assigned | Old Remote (not connected)");
        const auto items = ComboItems(dialog, idDeviceBox);
        EXPECT_EQ(items.back(), "Old Remote (not connected)");
        EXPECT_EQ(ComboSelection(dialog, idDeviceBox), static_cast<int>(items.size()) - 1);

        TSimDevice back;
        back.ProductID = 0x0077;
        back.Product = L"Old Remote";
        arrived = bus_.InsertDevice(back, 0);
        EXPECT_TRUE(bus_.WaitForAnnouncements(std::chrono::milliseconds(3000)));
        EXPECT_TRUE(PumpUntil([&] {
            return ListRows(dialog, idActions, 3).front() == "Next | Assigned | Old Remote";
        }));
        EXPECT_EQ(ComboItems(dialog, idDeviceBox).size(), items.size());
        EXPECT_EQ(ComboSelection(dialog, idDeviceBox), 0);
        Click(dialog, IDOK);
    });
    // Saved at its position of now, with its path of now.
    const std::string saved = Settings();
    EXPECT_EQ(saved.rfind("HidIndex=0\r\n", 0), 0u) << saved;
    EXPECT_NE(saved.find("\r\nAction00=C12345678FFFFFFFF0\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("," + bus_.DevicePath(arrived) + "\r\n"), std::string::npos) << saved;
}

// A bound device that refused to open when the engine started is shown as present but not
// opened, in the action list and on the HID page.
TEST_F(TfmConfigTest, ShowsABoundDeviceThatTheEngineCouldNotOpen) {
    WriteSettings("HidIndex=0\r\nMode=-1\r\nAction00=C12345678FFFFFFFF0\r\n");
    bus_.LimitOpens(1, 1); // listed, but the engine's port cannot open it
    Load();
    // The engine tries again 250 ms later; the dialog shows what it found at its start.
    bus_.LimitOpens(1, -1);
    Config([&](HWND dialog) {
        EXPECT_EQ(ListRows(dialog, idActions, 3).front(),
                  "Next | Assigned | Trelvon Remote (not opened)");
        SendDlgItemMessageA(dialog, idAboutTitle, WM_LBUTTONDBLCLK, 0, 0);
        const auto rows = ListRows(dialog, idHidInfo, 2);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.back().rfind("Status | Present, but the plug-in could not open it: ", 0), 0u)
            << rows.back();
        Click(dialog, IDCANCEL);
    });
}

BOOL CALLBACK AddStaticText(HWND child, LPARAM into) {
    char name[16] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0)
        *reinterpret_cast<std::string*>(into) += WindowText(child);
    return TRUE;
}

std::string StaticTexts(HWND window) {
    std::string texts;
    EnumChildWindows(window, &AddStaticText, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// A save that fails (the file is held open, so it cannot be replaced) is reported with the file
// and the system's reason. The engine keeps the new settings for the session; the file stays.
TEST_F(TfmConfigTest, AFailedSaveIsReportedAndTheEngineKeepsTheNewSettings) {
    const std::string saved = "HidIndex=0\r\nMode=0\r\n";
    WriteSettings(saved);
    Load();
    {
        const TkvHandle holder(CreateFileA(settings_.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder);
        Config([&](HWND dialog) {
            Learn(dialog, idSimpleButton + 2, "HID Action: Next", {1, 0x02});
            Click(dialog, IDOK);
            const HWND box = WaitForDialog("Error!");
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
            const std::string text = StaticTexts(box);
            const std::string start = "The settings could not be saved to " + settings_ + ": ";
            EXPECT_EQ(text.rfind(start, 0), 0u) << text;
            EXPECT_GT(text.size(), start.size()) << "no reason given";
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            EXPECT_TRUE(WaitGone(dialog));
        });
    }
    EXPECT_EQ(Settings(), saved);
    bus_.SendInput(1, {1, 0x02});
    ASSERT_TRUE(player_.WaitForCommands(1, 3000));
    EXPECT_EQ(log_.CommandTexts(), std::vector<std::string>{"Next"});
}

// Counts the WM_TIMER messages that reach this thread in `milliseconds`.
int TimerTicksFor(DWORD milliseconds) {
    int ticks = 0;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < milliseconds;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ticks += msg.message == WM_TIMER ? 1 : 0;
            DispatchMessageA(&msg);
        }
    }
    return ticks;
}

THostPlugin* reentered = nullptr;
std::atomic<bool> reenteredReturned{false};

void CALLBACK ConfigAgain(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    reentered->Config();
    reenteredReturned = true;
}

// The dialog is owned by the player's window. A second config while it is open only brings it
// forward. Closing the player calls quit from inside the dialog's loop and frees the library:
// the dialog, and a learning dialog inside it, end as Cancel would, a later OK or Cancel finds
// nothing to act on, and nothing of the plug-in keeps running.
TEST_F(TfmConfigTest, ClosingThePlayerEndsTheOpenDialogsAsCancelAndLeavesNothingRunning) {
    const std::string saved = "HidIndex=0\r\nMode=0\r\nAction00=C12345678FFFFFFFF0\r\n";
    WriteSettings(saved);
    Load();
    reentered = plugin_.get();
    SetTimer(nullptr, 0, 300, &ConfigAgain);
    Config([&](HWND dialog) {
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), player_.Handle());
        EXPECT_FALSE(IsWindowEnabled(player_.Handle()));
        ASSERT_TRUE(PumpUntil([] { return reenteredReturned.load(); }));
        int dialogs = 0;
        for (HWND each = nullptr;
             (each = FindWindowExA(nullptr, each, "#32770", kCaption.c_str()));)
            ++dialogs;
        EXPECT_EQ(dialogs, 1);
        Click(dialog, IDCANCEL);
    });
    EXPECT_TRUE(IsWindowEnabled(player_.Handle()));
    // The count after an ordinary quit, once the bus and the system have started their own.
    plugin_.reset();
    ASSERT_TRUE(bus_.WaitForConnections(1, 0, std::chrono::milliseconds(3000)));
    PumpUntil([] { return false; }, 300);
    const std::size_t threads = ProcessThreadCount();

    // The player's close: quit, then FreeLibrary, inside whatever loop serves its window.
    player_.OnClose = [this] { plugin_.reset(); };
    for (const int clickAfterClose : {IDOK, IDCANCEL, 0}) {
        const char* scenario = clickAfterClose == 0      ? "learning"
                               : clickAfterClose == IDOK ? "OK"
                                                         : "Cancel";
        Config([&](HWND dialog) {
            HWND learning = nullptr;
            if (clickAfterClose != 0) {
                Click(dialog, idMore); // an edit that OK would save
            } else {
                Click(dialog, idSimpleButton + 2);
                learning = WaitForLearning(bus_, "HID Action: Next", 1, 2);
                ASSERT_NE(learning, nullptr);
            }
            PostMessageA(player_.Handle(), WM_CLOSE, 0, 0);
            if (clickAfterClose != 0)
                PostMessageA(dialog, WM_COMMAND, clickAfterClose, 0);
            EXPECT_TRUE(WaitGone(dialog));
            if (learning != nullptr) {
                EXPECT_TRUE(WaitGone(learning));
            }
        });
        EXPECT_EQ(plugin_, nullptr) << scenario;
        EXPECT_EQ(Settings(), saved) << scenario;
        EXPECT_TRUE(bus_.WaitForConnections(1, 0, std::chrono::milliseconds(3000))) << scenario;
        EXPECT_TRUE(PumpUntil([&] { return ProcessThreadCount() == threads; }))
            << scenario << ": " << ProcessThreadCount() << " threads against " << threads;
        EXPECT_EQ(TimerTicksFor(700), 0) << scenario;
        // The library stays loaded after such a quit, so that the loops on the stack can unwind;
        // its windows and timers are gone with their classes.
        if (const HMODULE module = GetModuleHandleA("gen_trelvon.dll")) {
            WNDCLASSA info{};
            EXPECT_FALSE(GetClassInfoA(module, "THidReportWindow", &info));
            EXPECT_FALSE(GetClassInfoA(module, "TkvTimerWindow", &info));
        }
    }
    player_.OnClose = nullptr;
}

// A remote that flips a toggle bit on every new press sends one of two reports each time.
TEST_F(TfmConfigTest, ToggleCodesLearnedWithTwoPressesServeEveryPress) {
    const TSimReport even{1, 0x02}, odd{1, 0x82};
    Config([&](HWND dialog) {
        Click(dialog, idSimpleButton + 2);
        const HWND learning = WaitForLearning(bus_, "HID Action: Next", 1);
        ASSERT_NE(learning, nullptr);
        bus_.SendInput(1, even);
        ASSERT_TRUE(WaitForPrompt(learning, kAgainPrompt));
        bus_.SendInput(1, odd);
        EXPECT_TRUE(WaitForPrompt(
            learning, "This remote sends alternating codes for this button: both were learned"));
        ASSERT_TRUE(WaitGone(learning));
        Click(dialog, IDOK);
    });
    EXPECT_NE(Settings().find("Action01=C" + Hex8(BurstCode({even}, 8)) + "FFFFFFFF0\r\n"),
              std::string::npos);
    EXPECT_NE(Settings().find("\r\nAction01AltPress=" + Hex8(BurstCode({odd}, 8)) + "\r\n"),
              std::string::npos)
        << Settings();
    EXPECT_EQ(PressAlternately(even, odd, 20), 20u);
}

TEST_F(TfmConfigTest, AKeyboardClassDeviceIsMarkedAndLearningFromItExplainsAtOnce) {
    TSimDevice keyboard;
    keyboard.Product = L"Trelvon Remote Keys";
    keyboard.UsagePage = 0x01;
    keyboard.Usage = 0x06;
    bus_.AddDevice(keyboard);
    const std::string saved = "HidIndex=0\r\nMode=-1\r\nAction00=C12345678FFFFFFFF0\r\n";
    WriteSettings(saved);
    Config([&](HWND dialog) {
        EXPECT_EQ(
            ComboItems(dialog, idDeviceBox),
            (std::vector<std::string>{"Trelvon Remote", "Trelvon Remote Keys (used by Windows)"}));
        SelectRow(dialog, 0);
        Click(dialog, idEdit);
        const HWND edit = WaitForDialog("Action");
        ASSERT_NE(edit, nullptr);
        PickItem(edit, idEditActiveHid, 2); // the keyboard
        const DWORD start = GetTickCount();
        Click(edit, idEditAssign);
        const HWND box = WaitForDialog("Device used by Windows");
        ASSERT_NE(box, nullptr);
        EXPECT_LT(GetTickCount() - start, 1500u);
        EXPECT_NE(StaticTexts(box).find("consumer-control device"), std::string::npos);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitGone(box));
        // Nothing learned and nothing lost: the action keeps its codes.
        EXPECT_TRUE(WaitText(edit, idEditStatus, "Assigned"));
        EXPECT_EQ(bus_.Connections(2), 0u);
        Click(edit, IDOK);
        ASSERT_TRUE(WaitGone(edit));
        EXPECT_EQ(ListRows(dialog, idActions, 3)[0], "Next | Assigned | Trelvon Remote");
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(Settings(), saved);
    EXPECT_EQ(bus_.Connections(2), 0u);
}

TEST_F(TfmConfigTest, ActionEditTakesRepeatTimingInRangeAndRefusesTheRest) {
    WriteSettings("HidIndex=0\r\nMode=-1\r\nAction00=F1234567812345678-1\r\n"
                  "Action01=C12345678FFFFFFFF0\r\n");
    Config([&](HWND dialog) {
        SelectRow(dialog, 1);
        Click(dialog, idEdit);
        HWND edit = WaitForDialog("Action");
        ASSERT_NE(edit, nullptr);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(edit, idEditDelay))); // Next does not repeat
        Click(edit, IDCANCEL);
        ASSERT_TRUE(WaitGone(edit));

        SelectRow(dialog, 0);
        Click(dialog, idEdit);
        edit = WaitForDialog("Action");
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(ItemText(edit, idEditDelay), "500");
        EXPECT_EQ(ItemText(edit, idEditInterval), "500");
        for (const char* bad : {"99", "2001", "", "99999999999"}) {
            SetDlgItemTextA(edit, idEditInterval, bad);
            Click(edit, IDOK);
            const HWND box = WaitForDialog("Repeat timing");
            ASSERT_NE(box, nullptr) << bad;
            EXPECT_EQ(StaticTexts(box),
                      "The repeat interval must be a whole number of milliseconds from 100 to "
                      "2000.")
                << bad;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            ASSERT_TRUE(WaitGone(box));
            EXPECT_TRUE(IsWindow(edit)) << bad;
        }
        SetDlgItemTextA(edit, idEditDelay, "300");
        SetDlgItemTextA(edit, idEditInterval, "100");
        Click(edit, IDOK);
        ASSERT_TRUE(WaitGone(edit));
        Click(dialog, IDOK);
    });
    EXPECT_NE(Settings().find("Action00=F1234567812345678-1\r\nAction00RepeatDelay=300\r\n"
                              "Action00RepeatInterval=100\r\nAction01=C12345678FFFFFFFF0\r\n"),
              std::string::npos)
        << Settings();
}

TEST_F(TfmConfigTest, ACommandBeyondTheTypesIsListedByNameAndAMenuCommandTakesItsNumber) {
    WriteSettings("HidIndex=0\r\nMode=-1\r\nAction00=A12345678FFFFFFFF0\r\n"
                  "Action00Command=rate:3\r\n");
    Config([&](HWND dialog) {
        // The Simple commands follow, unassigned.
        EXPECT_EQ(ListRows(dialog, idActions, 3).front(), "Rate 3 | Assigned | Trelvon Remote");
        SelectRow(dialog, 0);
        Click(dialog, idEdit);
        const HWND edit = WaitForDialog("Action");
        ASSERT_NE(edit, nullptr);
        const std::vector<std::string> items = ComboItems(edit, idEditPlayerAction);
        ASSERT_EQ(items.size(), 31u); // every type but Full Screen, and every command
        EXPECT_EQ(items[ComboSelection(edit, idEditPlayerAction)], "Rate 3");
        EXPECT_EQ(items[5], "Stop after this track");
        EXPECT_EQ(items.back(), "Menu command ...");
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(edit, idEditMenuNumber)));

        PickItem(edit, idEditPlayerAction, 30);
        ASSERT_TRUE(PumpUntil([&] { return IsWindowEnabled(GetDlgItem(edit, idEditMenuNumber)); }));
        SetDlgItemTextA(edit, idEditMenuNumber, "12");
        Click(edit, IDOK);
        const HWND box = WaitForDialog("Menu command");
        ASSERT_NE(box, nullptr);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitGone(box));
        SetDlgItemTextA(edit, idEditMenuNumber, "40123");
        Click(edit, IDOK);
        ASSERT_TRUE(WaitGone(edit));
        EXPECT_EQ(ListRows(dialog, idActions, 3).front(),
                  "Menu command 40123 | Assigned | Trelvon Remote");
        Click(dialog, IDOK);
    });
    EXPECT_NE(Settings().find("Action00=A12345678FFFFFFFF0\r\nAction00Command=menu:40123\r\n"),
              std::string::npos)
        << Settings();
}

// Keys only: Tab goes round the Extended page in reading order, Enter on the list edits, Esc closes
// the edit and gives the list its focus back, Ctrl+Tab reaches the HID page, Alt+D autodetects,
// Esc cancels learning and then the dialog, and nothing is saved.
TEST_F(TfmConfigTest, TheDialogWorksFromTheKeyboardAlone) {
    const std::string saved = "HidIndex=0\r\nMode=-1\r\nAction00=C12345678FFFFFFFF0\r\n";
    WriteSettings(saved);
    Config([&](HWND dialog) {
        SetForegroundWindow(dialog);
        const auto focusIs = [&](HWND window, int id) {
            return PumpUntil([&] { return FocusedId(window) == id; }, 2000);
        };
        ASSERT_TRUE(focusIs(dialog, idActions)) << FocusedId(dialog);
        for (const int next : {idAdd, idEdit, idDelete, idQuickResponse, idSimple, IDOK, IDCANCEL,
                               idPages, idActions}) {
            PressKey(VK_TAB);
            ASSERT_TRUE(focusIs(dialog, next)) << next << " expected, " << FocusedId(dialog);
        }
        PressKey(VK_TAB, {VK_SHIFT});
        ASSERT_TRUE(focusIs(dialog, idPages));
        PressKey(VK_TAB);
        ASSERT_TRUE(focusIs(dialog, idActions));

        PressKey(VK_HOME);
        ASSERT_TRUE(PumpUntil([&] {
            return SendDlgItemMessageA(dialog, idActions, LVM_GETNEXTITEM, -1, LVNI_SELECTED) == 0;
        }));
        PressKey(VK_RETURN);
        const HWND edit = WaitForDialog("Action");
        ASSERT_NE(edit, nullptr);
        EXPECT_TRUE(focusIs(edit, idEditPlayerAction));
        PressKey(VK_ESCAPE);
        ASSERT_TRUE(WaitGone(edit));
        EXPECT_TRUE(focusIs(dialog, idActions));

        SendDlgItemMessageA(dialog, idAboutTitle, WM_LBUTTONDBLCLK, 0, 0); // reveals the HID page
        PressKey(VK_TAB, {VK_CONTROL});
        ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(GetDlgItem(dialog, idHidTree)); }));
        EXPECT_TRUE(focusIs(dialog, idDeviceBox));
        PressKey('D', {VK_MENU});
        const HWND detection = WaitForDialog("Detection an active HID");
        ASSERT_NE(detection, nullptr);
        PressKey(VK_ESCAPE);
        ASSERT_TRUE(WaitGone(detection));
        EXPECT_TRUE(IsWindow(dialog));
        PressKey(VK_ESCAPE);
        EXPECT_TRUE(WaitGone(dialog));
    });
    EXPECT_EQ(Settings(), saved);
}

} // namespace
