#pragma once
// What other threads hand a test, in the order they handed it: every access is locked, so a
// worker thread may add while the test reads.
#include <algorithm>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

template <class T> class TRecorder {
public:
    void Add(T item) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(item));
    }
    std::vector<T> Items() const {
        std::lock_guard lock(mutex_);
        return items_;
    }
    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return items_.size();
    }
    template <class TTest> bool Any(TTest&& test) const {
        std::lock_guard lock(mutex_);
        return std::any_of(items_.begin(), items_.end(), std::forward<TTest>(test));
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        items_.clear();
    }
    // Everything so far, leaving the recorder empty.
    std::vector<T> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(items_, {});
    }

private:
    mutable std::mutex mutex_;
    std::vector<T> items_;
};
