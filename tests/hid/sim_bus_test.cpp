#include "sim/sim_bus.h"

#include "sim_test_support.h"
#include "framework/kv_error.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// Reads one report, waiting at most `timeout`; empty on failure or timeout.
TSimReport ReadReport(HANDLE handle, DWORD length, DWORD timeout = 3000, DWORD* error = nullptr) {
    TkvHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov{};
    ov.hEvent = event.Get();
    TSimReport report(length);
    DWORD got = 0;
    BOOL ok = ReadFile(handle, report.data(), length, &got, &ov);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(event.Get(), timeout) != WAIT_OBJECT_0) {
            CancelPendingIo(handle, &ov);
            GetOverlappedResult(handle, &ov, &got, TRUE);
            return {};
        }
        ok = GetOverlappedResult(handle, &ov, &got, TRUE);
    }
    if (error)
        *error = ok ? 0 : GetLastError();
    if (!ok)
        return {};
    report.resize(got);
    return report;
}

TEST(TSimBusTest, DeliversEachReportPaddedOrCutToTheInputLength) {
    TSimBus bus;
    TSimDevice info;
    info.InputReportLength = 4;
    int id = bus.AddDevice(info);
    TkvHandle device = OpenDevice(bus.DevicePath(id), GENERIC_READ | GENERIC_WRITE);
    ASSERT_TRUE(device);
    ASSERT_TRUE(bus.WaitForConnections(id, 1, 2s));
    bus.SendInput(id, {1, 2});
    bus.SendInput(id, {3, 4, 5, 6, 7, 8});
    EXPECT_EQ(ReadReport(device.Get(), 4), (TSimReport{1, 2, 0, 0}));
    EXPECT_EQ(ReadReport(device.Get(), 4), (TSimReport{3, 4, 5, 6}));
    EXPECT_EQ(bus.InputReportsDelivered(id), 2u);
}

TEST(TSimBusTest, KeepsTheTimesOfScheduledAndStreamedReports) {
    TSimBus bus;
    int id = bus.AddDevice(TSimDevice{});
    TkvHandle device = OpenDevice(bus.DevicePath(id), GENERIC_READ);
    ASSERT_TRUE(bus.WaitForConnections(id, 1, 2s));

    auto start = TClock::now();
    bus.SendInput(id, {1}, 250ms);
    ASSERT_FALSE(ReadReport(device.Get(), 8).empty());
    EXPECT_GE(TClock::now() - start, 240ms);

    start = TClock::now();
    bus.StreamInput(id, {{0x10}, {0x20}}, 50, 20);
    std::vector<TSimReport> got;
    for (int i = 0; i < 20; ++i)
        got.push_back(ReadReport(device.Get(), 8));
    auto took = TClock::now() - start;
    EXPECT_GE(took, 360ms); // 19 intervals of 20 ms
    EXPECT_LT(took, 3s);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(got[i].at(0), i % 2 ? 0x20 : 0x10) << i;
}

TEST(TSimBusTest, GivesEveryOpenHandleItsOwnCopyAndRecordsOutputReports) {
    TSimBus bus;
    int id = bus.AddDevice(TSimDevice{});
    TkvHandle first = OpenDevice(bus.DevicePath(id), GENERIC_READ | GENERIC_WRITE);
    TkvHandle second = OpenDevice(bus.DevicePath(id), GENERIC_READ | GENERIC_WRITE);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(bus.WaitForConnections(id, 2, 2s));
    bus.SendInput(id, {7});
    EXPECT_EQ(ReadReport(first.Get(), 8).at(0), 7);
    EXPECT_EQ(ReadReport(second.Get(), 8).at(0), 7);

    OVERLAPPED ov{};
    TkvHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ov.hEvent = event.Get();
    const std::uint8_t report[3] = {0, 0xAA, 0x55};
    EXPECT_TRUE(WriteOverlapped(second.Get(), report, 3, ov));
    ASSERT_TRUE(bus.WaitForOutputReports(id, 1, 2s));
    EXPECT_EQ(bus.OutputReports(id)[0], (TSimReport{0, 0xAA, 0x55}));

    second.Reset();
    EXPECT_TRUE(bus.WaitForConnections(id, 1, 2s));
}

TEST(TSimBusTest, GrantsOnlyTheDevicesAccess) {
    TSimBus bus;
    TSimDevice info;
    info.Access = TSimAccess::ReadOnly;
    int readOnly = bus.AddDevice(info);
    info.Access = TSimAccess::WriteOnly;
    int writeOnly = bus.AddDevice(info);
    info.Access = TSimAccess::None;
    int none = bus.AddDevice(info);
    const DWORD RW = GENERIC_READ | GENERIC_WRITE;

    EXPECT_FALSE(OpenDevice(bus.DevicePath(readOnly), RW));
    EXPECT_TRUE(OpenDevice(bus.DevicePath(readOnly), GENERIC_READ));
    EXPECT_FALSE(OpenDevice(bus.DevicePath(writeOnly), RW));
    EXPECT_FALSE(OpenDevice(bus.DevicePath(writeOnly), GENERIC_READ));
    EXPECT_TRUE(OpenDevice(bus.DevicePath(writeOnly), GENERIC_WRITE));
    for (DWORD access : {RW, DWORD(GENERIC_READ), DWORD(GENERIC_WRITE)})
        EXPECT_FALSE(OpenDevice(bus.DevicePath(none), access)) << access;
    for (int id : {readOnly, writeOnly, none})
        EXPECT_TRUE(OpenDevice(bus.DevicePath(id), 0, false)) << id; // the query handle
}

TEST(TSimBusTest, UnplugFailsThePendingReadAndReplugServesAgain) {
    TSimBus bus;
    int id = bus.AddDevice(TSimDevice{});
    TkvHandle device = OpenDevice(bus.DevicePath(id), GENERIC_READ | GENERIC_WRITE);
    ASSERT_TRUE(bus.WaitForConnections(id, 1, 2s));
    DWORD error = 0;
    std::thread reader([&] { ReadReport(device.Get(), 8, 5000, &error); });
    std::this_thread::sleep_for(100ms);
    bus.Unplug(id);
    reader.join();
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
    EXPECT_FALSE(OpenDevice(bus.DevicePath(id), GENERIC_READ));

    bus.Plug(id);
    TkvHandle again = OpenDevice(bus.DevicePath(id), GENERIC_READ);
    ASSERT_TRUE(again);
    ASSERT_TRUE(bus.WaitForConnections(id, 1, 2s));
    bus.SendInput(id, {9});
    EXPECT_EQ(ReadReport(again.Get(), 8).at(0), 9);
}

TEST(TSimBusTest, OnlyOneBusAtATime) {
    TSimBus bus;
    EXPECT_THROW(TSimBus second, EkvError);
}

} // namespace
