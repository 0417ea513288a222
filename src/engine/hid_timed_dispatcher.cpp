#include "engine/hid_timed_dispatcher.h"

#include <iterator>

namespace {

// A burst of announcements (one device brings several interfaces and nodes) is handled once,
// this long after the first of them.
constexpr std::uint32_t kRefreshDelayMs = 100;
// A device just announced often refuses to open for a moment: it is tried again after these.
constexpr std::uint32_t kRetryDelaysMs[] = {250, 500, 1000, 2000, 4000};

// How long until the silence after `last` has lasted kBurstSilenceMs, at `now`.
std::uint32_t SilenceLeft(std::uint32_t last, std::uint32_t now) {
    const std::uint32_t passed = now - last;
    return passed >= kBurstSilenceMs ? 0 : kBurstSilenceMs - passed;
}

} // namespace

THidTimedDispatcher::THidTimedDispatcher(THidProcessor& engine, THidScheduler& scheduler)
    : engine_(engine), scheduler_(scheduler) {}

void THidTimedDispatcher::OpenDevices() {
    serving_ = true;
    refreshRetries_ = 0;
    RefreshDevices();
}

void THidTimedDispatcher::CloseDevices() {
    serving_ = false;
    refreshDue_.reset();
    scheduler_.Stop(kRefreshTimer);
    scheduler_.Stop(kRepeatTimer);
    ClosePorts();
}

void THidTimedDispatcher::SetRepeatTimer(std::optional<std::uint32_t> dueInMs) {
    // Periodic, so that a tick whose command failed is followed by another one.
    if (dueInMs)
        scheduler_.Start(kRepeatTimer, *dueInMs, true);
    else
        scheduler_.Stop(kRepeatTimer);
}

void THidTimedDispatcher::ReceiveReport(std::uint32_t serial, const std::uint8_t* bytes,
                                        std::size_t count, std::uint32_t time) {
    THidDeviceBurst* burst = FindBurst(serial);
    if (burst == nullptr)
        return;
    // When the UI thread was too busy to see the open burst's silence pass, that burst ended
    // before this report arrived.
    if (burst->Open && SilenceLeft(burst->LastReportTime, time) == 0) {
        BurstComplete(serial);
        burst = FindBurst(serial); // the command may have closed it
        if (burst == nullptr)
            return;
    }
    // The device reads again: a later failure of its reads starts the retry delays afresh.
    refreshRetries_ = 0;
    const bool opens = !burst->Open;
    if (opens)
        burst->Burst.Start();
    burst->Burst.Add(bytes, count);
    burst->LastReportTime = time;
    if (engine_.CompletesAtOnce(burst->Burst, burst->Device)) {
        BurstComplete(serial);
    } else if (opens) {
        // Armed once per burst; its tick arms it again for what remains of the silence after
        // the last report, so that a report costs no timer call.
        burst->Open = true;
        scheduler_.Start(BurstTimer(serial), SilenceLeft(time, Now()));
    }
}

void THidTimedDispatcher::BurstTimerTick(std::uint32_t serial) {
    // Reports read before the silence ended but not yet taken still belong to this burst.
    TakeReports(serial);
    THidDeviceBurst* burst = FindBurst(serial);
    if (burst == nullptr || !burst->Open)
        return;
    const std::uint32_t left = SilenceLeft(burst->LastReportTime, Now());
    if (left > 0)
        scheduler_.Start(BurstTimer(serial), left);
    else
        BurstComplete(serial);
}

THidDeviceBurst* THidTimedDispatcher::StopBurst(std::uint32_t serial) {
    THidDeviceBurst* burst = FindBurst(serial);
    if (burst != nullptr) {
        burst->Open = false;
        scheduler_.Stop(BurstTimer(serial));
    }
    return burst;
}

void THidTimedDispatcher::BurstComplete(std::uint32_t serial) {
    // The device may be gone once the command has run.
    if (THidDeviceBurst* burst = StopBurst(serial))
        engine_.CompleteBurst(burst->Burst, burst->Device);
}

void THidTimedDispatcher::DeviceGone(std::uint32_t serial) {
    THidDeviceBurst* burst = StopBurst(serial);
    if (burst == nullptr)
        return;
    engine_.ReleaseDevice(burst->Device);
    // A removal is announced too, which brings the refresh forward. A port can also fail on a
    // device that stays listed: the refresh drops it and opens the device again, and one that
    // fails every read is tried again only after the retry delays, not without end.
    if (!refreshDue_)
        ScheduleRetry();
}

void THidTimedDispatcher::DeviceChangeNoticed() {
    refreshRetries_ = 0;
    // A refresh already due soon covers this one too; a retry further off is brought forward.
    if (!serving_ || (refreshDue_ && *refreshDue_ <= kRefreshDelayMs))
        return;
    ArmRefresh(kRefreshDelayMs);
}

void THidTimedDispatcher::ScheduleRetry() {
    if (refreshRetries_ >= std::size(kRetryDelaysMs))
        return;
    ArmRefresh(kRetryDelaysMs[refreshRetries_++]);
}

void THidTimedDispatcher::ArmRefresh(std::uint32_t delayMs) {
    refreshDue_ = delayMs;
    scheduler_.Start(kRefreshTimer, delayMs);
}

void THidTimedDispatcher::TimerTick(std::uint32_t id) {
    if (id == kRepeatTimer) {
        engine_.RepeatTick();
    } else if (id == kRefreshTimer) {
        refreshDue_.reset();
        RefreshDevices();
    } else if (id >= kFirstBurstTimer) {
        BurstTimerTick(id - kFirstBurstTimer);
    }
}
