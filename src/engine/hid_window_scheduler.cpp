#include "engine/hid_window_scheduler.h"

#include <algorithm>

#include "framework/kv_report_queue.h"

THidWindowScheduler::~THidWindowScheduler() {
    for (const auto& [id, periodic] : running_)
        KillTimer(window_, id);
}

void THidWindowScheduler::Start(std::uint32_t id, std::uint32_t ms, bool periodic) {
    // Setting a running timer again replaces it: a fresh period.
    SetTimer(window_, id, std::max<std::uint32_t>(ms, 1), nullptr);
    running_[id] = periodic;
}

void THidWindowScheduler::Stop(std::uint32_t id) {
    if (running_.erase(id) != 0)
        KillTimer(window_, id);
}

std::uint32_t THidWindowScheduler::Now() const {
    return kvReportClockMs();
}

void THidWindowScheduler::Tick(std::uint32_t id) {
    const auto timer = running_.find(id);
    if (timer == running_.end())
        return;
    if (!timer->second)
        Stop(id);
    if (OnTimer)
        OnTimer(id);
}
