#include <gtest/gtest.h>

#include "support/win_test_support.h"
#include "test_port.h"

namespace {

class TkvBaseIOTerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        edit = CreateWindowExA(0, "EDIT", "", WS_POPUP | ES_MULTILINE, 0, 0, 300, 100, nullptr,
                               nullptr, nullptr, nullptr);
        ASSERT_NE(edit, nullptr);
        ownProc = GetWindowLongPtrA(edit, GWLP_WNDPROC);
    }
    void TearDown() override {
        if (IsWindow(edit))
            DestroyWindow(edit);
    }
    std::string Text() const {
        char text[256] = {};
        GetWindowTextA(edit, text, sizeof text);
        return text;
    }
    void Type(char c) { SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1); }

    HWND edit = nullptr;
    LONG_PTR ownProc = 0;
    TTestPort port;
};

TEST_F(TkvBaseIOTerminalTest, ReceivedBytesArriveAsTextRunsOrAsOneTypedKey) {
    port.SetTerminal(edit);
    port.SetTerminalUsage(tuReceive);
    const unsigned char report[] = {0x41, 0x42, 0x00, 0x43, 0x44};
    port.DoReceive(report, sizeof report);
    EXPECT_EQ(Text(), "ABCD");
    port.DoReceive("\0EF", 3);
    port.DoReceive("x", 1);
    port.DoReceive("GHIJ", 2); // nothing beyond the count is read
    EXPECT_EQ(Text(), "ABCDEFxGH");
    for (TTerminalUsage hidden : {tuNone, tuSend}) {
        port.SetTerminalUsage(hidden);
        port.DoReceive("zz", 2);
    }
    EXPECT_EQ(Text(), "ABCDEFxGH");
}

TEST_F(TkvBaseIOTerminalTest, TypedKeysReachThePortAsUsageAndEchoSay) {
    port.SetTerminal(edit);
    port.SetTerminalUsage(tuSend);
    Type('q');
    EXPECT_EQ(port.sent, "q");
    EXPECT_EQ(Text(), "");
    port.SetTerminalEcho(true);
    Type('r');
    EXPECT_EQ(Text(), "r");
    port.SetTerminalUsage(tuReceive);
    Type('s');
    EXPECT_EQ(port.sent, "qr");
    port.SetTerminalUsage(tuBoth);
    port.DoReceive("t", 1); // shown, but not sent back to the port
    EXPECT_EQ(port.sent, "qr");
    EXPECT_EQ(Text(), "rst");
}

TEST_F(TkvBaseIOTerminalTest, UnlinkingGivesTheControlItsProcedureBackAndADestroyedControlIsForgotten) {
    port.SetTerminal(edit);
    EXPECT_NE(GetWindowLongPtrA(edit, GWLP_WNDPROC), ownProc);
    port.SetTerminal(nullptr);
    EXPECT_EQ(GetWindowLongPtrA(edit, GWLP_WNDPROC), ownProc);
    {
        TTestPort shortLived;
        shortLived.SetTerminal(edit);
        shortLived.SetTerminalUsage(tuSend);
    }
    EXPECT_EQ(GetWindowLongPtrA(edit, GWLP_WNDPROC), ownProc);
    Type('k');
    EXPECT_EQ(Text(), "k");

    port.SetTerminal(edit);
    port.SetTerminalUsage(tuBoth);
    DestroyWindow(edit);
    EXPECT_EQ(port.Terminal(), nullptr);
    EXPECT_FALSE(port.HasReceiver());
    port.DoReceive("after", 5);
    EXPECT_EQ(port.terminalWrites, 0);
}

TEST_F(TkvBaseIOTerminalTest, WorkerWritingToTheTerminalDoesNotBlockStopThread) {
    TWatchdog watchdog(10000, "StopThread while the worker writes to the terminal");
    port.SetTerminal(edit);
    port.SetTerminalUsage(tuReceive);
    port.withThread = true;
    port.body = [](TTestPort& self) {
        while (!self.StopRequested())
            self.DoReceive("tick", 4);
    };
    port.SetActive(true);
    ASSERT_TRUE(PumpUntil([&] { return Text().size() >= 8; }));
    port.SetActive(false);
    EXPECT_EQ(Text().substr(0, 8), "ticktick");
}

} // namespace
