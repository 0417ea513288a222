#pragma once
#include <windows.h>

#include <utility>

// Owns one kernel handle; both null and INVALID_HANDLE_VALUE count as closed.
class TkvHandle {
public:
    TkvHandle() = default;
    explicit TkvHandle(HANDLE handle) : handle_(handle) {}
    TkvHandle(const TkvHandle&) = delete;
    TkvHandle& operator=(const TkvHandle&) = delete;
    TkvHandle(TkvHandle&& other) noexcept : handle_(other.Release()) {}
    TkvHandle& operator=(TkvHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~TkvHandle() { Reset(); }

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return Valid(); }

    HANDLE Release() { return std::exchange(handle_, nullptr); }
    void Reset(HANDLE handle = nullptr) {
        HANDLE old = std::exchange(handle_, handle);
        if (old != nullptr && old != INVALID_HANDLE_VALUE)
            CloseHandle(old);
    }

private:
    HANDLE handle_ = nullptr;
};
