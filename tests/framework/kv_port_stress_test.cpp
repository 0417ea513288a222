#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "framework/kv_base_io.h"
#include "framework/kv_thread_io.h"
#include "support/win_test_support.h"

namespace {

using TCancelIoEx = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED);

// CancelIoEx is not there before Vista, so it is looked up at run time.
TCancelIoEx CancelIoExFunction() {
    return reinterpret_cast<TCancelIoEx>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CancelIoEx")));
}

// A port on a message pipe that reads like the HID port: one overlapped read at a time on its
// worker, closing itself when a read fails, and a Close that cancels the pending read and joins
// the worker before anything is freed.
class TPipePort : public TkvBaseIO {
public:
    explicit TPipePort(int serial)
        : name_("\\\\.\\pipe\\trelvon-stress-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(serial)),
          readEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~TPipePort() override { Close(); }

    HANDLE Client() const { return client_.Get(); }
    void Unplug() { client_.Reset(); }

    void Close() override {
        SetStopRequested(true); // before the cancel: the worker pairs its re-check with it
        if (!IsWorkerThread()) {
            if (IsOpen())
                CancelIoExFunction()(Handle(), nullptr);
            JoinThread(); // the read has completed once the worker is gone
        }
        TkvBaseIO::Close();
    }

    std::int32_t GetDeviceIndex() const override { return 0; }
    void DeviceListLoad() override {}
    std::int32_t WriteChar(std::uint8_t) override { return 0; }
    std::int32_t WriteString(const std::string&) override { return 0; }
    std::int32_t WriteBuffer(const void*, std::int32_t) override { return 0; }

protected:
    HANDLE OpenMedium() override {
        HANDLE server = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                         0, 256, 0, nullptr);
        if (server == INVALID_HANDLE_VALUE)
            return server;
        client_.Reset(
            CreateFileA(name_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        SetUseThread(true);
        return server;
    }
    void CloseMedium(HANDLE handle) override {
        TkvBaseIO::CloseMedium(handle);
        client_.Reset();
    }
    void ThreadExecute(TkvThreadIO&) override {
        const HANDLE pipe = Handle();
        while (!StopRequested()) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = readEvent_.Get();
            DWORD count = 0;
            BOOL ok = ReadFile(pipe, buffer_, sizeof buffer_, &count, &overlapped);
            if (!ok && GetLastError() == ERROR_IO_PENDING) {
                // A Close between the loop's check and this read cancelled nothing (Wine even
                // reports success), and the read would wait forever while Close waits for us.
                // Close sets StopRequested before it cancels, so seen here it means that the
                // read may have missed the cancel: cancel it ourselves.
                if (StopRequested())
                    CancelIoExFunction()(pipe, &overlapped);
                ok = GetOverlappedResult(pipe, &overlapped, &count, TRUE);
            }
            if (StopRequested())
                break;
            if (!ok) {
                SetUseThread(false);
                TkvBaseIO::Close();
                break;
            }
            DoReceive(buffer_, count);
        }
        SetStopRequested(true);
    }

private:
    std::string name_;
    TkvHandle readEvent_;
    TkvHandle client_;
    char buffer_[256] = {};
};

// One open/close cycle; `way` picks how the port ends: unplugged (it closes itself on its
// worker), switched off, destroyed while running, or reopened once before it is destroyed.
void Cycle(int serial, int way) {
    auto port = std::make_unique<TPipePort>(serial);
    TkvHandle received(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    TkvHandle closed(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::string last;
    port->OnAfterReceive = [&](TkvBaseIO*, const void* buffer, std::uint32_t count) {
        last.assign(static_cast<const char*>(buffer), count);
        SetEvent(received.Get());
    };
    port->OnClose = [&](TkvBaseIO*) { SetEvent(closed.Get()); };
    for (int open = 0; open < (way == 3 ? 2 : 1); ++open) {
        port->SetActive(true);
        ASSERT_TRUE(port->Active());
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(port->Client(), "report", 6, &written, nullptr));
        ASSERT_EQ(WaitForSingleObject(received.Get(), 5000), WAIT_OBJECT_0);
        ASSERT_EQ(last, "report");
        if (way == 1 || way == 3)
            port->SetActive(false);
    }
    if (way == 0) {
        port->Unplug();
        ASSERT_EQ(WaitForSingleObject(closed.Get(), 5000), WAIT_OBJECT_0);
        EXPECT_FALSE(port->Active());
    }
    port.reset();
}

TEST(TkvBaseIOStressTest, ThousandOpenCloseCyclesLeaveNoThreadOrHandleBehind) {
    ASSERT_NE(CancelIoExFunction(), nullptr);
    TWatchdog watchdog(240000, "the open/close cycles");
    for (int serial = 0; serial < 8; ++serial) // first-use allocations of the system
        Cycle(serial, serial % 4);
    const DWORD handlesBefore = ProcessHandleCount();
    const std::size_t threadsBefore = ProcessThreadCount();
    for (int serial = 0; serial < 1000; ++serial) {
        Cycle(1000 + serial, serial % 4);
        if (HasFatalFailure())
            return;
    }
    const DWORD handlesAfter = ProcessHandleCount();
    const std::size_t threadsAfter = ProcessThreadCount();
    std::printf("1000 cycles: handles %lu -> %lu, threads %zu -> %zu\n",
                static_cast<unsigned long>(handlesBefore), static_cast<unsigned long>(handlesAfter),
                threadsBefore, threadsAfter);
    EXPECT_EQ(handlesAfter, handlesBefore);
    EXPECT_EQ(threadsAfter, threadsBefore);
}

} // namespace
