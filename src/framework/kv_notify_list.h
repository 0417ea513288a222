#pragma once
#include <cstdint>
#include <memory>
#include <vector>

class TkvBaseIO;

// Notification codes a port sends to its registered callbacks.
inline constexpr std::int32_t nfMediumClosed = 1;
inline constexpr std::int32_t nfMediumOpened = 2;
inline constexpr std::int32_t nfDeviceChanged = 3;

// A registered callback: Function is called as (Object, port, code). Two callbacks are the same
// when both members are equal, so a registration can be found and withdrawn again.
struct TkvNotifyEvent {
    using TFunction = void (*)(void* object, TkvBaseIO* sender, std::int32_t code);
    TFunction Function = nullptr;
    void* Object = nullptr;

    bool operator==(const TkvNotifyEvent&) const = default;
};

// The callback that calls Member on `object`; the same Member and object always give an equal
// callback, and a virtual Member reaches the most derived implementation.
template <auto Member, class T> TkvNotifyEvent MakeNotifyEvent(T* object) {
    return {[](void* o, TkvBaseIO* sender, std::int32_t code) {
                (static_cast<T*>(o)->*Member)(sender, code);
            },
            object};
}

// The callbacks other components register with a port.
class TkvNotifyList {
public:
    TkvNotifyList() = default;
    TkvNotifyList(const TkvNotifyList&) = delete;
    TkvNotifyList& operator=(const TkvNotifyList&) = delete;
    ~TkvNotifyList() { Clear(); }

    std::int32_t Add(const TkvNotifyEvent& event);
    void Delete(std::int32_t position);
    void Clear();
    TkvNotifyEvent Get(std::int32_t position) const;
    std::int32_t IndexOf(const TkvNotifyEvent& event) const;
    std::int32_t Count() const { return static_cast<std::int32_t>(entries_.size()); }

    // Calls the entries present at the start, from the first on. A callback may add or remove
    // entries, or destroy the list: removed entries are not called, added ones wait for the next
    // broadcast.
    void Broadcast(TkvBaseIO* sender, std::int32_t code);

private:
    struct Entry {
        TkvNotifyEvent Event;
        bool Removed = false;
    };
    // Shared with the snapshot of a running broadcast, so a removed entry outlives that call.
    std::vector<std::shared_ptr<Entry>> entries_;
};
