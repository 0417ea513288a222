#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>

#include "engine/hid_scheduler.h"

// Timers on a clock that only the test moves: Advance runs every tick that falls due, at the
// moment it is due, so timing rules are checked to the millisecond and without waiting.
class TManualScheduler final : public THidScheduler {
public:
    explicit TManualScheduler(std::uint32_t now = 0) : now_(now) {}

    void Start(std::uint32_t id, std::uint32_t ms, bool periodic = false) override {
        const std::uint32_t period = std::max<std::uint32_t>(ms, 1);
        timers_[id] = {now_ + period, period, periodic};
    }
    void Stop(std::uint32_t id) override { timers_.erase(id); }
    std::uint32_t Now() const override { return now_; }

    void Advance(std::uint32_t ms) {
        const std::uint32_t end = now_ + ms;
        for (;;) {
            // The earliest due by the wrapping clock; on a tie, the lowest id.
            auto next = timers_.end();
            for (auto timer = timers_.begin(); timer != timers_.end(); ++timer)
                if (next == timers_.end() || timer->second.Due - now_ < next->second.Due - now_)
                    next = timer;
            if (next == timers_.end() || next->second.Due - now_ > end - now_)
                break;
            now_ = next->second.Due;
            const std::uint32_t id = next->first;
            if (next->second.Periodic)
                next->second.Due += next->second.Period;
            else
                timers_.erase(next);
            if (OnTimer)
                OnTimer(id);
        }
        now_ = end;
    }

    bool Running(std::uint32_t id) const { return timers_.contains(id); }
    // Milliseconds until the tick of `id`; 0 when it is not running.
    std::uint32_t DueIn(std::uint32_t id) const {
        const auto timer = timers_.find(id);
        return timer == timers_.end() ? 0 : timer->second.Due - now_;
    }
    bool Idle() const { return timers_.empty(); }
    std::size_t RunningCount() const { return timers_.size(); }

private:
    struct TTimer {
        std::uint32_t Due;
        std::uint32_t Period;
        bool Periodic;
    };
    std::uint32_t now_;
    std::map<std::uint32_t, TTimer> timers_;
};
