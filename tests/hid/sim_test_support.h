#pragma once
// Helpers shared by the tests that run against the simulated bus.
#include <windows.h>

#include <string>

#include "framework/kv_handle.h"
#include "hid/kv_win32.h"
#include "hid/kv_win32_di.h"

// Starts and ends a test with the bindings unloaded, so that each test loads them itself.
class TBindingReset {
public:
    TBindingReset() { UnloadHidLibraries(); }
    ~TBindingReset() {
        SetLibraryLoader(nullptr);
        UnloadHidLibraries();
    }
    TBindingReset(const TBindingReset&) = delete;
    TBindingReset& operator=(const TBindingReset&) = delete;
};

inline TkvHandle OpenDevice(const std::string& path, DWORD access, bool overlapped = true) {
    return TkvHandle(CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr));
}

inline bool SameTextNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && _strnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

inline bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() &&
           _strnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}
