#include <gtest/gtest.h>
#include <windows.h>

#include <dbt.h>

#include "framework/kv_error.h"
#include "support/recording_log.h"
#include "support/win_test_support.h"
#include "test_port.h"

namespace {

using Line = TkvRecordingLog::Line;

TEST(TkvBaseIOTest, ActiveOpensAndClosesOnceWithEventsWhoseErrorsAreSwallowed) {
    TTestPort port;
    std::vector<std::string> events;
    port.OnOpen = [&](TkvBaseIO* sender) {
        events.push_back(sender == &port ? "open" : "?");
        throw EkvError("handler fault");
    };
    port.OnClose = [&](TkvBaseIO*) {
        events.push_back("close");
        throw 42;
    };
    EXPECT_EQ(port.Handle(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(port.LogPrefix(), "test: ");
    EXPECT_FALSE(port.Active());
    port.SetActive(true);
    port.SetActive(true);
    EXPECT_TRUE(port.Active());
    port.SetActive(false);
    port.SetActive(false);
    port.Close();
    EXPECT_EQ(events, (std::vector<std::string>{"open", "close"}));
    EXPECT_EQ(port.opens, 1);
    EXPECT_EQ(port.closes, 1);
    EXPECT_EQ(TTestPort().LogPrefix().empty(), false);
}

TEST(TkvBaseIOTest, FailedOpenRaisesUnlessClearedAndAlwaysLogsTheFatalLine) {
    TTestPort port;
    TkvRecordingLog log;
    port.SetLog(&log);
    port.failOpen = true;
    bool opened = false;
    port.OnOpen = [&](TkvBaseIO*) { opened = true; };
    EXPECT_THROW(port.SetActive(true), EkvError);
    port.OnFatalError = [](TkvComponent*, std::uint32_t, std::uint32_t, const std::string&,
                           bool& fatal) { fatal = false; };
    EXPECT_NO_THROW(port.SetActive(true));
    EXPECT_FALSE(port.Active());
    EXPECT_FALSE(opened);
    const Line fatalLine{0, "Fatal Error: 16, 2, Active device is not selected", false};
    EXPECT_EQ(log.Lines(), (std::vector<Line>{fatalLine, fatalLine}));
}

TEST(TkvBaseIOTest, WhileLoadingActiveIsStoredAndAppliedOnceAfterLoading) {
    TTestPort port;
    port.BeginLoading();
    port.SetActive(true);
    EXPECT_TRUE(port.Active());
    EXPECT_EQ(port.opens, 0);
    EXPECT_NO_THROW(port.DoError(1, 2, "quiet while loading", false));
    port.EndLoading();
    EXPECT_EQ(port.opens, 1);
    EXPECT_TRUE(port.Active());
}

TEST(TkvBaseIOTest, FailureAfterLoadingShowsTheErrorBoxAndLeavesThePortClosed) {
    // The box belongs to whatever window is in front, like the dialog that loaded the port.
    const HWND front = CreateWindowExA(0, "STATIC", "front", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                       200, 100, nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(front);
    const HWND foreground = GetForegroundWindow();
    TMessageBoxCatcher boxes;
    TTestPort port;
    port.failOpen = true;
    port.BeginLoading();
    port.SetActive(true);
    port.EndLoading();
    EXPECT_FALSE(port.Active());
    port.DoError(7, 0, "shown only", true);
    ASSERT_EQ(boxes.Boxes().size(), 2u);
    EXPECT_EQ(boxes.Boxes()[0].Caption, "Error");
    EXPECT_EQ(boxes.Boxes()[0].Text, "error");
    EXPECT_EQ(boxes.Boxes()[0].Owner, foreground);
    EXPECT_EQ(boxes.Boxes()[1].Text, "shown only");
    DestroyWindow(front);
}

class TDyingDevice : public TkvDevice {
public:
    explicit TDyingDevice(int key, bool* gone = nullptr) : gone_(gone) { SortKey = key; }
    ~TDyingDevice() override {
        if (gone_ != nullptr)
            *gone_ = true;
    }

private:
    bool* gone_;
};

TEST(TkvBaseIOTest, InsertDeviceKeepsKeyOrderAndRenumbers) {
    TTestPort port;
    EXPECT_EQ(port.InsertDevice(std::make_unique<TDyingDevice>(20)), 0);
    EXPECT_EQ(port.InsertDevice(std::make_unique<TDyingDevice>(30)), 1);
    EXPECT_EQ(port.InsertDevice(std::make_unique<TDyingDevice>(10)), 0);
    EXPECT_EQ(port.InsertDevice(std::make_unique<TDyingDevice>(25)), 2);
    std::unique_ptr<TkvDevice> duplicate = std::make_unique<TDyingDevice>(25);
    EXPECT_EQ(port.InsertDevice(std::move(duplicate)), -1);
    EXPECT_NE(duplicate, nullptr); // stays with the caller
    ASSERT_EQ(port.DeviceCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(port.GetDevice(i)->Index, i);
        EXPECT_EQ(port.GetDevice(i)->Owner, &port);
    }
    EXPECT_EQ(port.GetDevice(2)->SortKey, 25);
    EXPECT_EQ(port.GetDevice(-1), nullptr);
    EXPECT_EQ(port.GetDevice(4), nullptr);
}

TEST(TkvBaseIOTest, DeviceListLoadsOnDemandAndFreesOnlyOwnedDevices) {
    TTestPort port;
    port.deviceNames = {"Remote", "Keyboard"};
    port.GetDeviceList(nullptr);
    EXPECT_EQ(port.loads, 1);
    TkvDeviceItems items{{"stale", nullptr}};
    port.GetDeviceList(&items);
    EXPECT_EQ(port.loads, 1);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].Text, "Keyboard");
    EXPECT_EQ(items[1].Device, port.GetDevice(1));

    bool ownedGone = false, keptGone = false;
    port.ClearDevices();
    port.AddDevice(std::make_unique<TDyingDevice>(1, &ownedGone));
    port.ClearDevices();
    EXPECT_TRUE(ownedGone);
    auto kept = std::make_unique<TDyingDevice>(1, &keptGone);
    TkvDevice* keptAddress = kept.get();
    port.SetOwnsDevices(false);
    port.AddDevice(std::move(kept));
    port.ClearDevices();
    EXPECT_FALSE(keptGone);
    std::unique_ptr<TkvDevice>{keptAddress}.reset();
}

struct TNotified {
    std::vector<std::int32_t> codes;
    void Changed(TkvBaseIO*, std::int32_t code) { codes.push_back(code); }
    TkvNotifyEvent Event() { return MakeNotifyEvent<&TNotified::Changed>(this); }
};

TEST(TkvBaseIOTest, NotifyCallbacksAndDeviceChangeMessages) {
    TTestPort port;
    TNotified first, second;
    EXPECT_EQ(port.AddNotify(first.Event()), 0);
    EXPECT_EQ(port.AddNotify(second.Event()), 1);
    EXPECT_EQ(port.AddNotify(first.Event()), 0);
    port.SetDeviceIndex(2);
    port.RemoveNotify(second.Event());
    port.RemoveNotify(second.Event());

    DEV_BROADCAST_HDR header{sizeof header, DBT_DEVTYP_DEVICEINTERFACE, 0};
    const auto lp = reinterpret_cast<LPARAM>(&header);
    EXPECT_FALSE(port.HandleDeviceChange(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lp));
    EXPECT_FALSE(port.HandleDeviceChange(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0));
    EXPECT_FALSE(port.HandleDeviceChange(WM_SETTINGCHANGE, DBT_DEVNODES_CHANGED, 0));
    EXPECT_TRUE(port.HandleDeviceChange(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
    header.dbch_devicetype = DBT_DEVTYP_PORT;
    EXPECT_TRUE(port.HandleDeviceChange(WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lp));
    EXPECT_TRUE(port.HandleDeviceChange(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, lp));
    EXPECT_EQ(first.codes, (std::vector<std::int32_t>(4, nfDeviceChanged)));
    EXPECT_EQ(second.codes, (std::vector<std::int32_t>{nfDeviceChanged}));
}

TEST(TkvBaseIOTest, ReceivePathAndLogLinesWithPrefix) {
    TTestPort port;
    EXPECT_FALSE(port.HasReceiver());
    EXPECT_FALSE(port.DoReceive("ab", 2));
    std::string received;
    port.OnAfterReceive = [&](TkvBaseIO* com, const void* buffer, std::uint32_t count) {
        EXPECT_EQ(com, &port);
        received.assign(static_cast<const char*>(buffer), count);
    };
    EXPECT_TRUE(port.HasReceiver());
    EXPECT_FALSE(port.DoReceive("report", 6));
    EXPECT_EQ(received, "report");

    port.LogMsg(1, "no log: nothing happens");
    auto log = std::make_unique<TkvRecordingLog>();
    port.SetLog(log.get());
    port.SetLogPrefix("50% ");
    port.LogMsg(1, "close device.");
    port.LogMsg(1, "");
    port.LogFmt(2, "Do input data [%u] bytes ", {9u});
    EXPECT_EQ(log->Lines(), (std::vector<Line>{{1, "50% close device.", false},
                                               {0, "", true},
                                               {2, "50% Do input data [9] bytes ", false}}));
    log.reset(); // the removal notice clears the link
    EXPECT_EQ(port.Log(), nullptr);
    port.LogMsg(1, "after the log went");
}

TEST(TkvBaseIOTest, WriteRecordsAreReadyForOverlappedWrites) {
    TTestPort port;
    const HANDLE event = port.WriteOverlapped().hEvent;
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    SetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT); // auto-reset
    EXPECT_EQ(port.BufferWriteOverlapped().hEvent, nullptr);
}

} // namespace
