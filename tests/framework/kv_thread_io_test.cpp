#include <gtest/gtest.h>

#include <atomic>

#include "framework/kv_error.h"
#include "support/recording_log.h"
#include "support/win_test_support.h"
#include "test_port.h"

namespace {

TEST(TkvThreadIOTest, WorkerEndsByItselfWhateverItsBodyThrows) {
    for (int fault = 0; fault < 3; ++fault) {
        TTestPort port;
        port.withThread = true;
        std::atomic<DWORD> worker{0};
        port.body = [&](TTestPort&) {
            worker = GetCurrentThreadId();
            if (fault == 1)
                throw EkvError("receiver fault");
            if (fault == 2)
                throw 7;
        };
        port.SetActive(true);
        ASSERT_TRUE(PumpUntil([&] { return worker != 0; }));
        TkvHandle thread(OpenThread(SYNCHRONIZE, FALSE, worker));
        ASSERT_TRUE(thread.Valid());
        EXPECT_EQ(WaitForSingleObject(thread.Get(), 5000), WAIT_OBJECT_0);
        EXPECT_TRUE(port.Active()); // the port stays open until it is closed
    }
}

// Runs until asked to stop, then still uses the port for a while, touching only what the base
// port owns: the base must not be freed under it.
class TLingeringPort : public TTestPort {
public:
    TLingeringPort() {
        withThread = true;
        closeOnDestroy = false;
    }

    std::atomic<bool> running{false};

protected:
    void ThreadExecute(TkvThreadIO&) override {
        running = true;
        while (!StopRequested())
            Sleep(1);
        Sleep(50);
        LogMsg(2, "worker done");
    }
};

TEST(TkvThreadIOTest, CloseOrDestructionOnAnotherThreadReturnsAfterTheWorkerEnded) {
    TkvRecordingLog log;
    {
        TLingeringPort port;
        port.SetLog(&log);
        port.SetActive(true);
        port.SetStopRequested(true); // as a port's own Close does before the base's
        port.Close();
        EXPECT_TRUE(log.Contains("test: worker done"));
    }
    log.Clear();
    {
        TLingeringPort port;
        port.SetLog(&log);
        port.SetActive(true);
        ASSERT_TRUE(PumpUntil([&] { return port.running.load(); }));
    }
    EXPECT_TRUE(log.Contains("test: worker done"));
}

TEST(TkvThreadIOTest, WorkerClosesItsOwnPortWithoutWaitingForItself) {
    for (bool clearUseThread : {true, false}) {
        TWatchdog watchdog(10000, "a close on the worker");
        TTestPort port;
        port.withThread = true;
        std::atomic<DWORD> worker{0}, closedOn{0};
        port.OnClose = [&](TkvBaseIO*) { closedOn = GetCurrentThreadId(); };
        port.body = [&](TTestPort& self) {
            worker = GetCurrentThreadId();
            if (clearUseThread)
                self.SetUseThread(false);
            self.Close();
        };
        port.SetActive(true);
        ASSERT_TRUE(PumpUntil([&] { return closedOn != 0; }));
        EXPECT_EQ(closedOn, worker);
        EXPECT_FALSE(port.Active());
        closedOn = 0;
        port.SetActive(false);
        EXPECT_EQ(closedOn, 0u);
    }
}

TEST(TkvThreadIOTest, StopThreadServesAMessageTheWorkerSendsToThisThread) {
    TWatchdog watchdog(10000, "StopThread while the worker is inside SendMessage");
    const HWND window =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    TkvHandle sending(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    TTestPort port;
    port.withThread = true;
    port.body = [&](TTestPort& self) {
        SetEvent(sending.Get());
        SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("served"));
        while (!self.StopRequested())
            Sleep(1);
    };
    port.SetActive(true);
    // No message is served here, so the worker stays blocked until StopThread serves it.
    ASSERT_EQ(WaitForSingleObject(sending.Get(), 5000), WAIT_OBJECT_0);
    Sleep(50);
    port.SetActive(false);
    char text[16] = {};
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, "served");
    DestroyWindow(window);
}

} // namespace
