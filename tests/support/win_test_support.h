#pragma once
#include <windows.h>
#include <tlhelp32.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Serves this thread's messages until done() holds or timeoutMs pass; returns done().
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

// Threads of this process, from a Toolhelp snapshot.
inline std::size_t ProcessThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    std::size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}

// Open handles of this process. Wine answers GetProcessHandleCount with 0, so the handle values
// are probed as well; both systems hand out the lowest free values first.
inline DWORD ProcessHandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
        return count;
    for (std::uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    }
    return count;
}

// The handle count once it has stayed the same for 300 ms: the simulated bus replaces the pipe
// instances of closed connections on its own time, so a count taken right after a close may
// catch it half way.
inline DWORD SteadyHandleCount() {
    DWORD count = ProcessHandleCount();
    for (int steady = 0, rounds = 0; steady < 3 && rounds < 50; ++rounds) {
        PumpUntil([] { return false; }, 100);
        const DWORD now = ProcessHandleCount();
        steady = now == count ? steady + 1 : 0;
        count = now;
    }
    return count;
}

// Waits until the thread and handle counts are back at the given ones.
inline bool CountsSettle(std::size_t threads, DWORD handles) {
    return PumpUntil(
        [&] { return ProcessThreadCount() == threads && ProcessHandleCount() == handles; }, 5000);
}

// The same after many cycles of a step. Wine now and then opens one handle of its own at some
// moment of a run, so one handle over the start is allowed; a handle the step itself kept would
// show once per cycle.
inline bool CountsSettleAfterCycles(std::size_t threads, DWORD handles) {
    return PumpUntil(
        [&] { return ProcessThreadCount() == threads && ProcessHandleCount() <= handles + 1; },
        5000);
}

// Ends the test program with a message when a step that could deadlock takes too long, so a hang
// shows as a failure naming the step instead of a runner time-out.
class TWatchdog {
public:
    TWatchdog(DWORD timeoutMs, std::string what)
        : done_(CreateEventA(nullptr, TRUE, FALSE, nullptr)), thread_([this, timeoutMs, what] {
              if (WaitForSingleObject(done_, timeoutMs) == WAIT_TIMEOUT) {
                  std::fprintf(stderr, "HANG: %s did not finish in %lu ms\n", what.c_str(),
                               static_cast<unsigned long>(timeoutMs));
                  std::fflush(stderr);
                  TerminateProcess(GetCurrentProcess(), 3);
              }
          }) {}
    ~TWatchdog() {
        SetEvent(done_);
        thread_.join();
        CloseHandle(done_);
    }
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

private:
    HANDLE done_;
    std::thread thread_;
};

// While it lives, every message box this thread shows is recorded and answered at once, with
// OK unless another button is named, so code that shows one can be tested without anyone
// clicking. OnBox, when set, hears each box before it is answered.
class TMessageBoxCatcher {
public:
    struct Box {
        std::string Caption;
        std::string Text;
        HWND Owner = nullptr;
    };

    explicit TMessageBoxCatcher(int answer = IDOK) : answer_(answer) {
        Current() = this;
        hook_ = SetWindowsHookExA(WH_CBT, &Hook, nullptr, GetCurrentThreadId());
    }
    ~TMessageBoxCatcher() {
        UnhookWindowsHookEx(hook_);
        Current() = nullptr;
    }
    TMessageBoxCatcher(const TMessageBoxCatcher&) = delete;
    TMessageBoxCatcher& operator=(const TMessageBoxCatcher&) = delete;

    const std::vector<Box>& Boxes() const { return boxes_; }
    bool Hooked() const { return hook_ != nullptr; }
    void SetAnswer(int answer) { answer_ = answer; }
    std::function<void(const Box&)> OnBox;

private:
    static TMessageBoxCatcher*& Current() {
        static thread_local TMessageBoxCatcher* current = nullptr;
        return current;
    }

    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        TMessageBoxCatcher* self = Current();
        char className[16] = {};
        const HWND window = reinterpret_cast<HWND>(wParam);
        if (code == HCBT_ACTIVATE && self != nullptr &&
            GetClassNameA(window, className, sizeof className) > 0 &&
            std::string(className) == "#32770") {
            Box box;
            char text[512] = {};
            GetWindowTextA(window, text, sizeof text);
            box.Caption = text;
            box.Owner = GetWindow(window, GW_OWNER);
            EnumChildWindows(window, &CollectStaticText, reinterpret_cast<LPARAM>(&box));
            self->boxes_.push_back(box);
            if (self->OnBox)
                self->OnBox(box);
            PostMessageA(window, WM_COMMAND, self->answer_, 0);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static BOOL CALLBACK CollectStaticText(HWND child, LPARAM boxAddress) {
        char childClass[16] = {}, childText[512] = {};
        GetClassNameA(child, childClass, sizeof childClass);
        GetWindowTextA(child, childText, sizeof childText);
        if (lstrcmpiA(childClass, "Static") == 0 && childText[0] != 0)
            reinterpret_cast<Box*>(boxAddress)->Text += childText;
        return TRUE;
    }

    int answer_;
    HHOOK hook_ = nullptr;
    std::vector<Box> boxes_;
};

// Texts written to the debugger output on this thread while it lives, wide or narrow: a
// vectored handler sees the exception that carries each before anyone else.
class TDebuggerOutput {
public:
    TDebuggerOutput() : handler_(AddVectoredExceptionHandler(1, &Handler)) { Texts().clear(); }
    ~TDebuggerOutput() { RemoveVectoredExceptionHandler(handler_); }
    static std::vector<std::string>& Texts() {
        static thread_local std::vector<std::string> texts;
        return texts;
    }

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* info) {
        constexpr DWORD kWidePrint = 0x4001000A; // DBG_PRINTEXCEPTION_WIDE_C
        const EXCEPTION_RECORD& record = *info->ExceptionRecord;
        if (record.NumberParameters < 2)
            return EXCEPTION_CONTINUE_SEARCH;
        if (record.ExceptionCode == kWidePrint) {
            const auto* text = reinterpret_cast<const wchar_t*>(record.ExceptionInformation[1]);
            Texts().emplace_back(text, text + record.ExceptionInformation[0] - 1);
            return EXCEPTION_CONTINUE_EXECUTION; // no second, narrow copy
        }
        if (record.ExceptionCode == DBG_PRINTEXCEPTION_C)
            Texts().emplace_back(reinterpret_cast<const char*>(record.ExceptionInformation[1]),
                                 record.ExceptionInformation[0] - 1);
        return EXCEPTION_CONTINUE_SEARCH;
    }
    void* handler_;
};
