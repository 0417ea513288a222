// The dispatcher's ports, report hand-over and timers, with devices on the simulated bus. The
// burst steps are driven directly; one test goes the whole way through a real port and timer.
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
    EXPECT_TRUE(PumpUntil([&] { return Ports().RefreshTimer().Enabled(); }));
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
    EXPECT_FALSE(Ports().RefreshTimer().Enabled());
}

// A device that stays listed but fails every read closes its port at once after each reopen:
// the reopens back off instead of following each other every 100 ms without end, and a report
// read again starts the delays afresh.
TEST_F(THidPortDispatcherTest, AFailingDeviceIsReopenedLessAndLessOften) {
    engine_->Bind(atNext, BurstCode({{'n'}}), 0);
    engine_->OpenDevices();
    ASSERT_EQ(Ports().DeviceHandlerCount(), 1);
    const auto failedRead = [&] {
        Handler(0).Reports.PushClose();
        PumpUntil([&] { return Ports().RefreshTimer().Enabled(); }, 500);
        const std::uint32_t next =
            Ports().RefreshTimer().Enabled() ? Ports().RefreshTimer().Interval() : 0;
        Ports().RefreshTimer().SetEnabled(false);
        Ports().RefreshDevices(); // the retry, at once
        return next;
    };
    std::vector<std::uint32_t> delays;
    for (int i = 0; i < 6; ++i)
        delays.push_back(failedRead());
    EXPECT_EQ(delays, (std::vector<std::uint32_t>{250, 500, 1000, 2000, 4000, 0}));
    Receive(Handler(0), {'n'});
    EXPECT_EQ(failedRead(), 250u);
}

TEST_F(THidPortDispatcherTest, ABurstCollectsReportsUntilItsTimerFires) {
    const std::vector<std::uint8_t> a{'a'}, bc{'b', 'c'};
    engine_->Bind(atNext, 0xCADBBE3D, 0); // the code of "abc"
    engine_->OpenDevices();
    THidDevicehandler& handler = Handler(0);
    EXPECT_FALSE(handler.BurstTimer.Enabled());
    EXPECT_EQ(handler.BurstTimer.Interval(), 300u);

    Receive(handler, a);
    Receive(handler, bc);
    EXPECT_TRUE(handler.BurstTimer.Enabled());
    EXPECT_EQ(handler.Burst.Code(), 0xCADBBE3Du);
    Ports().BurstComplete(&handler.BurstTimer);
    EXPECT_FALSE(handler.BurstTimer.Enabled());
    EXPECT_EQ(engine_->Executed, std::vector<std::uint8_t>{atNext});

    Receive(handler, bc); // a new burst starts from scratch
    EXPECT_EQ(handler.Burst.Code(), BurstCode({bc}));
    Ports().BurstComplete(&handler.BurstTimer);
    EXPECT_EQ(engine_->Executed.size(), 1u);
}

TEST_F(THidPortDispatcherTest, RepeatTimerRunsFromPressToRelease) {
    const std::vector<std::uint8_t> press{1}, release{2};
    engine_->Bind(atVolumeUp, BurstCode({press}), 1, BurstCode({release}));
    engine_->OpenDevices();
    Receive(Handler(0), press);
    Ports().BurstComplete(&Handler(0).BurstTimer);
    EXPECT_TRUE(Ports().RepeatTimer().Enabled());
    // Armed for the first repeat: the action's delay after the press, less the time since.
    EXPECT_LE(Ports().RepeatTimer().Interval(), kDefaultRepeatMs);
    EXPECT_GE(Ports().RepeatTimer().Interval(), kDefaultRepeatMs - 50);

    engine_->ReopenDevices(); // the hold survives; only the timer stops
    EXPECT_FALSE(Ports().RepeatTimer().Enabled());
    Receive(Handler(0), release);
    Ports().BurstComplete(&Handler(0).BurstTimer);
    EXPECT_FALSE(engine_->Actions(0).Pressed);
    EXPECT_EQ(engine_->Executed, std::vector<std::uint8_t>(2, atVolumeUp));
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
    Ports().BurstComplete(&Handler(0).BurstTimer);
    const std::uint32_t oldSerial = Handler(0).Serial;
    PostFromAnotherThread(Handler(0), a);
    engine_->ReopenDevices();
    EXPECT_EQ(THidPortDispatcher::ReportsInFlight(), 0);
    ASSERT_EQ(Ports().DeviceHandlerCount(), 1);
    Ports().ReceiveReport(oldSerial, a.data(), a.size()); // one that was already being handled
    EXPECT_FALSE(Handler(0).BurstTimer.Enabled());

    // Posted just before the engine goes: freed with its window.
    PostFromAnotherThread(Handler(0), a);
    EXPECT_EQ(THidPortDispatcher::ReportsInFlight(), 1);
    engine_.reset();
    EXPECT_EQ(THidPortDispatcher::ReportsInFlight(), 0);
}

TEST_F(THidPortDispatcherTest, ABusyUiThreadRunsCommandsLateButNeverDifferentOnes) {
    const std::vector<std::uint8_t> press{1};
    engine_->Bind(atNext, BurstCode({press}), 0);
    engine_->OpenDevices();
    THidDevicehandler& handler = Handler(0);
    const auto send = [&](int count) {
        for (int i = 0; i < count; ++i)
            THidPortDispatcher::HandleReport(handler, press.data(), 1);
    };

    // Two presses 1 s apart, read while the UI thread is stuck for 2.5 s: two commands.
    std::thread presses([&] {
        send(1);
        Sleep(1000);
        send(1);
    });
    Sleep(2500);
    presses.join();
    ASSERT_TRUE(PumpUntil([&] { return engine_->Executed.size() >= 2; }, 2000));
    EXPECT_EQ(engine_->Executed, std::vector<std::uint8_t>(2, atNext));

    // A stream far past the bound while the UI thread is stuck: the copies stay bounded, and the
    // player's queue holds one wake-up instead of one message per report.
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

TEST_F(THidPortDispatcherTest, ALearnedBurstEndsAtOnceAndTheNextReportOpensANewOne) {
    const std::vector<std::uint8_t> press{1}, release{2}, next1{3}, next2{4};
    THidAction& up = engine_->Bind(atVolumeUp, BurstCode({press}), 0, BurstCode({release}));
    up.Patterns[prPress].Bytes = press, up.Patterns[prRelease].Bytes = release;
    engine_->Bind(atNext, BurstCode({{3, 4}}), 0).Patterns[prPress].Bytes = {3, 4};
    engine_->OpenDevices();

    // A quick tap's release is a burst of its own, and reports go on after a learned burst.
    for (const auto* report : {&press, &release, &next1, &next2, &next1, &next2, &next1})
        Receive(Handler(0), *report);
    EXPECT_FALSE(Ports().RepeatTimer().Enabled());
    EXPECT_EQ(engine_->Executed,
              (std::vector<std::uint8_t>{atVolumeUp, atVolumeUp, atNext, atNext}));
    EXPECT_TRUE(Handler(0).BurstTimer.Enabled());

    // A device change mid-burst drops the burst's start; switched off, bursts wait.
    engine_->ReopenDevices();
    Receive(Handler(0), next2);
    engine_->SetQuickResponse(false);
    Ports().BurstComplete(&Handler(0).BurstTimer);
    Receive(Handler(0), press);
    EXPECT_TRUE(Handler(0).BurstTimer.Enabled());
    EXPECT_EQ(engine_->Executed.size(), 4u);
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
