// The dispatcher's ports, report hand-over and window timers, with devices on the simulated bus.
// The timing rules themselves are tested on a clock of their own (hid_timing_test.cpp); one test
// here goes the whole way through a real port and timer.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/hid_dispatcher.h"

#include <dbt.h>
#include "recording_processor.h"
#include "hid/sim_test_support.h"
#include "sim/sim_bus.h"
#include "support/burst_code.h"
#include "support/win_test_support.h"

namespace {

class THidPortDispatcherTest : public testing::Test {
protected:
    THidPortDispatcherTest() {
        for (int i = 0; i < 2; ++i)
            ids_.push_back(bus_.AddDevice(TSimDevice{}));
    }
    ~THidPortDispatcherTest() override { engine_.reset(); }

    THidPortDispatcher& Ports() { return PortDispatcher(*engine_); }
    THidDevicehandler& Handler(int position) { return Ports().DeviceHandlers(position); }
    void Receive(THidDevicehandler& handler, const std::vector<std::uint8_t>& report) {
        Ports().ReceiveReport(handler.Serial, report.data(), report.size());
    }
    // The monitoring thread's half, from a thread of the test.
    void PostFromAnotherThread(THidDevicehandler& handler,
                               const std::vector<std::uint8_t>& report) {
        std::thread([&] {
            THidPortDispatcher::HandleReport(handler, report.data(),
                                             static_cast<std::uint32_t>(report.size()));
        }).join();
    }

    TBindingReset reset_;
    TSimBus bus_;
    std::vector<int> ids_;
    std::unique_ptr<TRecordingProcessor> engine_ = std::make_unique<TRecordingProcessor>();
};

TEST_F(THidPortDispatcherTest, OpensEachUsedExistingDeviceOnceInOrderOfFirstUse) {
    for (std::int32_t device : {1, -1, 0, 1, 2, 99})
        engine_->Bind(atNext, 0xA, device);
    engine_->OpenDevices();
    ASSERT_EQ(Ports().DeviceHandlerCount(), 2);
    EXPECT_EQ(Handler(0).Device, 1);
    EXPECT_EQ(Handler(1).Device, 0);
    EXPECT_EQ(Handler(0).Port.CurrentDevice()->DevicePath, bus_.DevicePath(ids_[1]));
    EXPECT_TRUE(Handler(0).Port.Active() && Handler(1).Port.Active());
    EXPECT_NE(Handler(0).Serial, Handler(1).Serial);
    EXPECT_EQ(Ports().FindDeviceHandler(0), &Handler(1));
    EXPECT_EQ(Ports().FindDeviceHandler(2), nullptr);
    EXPECT_EQ(Ports().EnumerationPort().DeviceCount(), 2);
    EXPECT_FALSE(Ports().EnumerationPort().Active());
    EXPECT_TRUE(PumpUntil([&] { return bus_.Connections(ids_[0]) == 1; }));

    engine_->CloseDevices();
    EXPECT_EQ(Ports().DeviceHandlerCount(), 0);
    EXPECT_TRUE(PumpUntil([&] { return bus_.Connections(ids_[0]) == 0; }));
}

TEST_F(THidPortDispatcherTest, ARemoteThatComesBackIsOpenedAgainEvenIfItRefusesAtFirst) {
    TSimDevice other;
    other.ProductID = 2;
    const int remote = bus_.AddDevice(other);
    THidAction& next = engine_->Bind(atNext, BurstCode({{'n'}}), 2);
    engine_->OpenDevices();
    ASSERT_EQ(Ports().DeviceHandlerCount(), 1);
    // Bound by position only, the press makes this remote the one the action waits for.
    Receive(Handler(0), {'n'});
    ASSERT_TRUE(PumpUntil([&] { return engine_->Executed.size() == 1; }));
    EXPECT_EQ(next.Device.Path, bus_.DevicePath(remote));

    // Unplugged: the port closes itself, the refresh drops it, the action waits.
    bus_.Unplug(remote);
    EXPECT_TRUE(PumpUntil([&] { return Ports().DeviceHandlerCount() == 0; }));
    EXPECT_TRUE(next.DeviceAway);

    // Back, and refusing to be opened for a moment, which keeps it off the list: it is looked
    // for again.
    bus_.LimitOpens(remote, 0);
    bus_.Plug(remote);
    SendMessageA(Ports().ReportWindow(), WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    EXPECT_TRUE(PumpUntil([&] { return Ports().RefreshDue().has_value(); }));
    PumpUntil([] { return false; }, 300);
    EXPECT_TRUE(next.DeviceAway);
    bus_.LimitOpens(remote, -1);
    ASSERT_TRUE(PumpUntil([&] { return Ports().DeviceHandlerCount() == 1; }));
    EXPECT_FALSE(next.DeviceAway);
    EXPECT_EQ(next.DeviceIndex, Handler(0).Device);
    EXPECT_EQ(Handler(0).Path, bus_.DevicePath(remote));

    Receive(Handler(0), {'n'});
    EXPECT_TRUE(PumpUntil([&] { return engine_->Executed.size() == 2; }));
    // Nothing is left armed once every device is served.
    EXPECT_FALSE(Ports().RefreshDue());
}

TEST_F(THidPortDispatcherTest, PostedReportsArriveInOrderAndStaleOnesAreDroppedAndFreed) {
    const std::vector<std::uint8_t> a{'a'}, bc{'b', 'c'};
    engine_->Bind(atNext, 0xCADBBE3D, 0);
    engine_->OpenDevices();
    PostFromAnotherThread(Handler(0), a);
    PostFromAnotherThread(Handler(0), bc);
    EXPECT_EQ(THidPortDispatcher::ReportsInFlight(), 2);
    ASSERT_TRUE(PumpUntil([] { return THidPortDispatcher::ReportsInFlight() == 0; }));
    EXPECT_EQ(Handler(0).Burst.Code(), 0xCADBBE3Du);

    // Posted by a port that a reopen then replaced: never seen by the new handler, and freed.
    Ports().BurstComplete(Handler(0).Serial);
    const std::uint32_t oldSerial = Handler(0).Serial;
    PostFromAnotherThread(Handler(0), a);
    engine_->ReopenDevices();
    EXPECT_EQ(THidPortDispatcher::ReportsInFlight(), 0);
    ASSERT_EQ(Ports().DeviceHandlerCount(), 1);
    Ports().ReceiveReport(oldSerial, a.data(), a.size()); // one that was already being handled
    EXPECT_FALSE(Handler(0).Open);

    // Posted just before the engine goes: freed with its window.
    PostFromAnotherThread(Handler(0), a);
    EXPECT_EQ(THidPortDispatcher::ReportsInFlight(), 1);
    engine_.reset();
    EXPECT_EQ(THidPortDispatcher::ReportsInFlight(), 0);
}

// A stream far past the bound while the UI thread is stuck: the copies stay bounded, and the
// player's queue holds one wake-up instead of one message per report.
TEST_F(THidPortDispatcherTest, AStreamWhileTheUiThreadIsStuckStaysBoundedWithOneWakeUp) {
    const std::vector<std::uint8_t> press{1};
    engine_->Bind(atNext, BurstCode({press}), 0);
    engine_->OpenDevices();
    THidDevicehandler& handler = Handler(0);
    const auto send = [&](int count) {
        for (int i = 0; i < count; ++i)
            THidPortDispatcher::HandleReport(handler, press.data(), 1);
    };

    std::thread stream([&] { send(3000); });
    stream.join();
    EXPECT_EQ(THidPortDispatcher::ReportsInFlight(),
              static_cast<long>(TkvReportQueue::kDefaultCapacity));
    int wakeUps = 0;
    MSG msg;
    while (PeekMessageA(&msg, Ports().ReportWindow(), 0, 0, PM_REMOVE)) {
        ++wakeUps;
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(wakeUps, 1);
    EXPECT_EQ(THidPortDispatcher::ReportsInFlight(), 0);
}

TEST_F(THidPortDispatcherTest, AReportFromTheDeviceBecomesACommandAfterTheSilence) {
    const std::vector<std::uint8_t> report{0x01, 0xE9, 0, 0, 0, 0, 0, 0};
    engine_->Bind(atVolumeUp, BurstCode({report}), 1);
    engine_->OpenDevices();
    ASSERT_TRUE(PumpUntil([&] { return bus_.Connections(ids_[1]) == 1; }));
    const DWORD sent = GetTickCount();
    bus_.SendInput(ids_[1], {0x01, 0xE9});
    ASSERT_TRUE(PumpUntil([&] { return !engine_->Executed.empty(); }, 3000));
    EXPECT_GE(GetTickCount() - sent, 280u);
    EXPECT_EQ(engine_->Executed, std::vector<std::uint8_t>{atVolumeUp});
}

} // namespace
