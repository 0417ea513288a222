// The port's terminal: an edit control whose typed characters the port sends and in which it
// shows what it receives.
#include "framework/kv_base_io.h"
#include "framework/kv_subclass.h"

#include <string>

void TkvBaseIO::SetTerminal(HWND control) {
    ReleaseTerminal();
    if (control != nullptr)
        TkvSubclass::Install(control, &TerminalProc, this);
    terminalWindow_ = nullptr;
    terminal_ = control;
    SetTerminalUsage(terminalUsage_);
}

void TkvBaseIO::ReleaseTerminal() {
    if (terminal_ == nullptr)
        return;
    TkvSubclass::Remove(terminal_);
    terminalWindow_ = nullptr;
    terminal_ = nullptr;
}

void TkvBaseIO::SetTerminalUsage(TTerminalUsage usage) {
    terminalUsage_ = usage;
    if (terminal_ == nullptr)
        return;
    terminalWindow_ = (usage == tuReceive || usage == tuBoth) ? terminal_ : nullptr;
}

void TkvBaseIO::WriteToTerminal(const void* buffer, std::int32_t count) {
    struct WritingFlag {
        std::atomic<bool>& flag;
        explicit WritingFlag(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~WritingFlag() { flag = false; }
    } writing(writingToTerminal_);

    const HWND target = terminalWindow_;
    if (target == nullptr || buffer == nullptr || count <= 0)
        return;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    if (count == 1) {
        SendMessageA(target, WM_CHAR, bytes[0], 1);
        return;
    }
    // The control needs terminated text, and the caller's buffer stays untouched, so every run of
    // non-zero bytes is copied out before it is inserted.
    std::string run;
    for (std::int32_t i = 0; i <= count; ++i) {
        if (i < count && bytes[i] != 0) {
            run += static_cast<char>(bytes[i]);
        } else if (!run.empty()) {
            SendMessageA(target, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(run.c_str()));
            run.clear();
        }
    }
}

LRESULT CALLBACK TkvBaseIO::TerminalProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* port = TkvSubclass::Owner<TkvBaseIO>(window);
    if (port == nullptr)
        return TkvSubclass::CallPrevious(window, message, wParam, lParam);
    try {
        return port->TerminalMessage(window, message, wParam, lParam);
    } catch (...) {
        return 0; // a failing send must not unwind into the system's message dispatch
    }
}

LRESULT TkvBaseIO::TerminalMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCDESTROY) {
        // The control is going: forget it; its window procedure goes with it.
        const WNDPROC previous = TkvSubclass::Remove(window);
        terminalWindow_ = nullptr;
        terminal_ = nullptr;
        return CallWindowProcA(previous, window, message, wParam, lParam);
    }
    if (!writingToTerminal_ && message == WM_CHAR &&
        (terminalUsage_ == tuSend || terminalUsage_ == tuBoth)) {
        WriteChar(static_cast<std::uint8_t>(wParam & 0xFF));
        if (!terminalEcho_)
            return 0;
    }
    return TkvSubclass::CallPrevious(window, message, wParam, lParam);
}
