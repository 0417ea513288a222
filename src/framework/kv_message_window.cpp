#include "framework/kv_message_window.h"

#include <map>
#include <mutex>
#include <string>

#include "framework/kv_error.h"
#include "framework/kv_module.h"

namespace {

std::mutex classMutex;
std::map<std::string, int> classUsers;

void AcquireClass(const char* className, WNDPROC procedure) {
    std::lock_guard lock(classMutex);
    int& users = classUsers[className];
    if (users == 0) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = procedure;
        wc.hInstance = kvThisModule();
        wc.lpszClassName = className;
        if (RegisterClassA(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            throw EkvError(std::string("Cannot register the window class ") + className);
    }
    ++users;
}

void ReleaseClass(const char* className) {
    std::lock_guard lock(classMutex);
    if (--classUsers[className] == 0)
        UnregisterClassA(className, kvThisModule());
}

} // namespace

TkvMessageWindow::TkvMessageWindow(const char* className, WNDPROC procedure, void* owner,
                                   bool topLevel)
    : className_(className) {
    AcquireClass(className_, procedure);
    // A tool window stays out of the task bar and the task switcher even if someone shows it.
    window_ = CreateWindowExA(topLevel ? WS_EX_TOOLWINDOW : 0, className_, "",
                              topLevel ? WS_POPUP : 0, 0, 0, 0, 0,
                              topLevel ? nullptr : HWND_MESSAGE, nullptr, kvThisModule(), nullptr);
    if (window_ == nullptr) {
        ReleaseClass(className_);
        throw EkvError(std::string("Cannot create a window of class ") + className_);
    }
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
}

TkvMessageWindow::~TkvMessageWindow() {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    ReleaseClass(className_);
}
