#pragma once
#include <windows.h>

#include <cstdint>
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

// Owns one resource of a kind that one system call releases: registry keys, device information
// sets, preparsed data, GDI objects. `TRelease` is a stateless callable that releases a valid
// value; null and all-bits-set count as none.
template <typename T, typename TRelease> class TkvScoped {
public:
    TkvScoped() = default;
    explicit TkvScoped(T value) : value_(value) {}
    TkvScoped(const TkvScoped&) = delete;
    TkvScoped& operator=(const TkvScoped&) = delete;
    ~TkvScoped() { Reset(); }

    T Get() const { return value_; }
    bool Valid() const {
        return value_ != T{} && value_ != reinterpret_cast<T>(~std::uintptr_t{0});
    }
    explicit operator bool() const { return Valid(); }
    // For calls that hand the resource back through a pointer; releases what was held.
    T* Out() {
        Reset();
        return &value_;
    }
    void Reset(T value = T{}) {
        const T old = std::exchange(value_, value);
        if (old != T{} && old != reinterpret_cast<T>(~std::uintptr_t{0}))
            TRelease{}(old);
    }

private:
    T value_{};
};

struct TkvRegCloseKey {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using TkvRegKey = TkvScoped<HKEY, TkvRegCloseKey>;

struct TkvDeleteObject {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct TkvDeleteDC {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
// A pen, brush, bitmap or font, deleted when the scope ends.
template <typename THandle> using TkvGdiObject = TkvScoped<THandle, TkvDeleteObject>;
// A memory device context, deleted when the scope ends.
using TkvMemoryDC = TkvScoped<HDC, TkvDeleteDC>;

// Selects an object into a device context and puts the previous one back when the scope ends,
// before the object itself may be deleted.
class TkvSelection {
public:
    TkvSelection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    TkvSelection(const TkvSelection&) = delete;
    TkvSelection& operator=(const TkvSelection&) = delete;
    ~TkvSelection() { SelectObject(dc_, previous_); }

private:
    HDC dc_;
    HGDIOBJ previous_;
};
