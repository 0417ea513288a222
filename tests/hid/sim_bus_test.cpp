#include "sim/sim_bus.h"

#include "sim_test_support.h"
#include "framework/kv_error.h"

#include "hid/kv_hid_w32.h"

#include <dbt.h>
#include <gmock/gmock.h>
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

// The present devices' paths as a program enumerates the HID interface class.
std::vector<std::string> ListedPaths() {
    TBindingReset reset;
    GUID guid{};
    HidGetHidGuid(guid);
    std::vector<std::unique_ptr<TkvDevice>> list;
    EnumerateDevices(&guid, true, false, true, list);
    std::vector<std::string> paths;
    for (const auto& device : list)
        paths.push_back(device->DevicePath);
    return paths;
}

TEST(TSimBusTest, InsertsAmongThePresentDevicesAndMovesKeepingThePlace) {
    TSimBus bus;
    TSimDevice serial;
    serial.SerialNumber = L"A1";
    const int a = bus.AddDevice(TSimDevice{}), b = bus.AddDevice(TSimDevice{});
    const int c = bus.AddDevice(serial), twin = bus.AddDevice(serial);
    EXPECT_NE(bus.DevicePath(c), bus.DevicePath(twin));
    EXPECT_NE(bus.InstanceId(c), bus.InstanceId(twin));
    EXPECT_NE(bus.InstanceId(a), bus.InstanceId(b));
    bus.Unplug(b);
    const int d = bus.InsertDevice(TSimDevice{}, 1); // after a: b is absent
    const int e = bus.InsertDevice(TSimDevice{}, 99);
    ASSERT_TRUE(bus.WaitForAnnouncements(5s));
    EXPECT_THAT(ListedPaths(),
                testing::ElementsAre(bus.DevicePath(a), bus.DevicePath(d), bus.DevicePath(c),
                                     bus.DevicePath(twin), bus.DevicePath(e)));
    EXPECT_EQ(bus.ListPosition(c), 2);
    EXPECT_EQ(bus.ListPosition(b), -1);

    const std::string oldPath = bus.DevicePath(a), oldSerialPath = bus.DevicePath(c);
    const std::string oldInstance = bus.InstanceId(a), serialInstance = bus.InstanceId(c);
    bus.MoveDevice(a);
    bus.MoveDevice(c);
    ASSERT_TRUE(bus.WaitForAnnouncements(5s));
    EXPECT_NE(bus.DevicePath(a), oldPath);
    EXPECT_NE(bus.InstanceId(a), oldInstance);
    EXPECT_NE(bus.DevicePath(c), oldSerialPath);
    EXPECT_EQ(bus.InstanceId(c), serialInstance);
    EXPECT_FALSE(OpenDevice(oldPath, GENERIC_READ));
    EXPECT_TRUE(OpenDevice(bus.DevicePath(a), GENERIC_READ));
    EXPECT_THAT(ListedPaths(),
                testing::ElementsAre(bus.DevicePath(a), bus.DevicePath(d), bus.DevicePath(c),
                                     bus.DevicePath(twin), bus.DevicePath(e)));
}

// A hidden top-level window of the test's own thread, writing down what reaches it.
class TAnnouncementTest : public testing::Test {
protected:
    TAnnouncementTest() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Record;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TrelvonSimAnnouncements";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 10,
                                  10, nullptr, nullptr, windowClass.hInstance, nullptr);
        heard.clear();
    }
    ~TAnnouncementTest() override { DestroyWindow(window_); }

    static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_POWERBROADCAST)
            heard.push_back(wParam == PBT_APMSUSPEND           ? "suspend"
                            : wParam == PBT_APMRESUMEAUTOMATIC ? "resume"
                                                               : "power");
        if (message != WM_DEVICECHANGE)
            return DefWindowProcW(window, message, wParam, lParam);
        if (wParam == DBT_DEVNODES_CHANGED) {
            heard.push_back(lParam == 0 ? "nodes" : "nodes with data");
            return TRUE;
        }
        const auto* notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
        const GUID hid = {
            0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
        const std::wstring name = notice->dbcc_name;
        const bool valid =
            notice->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
            IsEqualGUID(notice->dbcc_classguid, hid) &&
            notice->dbcc_size >= offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                                     (name.size() + 1) * sizeof(wchar_t);
        heard.push_back(std::string(wParam == DBT_DEVICEARRIVAL          ? "arrival "
                                    : wParam == DBT_DEVICEREMOVECOMPLETE ? "removal "
                                                                         : "other ") +
                        (valid ? std::string(name.begin(), name.end()) : "malformed"));
        return TRUE;
    }

    static inline std::vector<std::string> heard;
    TSimBus bus_;
    HWND window_ = nullptr;
};

// The window belongs to the thread that changes the bus: waiting serves the announcements.
TEST_F(TAnnouncementTest, ArrivalsAndRemovalsReachTheCallersWindowInOrder) {
    ASSERT_NE(window_, nullptr);
    const int kept = bus_.AddDevice(TSimDevice{});
    const int id = bus_.InsertDevice(TSimDevice{}, 0);
    const std::string path = bus_.DevicePath(id);
    bus_.Unplug(id);
    bus_.Unplug(id); // already gone: nothing to announce
    bus_.Plug(id);
    bus_.MoveDevice(id);
    ASSERT_TRUE(bus_.WaitForAnnouncements(10s));
    EXPECT_THAT(heard, testing::ElementsAre("arrival " + path, "nodes", "removal " + path, "nodes",
                                            "arrival " + path, "nodes", "removal " + path, "nodes",
                                            "arrival " + bus_.DevicePath(id), "nodes"));
    EXPECT_NE(bus_.DevicePath(id), path);
    EXPECT_EQ(bus_.ListPosition(id), 0);
    EXPECT_EQ(bus_.ListPosition(kept), 1);
}

TEST_F(TAnnouncementTest, SleepTakesTheDevicesAwayQuietlyAndResumeBringsThemBack) {
    const int id = bus_.AddDevice(TSimDevice{});
    const std::string path = bus_.DevicePath(id);
    TkvHandle open = OpenDevice(path, GENERIC_READ);
    ASSERT_TRUE(bus_.WaitForConnections(id, 1, 2s));
    bus_.Suspend();
    ASSERT_TRUE(bus_.WaitForAnnouncements(10s));
    EXPECT_FALSE(OpenDevice(path, GENERIC_READ));
    DWORD error = 0;
    ReadReport(open.Get(), 8, 2000, &error);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
    bus_.Resume(false);
    ASSERT_TRUE(bus_.WaitForAnnouncements(10s));
    EXPECT_EQ(bus_.DevicePath(id), path);
    EXPECT_TRUE(OpenDevice(path, GENERIC_READ));
    EXPECT_THAT(heard, testing::ElementsAre("suspend", "resume"));

    heard.clear();
    bus_.Suspend();
    bus_.Resume(true);
    ASSERT_TRUE(bus_.WaitForAnnouncements(10s));
    EXPECT_NE(bus_.DevicePath(id), path);
    EXPECT_TRUE(OpenDevice(bus_.DevicePath(id), GENERIC_READ));
    EXPECT_THAT(heard, testing::ElementsAre("suspend", "arrival " + bus_.DevicePath(id), "nodes",
                                            "resume"));
}

TEST(TSimBusTest, OnlyOneBusAtATime) {
    TSimBus bus;
    EXPECT_THROW(TSimBus second, EkvError);
}

} // namespace
