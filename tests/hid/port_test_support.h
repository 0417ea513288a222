#pragma once
// Helpers of the HID port tests: what a port delivered, and the process's threads, handles and
// preparsed data, to see that nothing is left behind.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "hid/kv_hid.h"
#include "sim/sim_bus.h"
#include "sim_test_support.h"
#include "support/recorder.h"
#include "support/recording_log.h"
#include "support/win_test_support.h"

// The reports and closes of one port, with the threads they came on.
class TPortWatch {
public:
    void Attach(TkvHid& port) {
        port.OnAfterReceive = [this](TkvBaseIO*, const void* buffer, std::uint32_t count) {
            const auto* bytes = static_cast<const std::uint8_t*>(buffer);
            received_.Add({TSimReport(bytes, bytes + count), GetCurrentThreadId()});
        };
        port.OnClose = [this](TkvBaseIO*) {
            closeThread_ = GetCurrentThreadId();
            ++closes_;
        };
    }

    std::vector<TSimReport> Reports() const {
        std::vector<TSimReport> reports;
        for (const TReceived& received : received_.Items())
            reports.push_back(received.Report);
        return reports;
    }
    std::vector<DWORD> ReceiveThreads() const {
        std::vector<DWORD> threads;
        for (const TReceived& received : received_.Items())
            threads.push_back(received.Thread);
        return threads;
    }
    std::size_t Count() const { return received_.Count(); }
    void Clear() { received_.Clear(); }
    bool WaitForReports(std::size_t count, DWORD timeoutMs = 5000) const {
        return PumpUntil([&] { return Count() >= count; }, timeoutMs);
    }
    int Closes() const { return closes_; }
    DWORD CloseThread() const { return closeThread_; }
    bool WaitForCloses(int count, DWORD timeoutMs = 5000) const {
        return PumpUntil([&] { return closes_ >= count; }, timeoutMs);
    }

private:
    struct TReceived {
        TSimReport Report;
        DWORD Thread = 0;
    };
    TRecorder<TReceived> received_;
    std::atomic<int> closes_{0};
    std::atomic<DWORD> closeThread_{0};
};

// Preparsed data the HID double handed out and did not get back.
inline LONG PreparsedDataHeld() {
    const HMODULE hid = GetModuleHandleA("hid.dll");
    const auto count = reinterpret_cast<LONG(WINAPI*)()>(
        reinterpret_cast<void*>(GetProcAddress(hid, "TrelvonSimPreparsedCount")));
    return count != nullptr ? count() : -1;
}

// A port on the simulated bus with a recording log; the port goes before the bus.
class PortTest : public testing::Test {
protected:
    PortTest() : port_(std::make_unique<TkvHid>()) { port_->SetLog(&log_); }

    TkvHid& Port() { return *port_; }
    // Loads the list, selects `index`, opens and waits until the device sees the connection.
    void Open(int id, std::int32_t index = 0) {
        Port().DeviceListChanged();
        Port().SetDeviceIndex(index);
        Port().SetActive(true);
        ASSERT_TRUE(WaitConnected(id));
    }
    // Some client holds the device open. A failed open of a read-only device may leave a stale
    // connection behind in the simulator, so the count is not exact.
    bool WaitConnected(int id) {
        return PumpUntil([&] { return bus_.Connections(id) >= 1; }, 3000);
    }
    bool LogHas(const std::string& text) const { return log_.Contains(text); }

    TBindingReset reset_;
    TSimBus bus_;
    TkvRecordingLog log_;
    TPortWatch watch_;
    std::unique_ptr<TkvHid> port_;
};
