#include "framework/kv_notify_list.h"

#include <string>

#include "framework/kv_error.h"

namespace {

[[noreturn]] void ThrowBadPosition(std::int32_t position) {
    throw EkvError("List index out of bounds (" + std::to_string(position) + ")");
}

} // namespace

std::int32_t TkvNotifyList::Add(const TkvNotifyEvent& event) {
    entries_.push_back(std::make_shared<Entry>(Entry{event}));
    return Count() - 1;
}

void TkvNotifyList::Delete(std::int32_t position) {
    if (position < 0 || position >= Count())
        ThrowBadPosition(position);
    entries_[position]->Removed = true;
    entries_.erase(entries_.begin() + position);
}

void TkvNotifyList::Clear() {
    while (!entries_.empty())
        Delete(0);
}

TkvNotifyEvent TkvNotifyList::Get(std::int32_t position) const {
    if (position < 0 || position >= Count())
        ThrowBadPosition(position);
    return entries_[position]->Event;
}

std::int32_t TkvNotifyList::IndexOf(const TkvNotifyEvent& event) const {
    for (std::int32_t i = 0; i < Count(); ++i)
        if (entries_[i]->Event == event)
            return i;
    return -1;
}

void TkvNotifyList::Broadcast(TkvBaseIO* sender, std::int32_t code) {
    // Nothing of `this` is touched after the copy: a callback may destroy the list.
    const std::vector<std::shared_ptr<Entry>> snapshot = entries_;
    for (const auto& entry : snapshot) {
        if (entry->Removed || entry->Event.Function == nullptr)
            continue;
        entry->Event.Function(entry->Event.Object, sender, code);
    }
}
