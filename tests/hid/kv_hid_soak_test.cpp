// Long runs of the HID port on the simulated bus: many opens and closes, unplugs while
// streaming, and a fast stream that must arrive complete and in order. Each prints its figures.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "port_test_support.h"

namespace {

using namespace std::chrono_literals;
using TkvHidSoakTest = PortTest;

TEST_F(TkvHidSoakTest, FiveHundredOpenCloseCyclesWhileStreamingLeaveNothingBehind) {
    const int id = bus_.AddDevice(TSimDevice{});
    watch_.Attach(Port());
    Port().SetLog(nullptr);
    Open(id); // the first open loads what stays loaded
    Port().SetActive(false);
    bus_.StreamInput(id, {{1}, {2}, {3}}, 500, 1000000);
    TWatchdog watchdog(240000, "500 open/close cycles");
    const std::size_t threads = ProcessThreadCount();
    const DWORD handles = SteadyHandleCount();

    const DWORD start = GetTickCount();
    for (int cycle = 0; cycle < 500; ++cycle) {
        Port().SetActive(true);
        ASSERT_TRUE(Port().Active()) << "cycle " << cycle;
        if (cycle % 3 != 0)
            Sleep(cycle % 5); // closes land before, during and after reads
        Port().SetActive(false);
    }
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(watch_.Closes(), 501);
    const bool settled = CountsSettleAfterCycles(threads, handles);
    std::printf("open/close: 500 cycles in %lu ms, %zu reports delivered; threads %zu -> %zu, "
                "handles %lu -> %lu\n",
                static_cast<unsigned long>(elapsed), watch_.Count(), threads, ProcessThreadCount(),
                static_cast<unsigned long>(handles),
                static_cast<unsigned long>(ProcessHandleCount()));
    EXPECT_TRUE(settled);
    EXPECT_EQ(PreparsedDataHeld(), 0);
}

TEST_F(TkvHidSoakTest, HundredUnplugsWhileStreamingCloseOnceEachAndLeaveNothingBehind) {
    const int id = bus_.AddDevice(TSimDevice{});
    watch_.Attach(Port());
    Port().SetLog(nullptr);
    Open(id);
    Port().SetActive(false);
    // Once unplugged and announced before counting: what the system sets up for the first
    // announcement of a device change is not the port's.
    bus_.Unplug(id);
    bus_.Plug(id);
    EXPECT_TRUE(bus_.WaitForAnnouncements(std::chrono::seconds(10)));
    TWatchdog watchdog(240000, "100 unplug/replug cycles");
    const std::size_t threads = ProcessThreadCount();
    const DWORD handles = SteadyHandleCount();

    const DWORD start = GetTickCount();
    int closesOnMonitoringThread = 0;
    int closes = watch_.Closes();
    for (int cycle = 0; cycle < 100; ++cycle) {
        bus_.StreamInput(id, {{1}, {2}, {3}}, 500, 1000000);
        Port().SetActive(true);
        ASSERT_TRUE(Port().Active()) << "cycle " << cycle;
        const std::size_t before = watch_.Count();
        ASSERT_TRUE(watch_.WaitForReports(before + 1)) << "cycle " << cycle;
        if (cycle % 2 == 0) {
            bus_.Unplug(id); // ends the stream too
        } else {
            // The owning thread closes while the monitoring thread meets the unplug.
            std::thread unplug([&] { bus_.Unplug(id); });
            Port().SetActive(false);
            unplug.join();
        }
        ASSERT_TRUE(watch_.WaitForCloses(closes + 1)) << "cycle " << cycle;
        Port().SetActive(false);
        EXPECT_FALSE(Port().Active());
        closesOnMonitoringThread += watch_.CloseThread() != GetCurrentThreadId() ? 1 : 0;
        bus_.Plug(id);
        // Exactly one close per cycle, whichever thread got there first.
        EXPECT_EQ(watch_.Closes(), ++closes) << "cycle " << cycle;
    }
    const DWORD elapsed = GetTickCount() - start;
    // The monitoring thread that closed the port last has ended, but its thread handle stays
    // with the port until the next open, close or the port's end.
    Port().Close();
    // The bus's own announcements of the last plugs are not the port's business.
    EXPECT_TRUE(bus_.WaitForAnnouncements(std::chrono::seconds(10)));
    const bool settled = CountsSettleAfterCycles(threads, handles);
    std::printf("unplug/replug: 100 cycles in %lu ms, %zu reports delivered, %d closes on the "
                "monitoring thread; threads %zu -> %zu, handles %lu -> %lu\n",
                static_cast<unsigned long>(elapsed), watch_.Count(), closesOnMonitoringThread,
                threads, ProcessThreadCount(), static_cast<unsigned long>(handles),
                static_cast<unsigned long>(ProcessHandleCount()));
    EXPECT_GE(closesOnMonitoringThread, 50); // at least every unplug without a racing close
    EXPECT_TRUE(settled);
    EXPECT_EQ(PreparsedDataHeld(), 0);
}

TEST_F(TkvHidSoakTest, ThousandReportsASecondForTenSecondsArriveCompleteAndInOrder) {
    constexpr unsigned Reports = 10000;
    const int id = bus_.AddDevice(TSimDevice{});
    Port().SetLog(nullptr);
    std::vector<unsigned> sequence;
    sequence.reserve(Reports);
    std::atomic<std::size_t> received{0};
    Port().OnAfterReceive = [&](TkvBaseIO*, const void* buffer, std::uint32_t count) {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        sequence.push_back(count == 8 ? bytes[1] | bytes[2] << 8 | bytes[3] << 16 : ~0u);
        ++received;
    };
    Open(id);
    std::vector<TSimReport> reports;
    for (unsigned n = 0; n < Reports; ++n)
        reports.push_back({0x01, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                           static_cast<std::uint8_t>(n >> 16)});

    TWatchdog watchdog(120000, "the 10 s stream");
    const DWORD start = GetTickCount();
    bus_.StreamInput(id, reports, 1000, Reports);
    PumpUntil([&] { return received >= Reports; }, 30000);
    const DWORD elapsed = GetTickCount() - start;
    Port().SetActive(false);

    std::size_t outOfOrder = 0;
    for (std::size_t i = 0; i < sequence.size(); ++i)
        outOfOrder += sequence[i] != i ? 1 : 0;
    std::printf("stream: %zu of %u reports delivered in %lu ms (%zu sent by the device), %zu out "
                "of place\n",
                sequence.size(), Reports, static_cast<unsigned long>(elapsed),
                bus_.InputReportsDelivered(id), outOfOrder);
    EXPECT_EQ(sequence.size(), Reports);
    EXPECT_EQ(outOfOrder, 0u);
}

} // namespace
