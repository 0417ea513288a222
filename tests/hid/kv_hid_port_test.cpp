// Opening, monitoring, closing and writing of the HID port, on the simulated bus.
#include <gtest/gtest.h>

#include <thread>

#include "framework/kv_error.h"
#include "framework/kv_thread_io.h"
#include "hid/kv_win32.h"
#include "port_test_support.h"

namespace {

using namespace std::chrono_literals;
using TkvHidTest = PortTest;

struct TAccessCase {
    TSimAccess Access;
    bool CanRead, CanWrite, Monitors;
};

class AccessTries : public PortTest, public testing::WithParamInterface<TAccessCase> {};

TEST_P(AccessTries, OpenWithTheWidestAccessGrantedAndMonitorOnlyWithRead) {
    const TAccessCase& c = GetParam();
    TSimDevice info;
    info.Access = c.Access;
    info.OutputReportLength = 4;
    const int id = bus_.AddDevice(info);
    watch_.Attach(Port());
    Port().DeviceListChanged();
    const std::size_t threadsBefore = ProcessThreadCount();
    Port().SetActive(true);

    ASSERT_TRUE(Port().Active());
    EXPECT_EQ(Port().CanRead(), c.CanRead);
    EXPECT_EQ(Port().CanWrite(), c.CanWrite);
    EXPECT_EQ(Port().UseThread(), c.Monitors);
    EXPECT_EQ(ProcessThreadCount(), threadsBefore + (c.Monitors ? 1 : 0));
    EXPECT_TRUE(LogHas("kvHID: try to open device " + bus_.DevicePath(id)));
    EXPECT_TRUE(LogHas("kvHID: device has opened " + bus_.DevicePath(id) + " R:" +
                       (c.CanRead ? "1" : "0") + " W:" + (c.CanWrite ? "1" : "0") + " in:8 out:4"));
    EXPECT_NE(Port().CurrentDevice()->fPpd, nullptr);

    if (c.Access != TSimAccess::None) {
        ASSERT_TRUE(WaitConnected(id)) << bus_.Connections(id);
    }
    bus_.SendInput(id, {0x42});
    EXPECT_EQ(watch_.WaitForReports(1, c.CanRead ? 3000 : 300), c.CanRead);

    Port().SetActive(false);
    EXPECT_EQ(watch_.Closes(), 1);
    EXPECT_EQ(Port().CurrentDevice()->fPpd, nullptr);
    EXPECT_EQ(PreparsedDataHeld(), 0);
    EXPECT_EQ(ProcessThreadCount(), threadsBefore);
}

std::string AccessName(const testing::TestParamInfo<TAccessCase>& info) {
    static const char* const names[] = {"ReadWrite", "ReadOnly", "WriteOnly", "None"};
    return names[static_cast<int>(info.param.Access)];
}

INSTANTIATE_TEST_SUITE_P(FourTries, AccessTries,
                         testing::Values(TAccessCase{TSimAccess::ReadWrite, true, true, true},
                                         TAccessCase{TSimAccess::ReadOnly, true, false, true},
                                         TAccessCase{TSimAccess::WriteOnly, false, true, false},
                                         TAccessCase{TSimAccess::None, false, false, false}),
                         AccessName);

TEST_F(TkvHidTest, AFailedOpenReportsTheSystemsErrorAndStaysClosed) {
    const int id = bus_.AddDevice(TSimDevice{});
    Port().DeviceListChanged();
    bus_.Unplug(id);
    std::uint32_t code = 0, subCode = 0;
    std::string message;
    Port().OnFatalError = [&](TkvComponent*, std::uint32_t c, std::uint32_t s, const std::string& m,
                              bool&) {
        code = c;
        subCode = s;
        message = m;
    };
    try {
        Port().SetActive(true);
        FAIL() << "opened an unplugged device";
    } catch (const EkvError& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
    EXPECT_EQ(code, 16u);
    EXPECT_NE(subCode, 0u);
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(message, SystemErrorText(subCode));
    EXPECT_FALSE(Port().Active());
    EXPECT_FALSE(Port().CanRead());
    EXPECT_FALSE(Port().CanWrite());

    // An error handler that clears Fatal turns the failure into a closed port, not an exception.
    Port().OnFatalError = [](TkvComponent*, std::uint32_t, std::uint32_t, const std::string&,
                             bool& fatal) { fatal = false; };
    EXPECT_NO_THROW(Port().SetActive(true));
    EXPECT_FALSE(Port().Active());
}

TEST_F(TkvHidTest, AZeroLengthInputReportGetsNoMonitoringThread) {
    TSimDevice info;
    info.InputReportLength = 0;
    info.OutputReportLength = 2;
    const int id = bus_.AddDevice(info);
    const std::size_t threadsBefore = ProcessThreadCount();
    Open(id);
    EXPECT_TRUE(Port().CanRead());
    EXPECT_FALSE(Port().UseThread());
    EXPECT_EQ(ProcessThreadCount(), threadsBefore);
    EXPECT_EQ(Port().InputReportLength(), 0u);
    EXPECT_EQ(Port().WriteBuffer("\x00\x01", 2), 1);
    Port().SetActive(false);
}

TEST_F(TkvHidTest, DeliversEveryReportWholeAndInOrderOnTheMonitoringThread) {
    TSimDevice info;
    info.InputReportLength = 6;
    const int id = bus_.AddDevice(info);
    watch_.Attach(Port());
    Open(id);
    EXPECT_EQ(Port().InputReportLength(), 6u);
    bus_.SendInput(id, {1, 2, 3, 4, 5, 6});
    bus_.SendInput(id, {7});
    bus_.SendInput(id, {8, 9, 10, 11, 12, 13, 14, 15}); // cut to the report length by the device
    ASSERT_TRUE(watch_.WaitForReports(3));
    EXPECT_EQ(
        watch_.Reports(),
        (std::vector<TSimReport>{{1, 2, 3, 4, 5, 6}, {7, 0, 0, 0, 0, 0}, {8, 9, 10, 11, 12, 13}}));
    for (DWORD thread : watch_.ReceiveThreads())
        EXPECT_NE(thread, GetCurrentThreadId());
    EXPECT_TRUE(LogHas("kvHID: Start monitoring thread ... InRepLen= 6"));
    EXPECT_TRUE(LogHas("kvHID: Do input data [6] bytes "));
    Port().SetActive(false);
    EXPECT_TRUE(LogHas("kvHID: close device."));
    EXPECT_TRUE(LogHas("kvHID: ... exit monitoring thread."));
}

// A device that sends fewer bytes than its input report length: the port's own pipe, so the
// report arrives short.
TEST_F(TkvHidTest, AShortReadIsDeliveredAtTheInputLengthWithZerosAfterIt) {
    const std::string path = "\\\\.\\pipe\\trelvon-short-" + std::to_string(GetCurrentProcessId());
    TkvHandle server(CreateNamedPipeA(path.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                      PIPE_TYPE_MESSAGE | PIPE_WAIT, 1, 256, 256, 0, nullptr));
    ASSERT_TRUE(server);
    auto device = std::make_unique<TkvHidDevice>();
    device->DevicePath = path;
    device->Caps.InputReportByteLength = 8;
    Port().AddDevice(std::move(device));
    Port().SetDeviceIndex(0);
    watch_.Attach(Port());
    Port().SetActive(true);
    ASSERT_TRUE(Port().CanRead());
    ConnectNamedPipe(server.Get(), nullptr);

    const auto send = [&](TSimReport report) {
        DWORD written = 0;
        TkvHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED ov{};
        ov.hEvent = event.Get();
        if (!WriteFile(server.Get(), report.data(), static_cast<DWORD>(report.size()), nullptr,
                       &ov))
            GetOverlappedResult(server.Get(), &ov, &written, TRUE);
    };
    send({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff});
    ASSERT_TRUE(watch_.WaitForReports(1));
    send({1, 2, 3});
    ASSERT_TRUE(watch_.WaitForReports(2));
    EXPECT_EQ(watch_.Reports().at(1), (TSimReport{1, 2, 3, 0, 0, 0, 0, 0}));
    Port().SetActive(false);
}

TEST_F(TkvHidTest, UnplugClosesThePortOnceOnTheMonitoringThread) {
    const int id = bus_.AddDevice(TSimDevice{});
    watch_.Attach(Port());
    const std::size_t threadsBefore = ProcessThreadCount();
    Open(id);
    bus_.SendInput(id, {1});
    ASSERT_TRUE(watch_.WaitForReports(1));
    const DWORD monitoringThread = watch_.ReceiveThreads().front();

    bus_.Unplug(id);
    ASSERT_TRUE(watch_.WaitForCloses(1));
    EXPECT_EQ(watch_.CloseThread(), monitoringThread);
    EXPECT_FALSE(Port().Active());
    Port().SetActive(false);
    Port().Close();
    EXPECT_EQ(watch_.Closes(), 1);
    EXPECT_TRUE(PumpUntil([&] { return ProcessThreadCount() == threadsBefore; }));
    EXPECT_EQ(Port().CurrentDevice()->fPpd, nullptr);
    EXPECT_EQ(PreparsedDataHeld(), 0);

    // Plugged back in, the same selection opens again.
    bus_.Plug(id);
    Port().SetActive(true);
    ASSERT_TRUE(WaitConnected(id)) << bus_.Connections(id);
    bus_.SendInput(id, {2});
    ASSERT_TRUE(watch_.WaitForReports(2));
    Port().SetActive(false);
    EXPECT_EQ(watch_.Closes(), 2);
}

TEST_F(TkvHidTest, ClosingFromTheOwningThreadReleasesAPendingRead) {
    const int id = bus_.AddDevice(TSimDevice{});
    watch_.Attach(Port());
    Port().DeviceListChanged();
    Port().SetDeviceIndex(0);
    const auto closeWithPendingRead = [&] {
        Port().SetActive(true);
        ASSERT_TRUE(WaitConnected(id)) << bus_.Connections(id);
        Sleep(50); // the read is pending by now
        TWatchdog watchdog(5000, "closing with a pending read");
        Port().SetActive(false);
    };
    ASSERT_NO_FATAL_FAILURE(closeWithPendingRead()); // warms up what the system allocates once
    const DWORD handlesBefore = SteadyHandleCount(); // once the simulator has seen it go
    const std::size_t threadsBefore = ProcessThreadCount();

    constexpr int Cycles = 10;
    for (int cycle = 0; cycle < Cycles; ++cycle)
        ASSERT_NO_FATAL_FAILURE(closeWithPendingRead()) << "cycle " << cycle;
    EXPECT_EQ(watch_.Closes(), 1 + Cycles);
    EXPECT_EQ(watch_.CloseThread(), GetCurrentThreadId());
    EXPECT_EQ(watch_.Count(), 0u);
    EXPECT_TRUE(CountsSettleAfterCycles(threadsBefore, handlesBefore))
        << ProcessThreadCount() << " threads, " << handlesBefore << " -> " << ProcessHandleCount()
        << " handles";
}

TEST_F(TkvHidTest, ClosingWhileAReceiverRunsWaitsForItAndDeliversNothingAfter) {
    const int id = bus_.AddDevice(TSimDevice{});
    std::atomic<bool> inReceiver{false};
    std::atomic<int> received{0};
    std::atomic<bool> closed{false};
    std::atomic<bool> receivedAfterClose{false};
    Port().OnAfterReceive = [&](TkvBaseIO*, const void*, std::uint32_t) {
        if (closed)
            receivedAfterClose = true;
        inReceiver = true;
        Sleep(200);
        ++received;
    };
    Open(id);
    bus_.StreamInput(id, {{1}, {2}}, 100, 50);
    ASSERT_TRUE(PumpUntil([&] { return inReceiver.load(); }));
    Port().SetActive(false);
    closed = true;
    const int atClose = received;
    EXPECT_GE(atClose, 1); // the receiver that was running finished before the close returned
    Sleep(100);
    EXPECT_EQ(received, atClose);
    EXPECT_FALSE(receivedAfterClose);
}

TEST_F(TkvHidTest, AFailingReceiverEndsMonitoringButLeavesThePortOpen) {
    const int id = bus_.AddDevice(TSimDevice{});
    std::atomic<int> calls{0};
    Port().OnAfterReceive = [&](TkvBaseIO*, const void*, std::uint32_t) {
        ++calls;
        throw EkvError("receiver failed");
    };
    Open(id);
    bus_.SendInput(id, {1});
    ASSERT_TRUE(PumpUntil([&] { return LogHas("kvHID: ... exit monitoring thread."); }));
    EXPECT_TRUE(Port().Active());
    EXPECT_TRUE(Port().StopRequested());
    bus_.SendInput(id, {2});
    Sleep(100);
    EXPECT_EQ(calls, 1);
    Port().SetActive(false);
    EXPECT_FALSE(Port().Active());
}

TEST_F(TkvHidTest, DestroyingAnOpenStreamingPortLeavesNoThread) {
    const int id = bus_.AddDevice(TSimDevice{});
    const std::size_t threadsBefore = ProcessThreadCount();
    watch_.Attach(Port());
    Open(id);
    bus_.StreamInput(id, {{1}}, 500, 200);
    ASSERT_TRUE(watch_.WaitForReports(5));
    port_.reset();
    EXPECT_EQ(watch_.Closes(), 1);
    EXPECT_EQ(ProcessThreadCount(), threadsBefore);
    EXPECT_EQ(PreparsedDataHeld(), 0);
}

TEST_F(TkvHidTest, ReloadingTheListWhileOpenKeepsThePortWorking) {
    const int id = bus_.AddDevice(TSimDevice{});
    watch_.Attach(Port());
    Open(id);
    Port().DeviceListChanged(); // frees the record that holds the open device's preparsed data
    bus_.SendInput(id, {5});
    ASSERT_TRUE(watch_.WaitForReports(1));
    Port().SetActive(false);
    EXPECT_EQ(Port().CurrentDevice()->fPpd, nullptr);
    EXPECT_EQ(PreparsedDataHeld(), 0);
}

TEST_F(TkvHidTest, WritesReachTheDeviceAsOutputReports) {
    TSimDevice info;
    info.OutputReportLength = 4;
    const int id = bus_.AddDevice(info);
    EXPECT_EQ(Port().WriteString("closed"), 0);
    EXPECT_EQ(Port().WriteChar('x'), 0);
    EXPECT_EQ(Port().WriteBuffer("\x01\x02", 2), 0);
    Open(id);
    EXPECT_EQ(Port().WriteString(""), 0);
    const std::uint8_t report[4] = {0x00, 0x10, 0x20, 0x30};
    EXPECT_EQ(Port().WriteBuffer(report, 4), 1);
    EXPECT_EQ(Port().WriteBuffer(report, 4), 1); // the first write's record is reused safely
    EXPECT_EQ(Port().WriteString("\x02on"), 1);
    EXPECT_EQ(Port().WriteChar(0x7f), 1);
    EXPECT_EQ(Port().WriteBuffer(report, -1), 0);
    ASSERT_TRUE(bus_.WaitForOutputReports(id, 4, 3s));
    EXPECT_EQ(bus_.OutputReports(id),
              (std::vector<TSimReport>{
                  {0x00, 0x10, 0x20, 0x30}, {0x00, 0x10, 0x20, 0x30}, {0x02, 'o', 'n'}, {0x7f}}));
    Port().SetActive(false);
}

// A device that takes its output reports slowly: the port's own pipe that nobody reads.
TEST_F(TkvHidTest, ABufferWriteStillPendingMakesTheNextOneFailRatherThanReuseItsRecord) {
    const std::string path = "\\\\.\\pipe\\trelvon-slow-" + std::to_string(GetCurrentProcessId());
    TkvHandle server(CreateNamedPipeA(path.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0,
                                      0, 0, nullptr));
    ASSERT_TRUE(server);
    auto device = std::make_unique<TkvHidDevice>();
    device->DevicePath = path;
    device->Caps.OutputReportByteLength = 4;
    Port().AddDevice(std::move(device));
    Port().SetDeviceIndex(0);
    Port().SetActive(true);
    ASSERT_TRUE(Port().CanWrite());
    EXPECT_FALSE(Port().UseThread());

    std::vector<std::uint8_t> big(64 * 1024, 0x55); // more than the pipe takes at once
    ASSERT_EQ(Port().WriteBuffer(big.data(), static_cast<std::int32_t>(big.size())), 1);
    ASSERT_FALSE(HasOverlappedIoCompleted(&Port().BufferWriteOverlapped()));
    EXPECT_EQ(Port().WriteBuffer(big.data(), 4), 0);

    std::vector<std::uint8_t> sink(big.size());
    DWORD got = 0;
    TkvHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED ov{};
    ov.hEvent = event.Get();
    if (!ReadFile(server.Get(), sink.data(), static_cast<DWORD>(sink.size()), nullptr, &ov))
        GetOverlappedResult(server.Get(), &ov, &got, TRUE);
    EXPECT_TRUE(
        PumpUntil([&] { return HasOverlappedIoCompleted(&Port().BufferWriteOverlapped()); }));
    EXPECT_EQ(Port().WriteBuffer(big.data(), 4), 1);
    Port().SetActive(false);
}

TEST_F(TkvHidTest, WritingToAReadOnlyDeviceFailsQuietly) {
    TSimDevice info;
    info.Access = TSimAccess::ReadOnly;
    const int id = bus_.AddDevice(info);
    Open(id);
    EXPECT_EQ(Port().WriteString("x"), 0);
    EXPECT_EQ(Port().WriteChar(1), 0);
    Port().SetActive(false);
}

} // namespace
